// The election's own record: what administrators did, their log-ins and failed
// log-ins, each entry chained to the one before; never a vote nor a voter's log-in.

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

    // The record as the tool prints it, without the entries' times.
    QStringList record(const QStringList &options = {}) const
    {
        const Run r = admin(QStringList{"log"} + options + db->toolArguments());
        QStringList lines;
        static const QRegularExpression entry(QStringLiteral("^ *\\d+  \\S+Z  (.*)$"));
        for (const QString &line : r.out.split('\n', Qt::SkipEmptyParts))
            lines << entry.match(line).captured(1);
        return lines;
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
        // The zero report, before anything is cast.
        QVERIFY(admin(QStringList{"report", "--out", db->folder() + "/zero.pdf"} + db->toolArguments()).exitCode == 0);
        // An administrator mistypes, logs in, adds a position; a voter's password is changed.
        logIn<frmAdminLogIn>(Shell::Show<frmMain>().lblLogAdmin, "admin", "wrong");
        QCOMPARE(shownBoxes(), critical("Incorrect Password!", "Error!"));
        click(Shell::Get<frmAdminLogIn>().cmdOK); // the same, again
        QCOMPARE(shownBoxes(), critical("Incorrect Password!", "Error!"));
        type(Shell::Get<frmAdminLogIn>().txtPassword, "secret");
        click(Shell::Get<frmAdminLogIn>().cmdOK);
        QCOMPARE(shownBoxes(), QStringList());
        click(Shell::Get<frmAdminStart>().cmdCandPos);
        click(Shell::Get<frmMainAdmin>().cmdAddPos);
        frmAddPos &pos = Shell::Get<frmAddPos>();
        type(pos.txtPosName, "Treasurer");
        type(pos.txtPosID, "P9");
        QCOMPARE(press(pos.cmdOK), QStringList());
        store::RecordCursor account("dcUser", "Select * from Users where Username ='v2'", nullptr);
        account.setDatabaseName(db->target());
        account.Refresh();
        account.Edit();
        account.SetField("Password", "n3w-secret");
        account.Update();

        // A voter logs in and votes: nothing of it is recorded.
        Shell::reset();
        startProgramOn(*db);
        logIn<frmVoterLogIn>(Shell::Show<frmMain>().lblLogUser, "v1", "pw1");
        QCOMPARE(shownBoxes(),
                 QStringList{box(Msg::Icon::Exclamation, "Pollaris", "Warning! Users can only login once")});
        frmVoter &ballot = Shell::Get<frmVoter>();
        ballot.cmbbxPosition->setCurrentIndex(0);
        ballot.lstCandidate->setCurrentRow(1);
        QCOMPARE(press(ballot.cmdVote), QStringList());
        QCOMPARE(db->rows("SELECT NumVotes FROM CandVote ORDER BY rowid"), (QStringList{"0", "1"}));

        const QString tool = record().value(0).section("  ", 0, 0);
        QVERIFY2(tool.endsWith(" (pollaris-admin)"), qPrintable(tool));
        const QStringList expected{
            tool + "  zero report written to zero.pdf",    "Hall A  administrator log-in failed",
            "Hall A  administrator log-in failed",         "Hall A  administrator admin logged in",
            "Hall A  Positions P9 added (PosName, PosID)", "Hall A  Users v2 changed (Password)"};
        QCOMPARE(record(), expected);
        // Which fields changed, never a value they hold: no password, nothing typed in a log-in.
        const QString all = db->rows("SELECT * FROM pollaris_log").join('\n');
        for (const char *never : {"n3w-secret", "wrong", "pw1", "v1 ", "CandVote", "C2"})
            QVERIFY2(!all.contains(never), never);

        // Each entry as it was added and none missing: the chain says so, and tells which
        // entry was changed or taken out.
        Run verify = admin(QStringList{"log", "--verify"} + db->toolArguments());
        QVERIFY2(verify.exitCode == 0 && verify.out.contains("holds 6 entries"), qPrintable(verify.out + verify.err));

        // The results report: each position's voters who left it blank, and every change since
        // the zero report.
        const QString pdf = db->folder() + "/results.pdf";
        QVERIFY(admin(QStringList{"report", "--out", pdf} + db->toolArguments()).exitCode == 0);
        const QString text = runProgram("pdftotext", {"-layout", pdf, "-"}).out.simplified();
        for (const char *shown :
             {"Logged in, no vote here 0", "After the zero report", "Hall A administrator log-in failed",
              "Hall A Positions P9 added (PosName, PosID)", "Hall A Users v2 changed (Password)",
              "Failed log-ins in all: 2 administrator, 0 voter"})
            QVERIFY2(text.contains(QString::fromUtf8(shown)), shown);
        QVERIFY(!text.contains("logged in (") && !text.contains("administrator admin logged in"));
        QCOMPARE(admin(QStringList{"log", "--verify"} + db->toolArguments()).exitCode, 0);
        db->exec("UPDATE pollaris_log SET what = 'Positions P8 added (PosName, PosID)' WHERE seq = 5");
        verify = admin(QStringList{"log", "--verify"} + db->toolArguments());
        QVERIFY2(verify.exitCode == 1 && verify.err.contains("entry 5 ") && !verify.err.contains("entry 4 ") &&
                     !verify.err.contains("entry 6 "),
                 qPrintable(verify.err));
        db->exec("UPDATE pollaris_log SET what = 'Positions P9 added (PosName, PosID)' WHERE seq = 5");
        QCOMPARE(admin(QStringList{"log", "--verify"} + db->toolArguments()).exitCode, 0);
        db->exec("DELETE FROM pollaris_log WHERE seq = 3");
        verify = admin(QStringList{"log", "--verify"} + db->toolArguments());
        QVERIFY2(verify.exitCode == 1 && verify.err.contains("entries 3 to 3 are missing"), qPrintable(verify.err));

        // From a moment on: all of today's, none of a day to come.
        QCOMPARE(record({"--since", "2000-01-01"}).size(), 6);
        QCOMPARE(record({"--since", "2999-01-01"}), QStringList());
    }

    // A day: the ballot and the register imported, slips printed, the zero report, voting
    // with a candidate edited and an account deleted and added again meanwhile, and the
    // final report naming exactly those changes.
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
        QCOMPARE(admin(QStringList{"import-ballot", db->folder() + "/ballot.csv"} + db->toolArguments()).exitCode, 0);
        QCOMPARE(admin(QStringList{"import-voters", "--passwords", "generate", db->folder() + "/voters.csv"} +
                       db->toolArguments())
                     .exitCode,
                 0);
        const QString slips = db->folder() + "/slips.pdf";
        QCOMPARE(admin(QStringList{"slips", "--out", slips} + db->toolArguments()).exitCode, 0);
        const QString printed = runProgram("pdftotext", {slips, "-"}).out;
        for (const QString &account : db->rows("SELECT Username, Password FROM Users")) {
            QCOMPARE(printed.count(account.section('|', 0, 0)), 1);
            QCOMPARE(printed.count(account.section('|', 1)), 1);
        }
        QCOMPARE(admin(QStringList{"report", "--out", db->folder() + "/zero.pdf"} + db->toolArguments()).exitCode, 0);

        // Voting: one voter votes for President only; meanwhile a candidate's name is corrected
        // and an account is deleted and added again, at Hall A.
        const QString pw = db->value("SELECT Password FROM Users WHERE Username = '2026001'").toString();
        logIn<frmVoterLogIn>(Shell::Show<frmMain>().lblLogUser, "2026001", pw);
        QCOMPARE(shownBoxes(),
                 QStringList{box(Msg::Icon::Exclamation, "Pollaris", "Warning! Users can only login once")});
        frmVoter &ballot = Shell::Get<frmVoter>();
        ballot.cmbbxPosition->setCurrentIndex(0);
        ballot.lstCandidate->setCurrentRow(0);
        QCOMPARE(press(ballot.cmdVote), QStringList());
        store::RecordCursor edit("dcCandInfo", "Select * from CandInfo where CandID ='C2'", nullptr);
        edit.setDatabaseName(db->target());
        edit.Refresh();
        edit.Edit();
        edit.SetField("CandName", "Bo Chan-Wu");
        edit.Update();
        store::RecordCursor account("dcUser", "Select * from Users where Username ='2026003'", nullptr);
        account.setDatabaseName(db->target());
        account.Refresh();
        account.Delete();
        account.AddNew();
        account.SetField("Name", "Fe Ruiz");
        account.SetField("Username", "2026003");
        account.SetField("Password", "again-1");
        account.SetField("HasVoted", false);
        account.Update();

        const QString final = db->folder() + "/final.pdf";
        QCOMPARE(admin(QStringList{"report", "--out", final} + db->toolArguments()).exitCode, 0);
        const QStringList lines = runProgram("pdftotext", {"-layout", final, "-"}).out.split('\n');
        QStringList read;
        for (const QString &line : lines)
            read << line.simplified();
        QVERIFY(read.contains("Accounts that have logged in to vote 1 33.3%"));
        // The President's voter voted; the Secretary was left blank by that one voter.
        QCOMPARE(read.filter("Logged in, no vote here"),
                 (QStringList{"Logged in, no vote here 0", "Logged in, no vote here 1"}));
        const qsizetype after = read.indexOf("After the zero report");
        QVERIFY(after > 0);
        QStringList changes;
        for (qsizetype i = after + 1; i < read.size() && !read[i].startsWith("Failed log-ins"); ++i)
            if (!read[i].isEmpty())
                changes << read[i].section(' ', 1);
        QCOMPARE(changes, (QStringList{"Hall A CandInfo C2 changed (CandName)", "Hall A Users 2026003 deleted",
                                       "Hall A Users 2026003 added (Name, Username, Password, HasVoted)"}));

        QCOMPARE(admin(QStringList{"log", "--verify"} + db->toolArguments()).exitCode, 0);
        db->exec("UPDATE pollaris_log SET station = 'Hall Z' WHERE what LIKE 'Users 2026003 deleted%'");
        const Run altered = admin(QStringList{"log", "--verify"} + db->toolArguments());
        QVERIFY2(altered.exitCode == 1 && altered.err.contains("Users 2026003 deleted"), qPrintable(altered.err));
    }
};

POLLARIS_TEST_MAIN(EventLogTest)
#include "tst_eventlog.moc"
