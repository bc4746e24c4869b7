// The election's record: what administrators did and their log-ins, each entry chained to
// the one before; never a vote nor a voter's log-in.

#include "TestSupport.h"

#include "screens/frmAddPos.h"
#include "screens/frmAdminLogIn.h"
#include "screens/frmAdminStart.h"
#include "screens/frmMain.h"
#include "screens/frmMainAdmin.h"
#include "screens/frmVoter.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>

class EventLogTest : public ScreenTest {
    Q_OBJECT

    Run tool(const QStringList &args) const { return admin(args + db->toolArguments()); }
    // The record as the tool prints it, without the entries' times.
    QStringList record(const QStringList &options = {}) const
    {
        QStringList lines;
        static const QRegularExpression entry(QStringLiteral("^ *\\d+  \\S+Z  (.*)$"));
        for (const QString &line : tool(QStringList{"log"} + options).out.split('\n', Qt::SkipEmptyParts))
            lines << entry.match(line).captured(1);
        return lines;
    }
    // The report written to name.pdf in the folder, as pdftotext -layout reads it; empty if none.
    QString report(const QString &name) const
    {
        const QString pdf = db->folder() + "/" + name + ".pdf";
        return tool({"report", "--out", pdf}).exitCode ? QString() : runProgram("pdftotext", {"-layout", pdf, "-"}).out;
    }
    // The source's first row edited (or deleted and added again) through the program's store.
    void change(const QString &source, const QList<QPair<QString, QVariant>> &fields, bool again = false) const
    {
        store::RecordCursor row("dcTest", source, nullptr);
        row.setDatabaseName(db->target());
        row.Refresh();
        again ? (row.Delete(), row.AddNew()) : row.Edit();
        for (const auto &[name, value] : fields)
            row.SetField(name, value);
        row.Update();
    }
    // A voter logs in and votes for a candidate of the first position.
    void vote(const QString &user, const QString &password, int candidate)
    {
        logIn<frmVoterLogIn>(Shell::Show<frmMain>().lblLogUser, user, password);
        QCOMPARE(shownBoxes(),
                 QStringList{box(Msg::Icon::Exclamation, "Pollaris", "Warning! Users can only login once")});
        frmVoter &ballot = Shell::Get<frmVoter>();
        ballot.cmbbxPosition->setCurrentIndex(0);
        ballot.lstCandidate->setCurrentRow(candidate);
        QCOMPARE(press(ballot.cmdVote), QStringList());
    }

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init()
    {
        FETCH_ENGINE(engine);
        db = std::make_unique<ElectionFolder>(engine);
        startProgramOn(*db);
        store::Connection::setLogStation("Hall A");
        db->exec("INSERT INTO Positions VALUES ('P1','President');"
                 "INSERT INTO CandInfo VALUES ('C1','Ann','S1','P1'),('C2','Bo','S2','P1');"
                 "INSERT INTO CandVote VALUES ('C1',0),('C2',0);"
                 "INSERT INTO Users VALUES ('Vee','v1','pw1',false),('Wu','v2','pw2',false)");
    }

    void theRecordHoldsWhatAdministratorsDidAndNothingOfTheVoters()
    {
        QVERIFY(report("zero").contains("Zero report"));
        // An administrator mistypes twice, logs in, adds a position; a voter's password is changed.
        logIn<frmAdminLogIn>(Shell::Show<frmMain>().lblLogAdmin, "admin", "wrong");
        QCOMPARE(shownBoxes(), critical("Incorrect Password!", "Error!"));
        frmAdminLogIn &login = Shell::Get<frmAdminLogIn>();
        QCOMPARE(press(login.cmdOK), critical("Incorrect Password!", "Error!"));
        type(login.txtPassword, "secret");
        QCOMPARE(press(login.cmdOK), QStringList());
        click(Shell::Get<frmAdminStart>().cmdCandPos);
        click(Shell::Get<frmMainAdmin>().cmdAddPos);
        frmAddPos &pos = Shell::Get<frmAddPos>();
        type(pos.txtPosName, "Treasurer");
        type(pos.txtPosID, "P9");
        QCOMPARE(press(pos.cmdOK), QStringList());
        change("Select * from Users where Username ='v2'", {{"Password", "n3w-secret"}});
        // A voter logs in and votes: nothing of it is recorded.
        Shell::reset();
        startProgramOn(*db);
        vote("v1", "pw1", 1);
        QCOMPARE(db->rows("SELECT NumVotes FROM CandVote ORDER BY rowid"), (QStringList{"0", "1"}));

        const QString admin = record().value(0).section("  ", 0, 0);
        QVERIFY2(admin.endsWith(" (pollaris-admin)"), qPrintable(admin));
        QCOMPARE(record(),
                 (QStringList{admin + "  zero report written to zero.pdf", "Hall A  administrator log-in failed",
                              "Hall A  administrator log-in failed", "Hall A  administrator admin logged in",
                              "Hall A  Positions P9 added (PosName, PosID)", "Hall A  Users v2 changed (Password)"}));
        // Which fields changed, never a value they hold: no password, nothing typed in a log-in.
        const QString all = db->rows("SELECT * FROM pollaris_log").join('\n');
        for (const char *never : {"n3w-secret", "wrong", "pw1", "v1 ", "CandVote", "C2"})
            QVERIFY2(!all.contains(never), never);
        Run verify = tool({"log", "--verify"});
        QVERIFY2(verify.exitCode == 0 && verify.out.contains("holds 6 entries"), qPrintable(verify.out + verify.err));

        // The results report: each position's blank ballots, and every change since the zero report.
        const QString text = report("results").simplified();
        for (const char *shown :
             {"Logged in, no vote here 0", "After the zero report", "Hall A administrator log-in failed",
              "Hall A Positions P9 added (PosName, PosID)", "Hall A Users v2 changed (Password)",
              "Failed log-ins in all: 2 administrator, 0 voter"})
            QVERIFY2(text.contains(QString::fromUtf8(shown)), shown);
        QVERIFY(!text.contains("logged in (") && !text.contains("administrator admin logged in"));

        // The chain tells which entry was changed or taken out.
        db->exec("UPDATE pollaris_log SET what = 'Positions P8 added (PosName, PosID)' WHERE seq = 5");
        verify = tool({"log", "--verify"});
        QVERIFY2(verify.exitCode == 1 && verify.err.contains("entry 5 ") && !verify.err.contains("entry 4 ") &&
                     !verify.err.contains("entry 6 "),
                 qPrintable(verify.err));
        db->exec("UPDATE pollaris_log SET what = 'Positions P9 added (PosName, PosID)' WHERE seq = 5");
        QCOMPARE(tool({"log", "--verify"}).exitCode, 0);
        db->exec("DELETE FROM pollaris_log WHERE seq = 3");
        verify = tool({"log", "--verify"});
        QVERIFY2(verify.exitCode == 1 && verify.err.contains("entries 3 to 3 are missing"), qPrintable(verify.err));

        // From a moment on: all of today's, none of a day to come.
        QCOMPARE(record({"--since", "2000-01-01"}).size(), 6);
        QCOMPARE(record({"--since", "2999-01-01"}), QStringList());
    }

    // A day: ballot and register imported, slips, the zero report, voting with a candidate edited
    // and an account deleted and added again meanwhile, and the final report naming those changes.
    void aDayOfTheElectionIsOnItsRecordAndItsReport()
    {
        db->exec("DELETE FROM CandVote; DELETE FROM CandInfo; DELETE FROM Positions; DELETE FROM Users");
        const auto write = [&](const QString &name, const QByteArray &text) {
            QFile f(db->folder() + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
        };
        write("ballot.csv",
              "Position Code,Position Name,Candidate Code,Candidate Name,Student ID\n"
              "PRES,President,C1,Ann Lee,S1\nPRES,President,C2,Bo Chan,S2\nSEC,Secretary,C3,Cy Diaz,S3\n");
        write("voters.csv", "Name,Student ID\nDee Ong,2026001\nEd Yu,2026002\nFe Ruiz,2026003\n");
        QCOMPARE(tool({"import-ballot", db->folder() + "/ballot.csv"}).exitCode, 0);
        QCOMPARE(tool({"import-voters", "--passwords", "generate", db->folder() + "/voters.csv"}).exitCode, 0);
        const QString slips = db->folder() + "/slips.pdf";
        QCOMPARE(tool({"slips", "--out", slips}).exitCode, 0);
        const QString printed = runProgram("pdftotext", {slips, "-"}).out;
        for (const QString &account : db->rows("SELECT Username, Password FROM Users"))
            QVERIFY2(printed.count(account.section('|', 0, 0)) == 1 && printed.count(account.section('|', 1)) == 1,
                     qPrintable(account));
        QVERIFY(report("zero").contains("Zero report"));

        // One voter votes for President only; meanwhile, at Hall A, a name is corrected and an
        // account deleted and added again.
        vote("2026001", db->value("SELECT Password FROM Users WHERE Username = '2026001'").toString(), 0);
        change("Select * from CandInfo where CandID ='C2'", {{"CandName", "Bo Chan-Wu"}});
        change("Select * from Users where Username ='2026003'",
               {{"Name", "Fe Ruiz"}, {"Username", "2026003"}, {"Password", "again-1"}, {"HasVoted", false}}, true);

        QStringList read;
        for (const QString &line : report("final").split('\n'))
            read << line.simplified();
        QVERIFY(read.contains("Accounts that have logged in to vote 1 33.3%"));
        // The President's voter voted; the Secretary was left blank by that one voter.
        QCOMPARE(read.filter("Logged in, no vote here"),
                 (QStringList{"Logged in, no vote here 0", "Logged in, no vote here 1"}));
        QStringList changes;
        for (qsizetype i = read.indexOf("After the zero report") + 1;
             i > 0 && i < read.size() && !read[i].startsWith("Failed"); ++i)
            if (!read[i].isEmpty())
                changes << read[i].section(' ', 1);
        QCOMPARE(changes, (QStringList{"Hall A CandInfo C2 changed (CandName)", "Hall A Users 2026003 deleted",
                                       "Hall A Users 2026003 added (Name, Username, Password, HasVoted)"}));

        QCOMPARE(tool({"log", "--verify"}).exitCode, 0);
        db->exec("UPDATE pollaris_log SET station = 'Hall Z' WHERE what LIKE 'Users 2026003 deleted%'");
        const Run altered = tool({"log", "--verify"});
        QVERIFY2(altered.exitCode == 1 && altered.err.contains("Users 2026003 deleted"), qPrintable(altered.err));
    }
};

POLLARIS_TEST_MAIN(EventLogTest)
#include "tst_eventlog.moc"
