// What a polling station's account may do on an election server, tried with psql as
// an attacker holding that account would, and what the real program reads and sends
// on the voter's road, as the stations' role and as the administrators'.

#include "TestSupport.h"

#include "screens/frmAdminLogIn.h"
#include "screens/frmAdminStart.h"
#include "screens/frmMain.h"
#include "screens/frmVoter.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"
#include "store/Connection.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <memory>

namespace {

const QString kOnce = box(Msg::Icon::Exclamation, "Pollaris", "Warning! Users can only login once");
const QString kThanks = box(Msg::Icon::Information, "Your vote has been added", "Thank you for voting!");
const QString kIncorrectPass = box(Msg::Icon::Critical, "Error!", "Incorrect Password!");

QString psqlProgram()
{
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("psql"));
    return onPath.isEmpty() ? QStringLiteral("/usr/lib/postgresql/15/bin/psql") : onPath;
}

} // namespace

class StationRightsTest : public ScreenTest {
    Q_OBJECT

    // Runs SQL with psql as the program's own account would: one session, each
    // statement a transaction of its own, stopping at the first the server refuses.
    Run psql(const QString &sql) const
    {
        QStringList args{"-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", db->programServer()};
        for (const QString &statement : sql.split(';'))
            args << "-c" << statement;
        return runProgram(psqlProgram(), args);
    }
    QStringList tallies() const { return db->rows("SELECT CandID, NumVotes FROM CandVote ORDER BY rowid"); }

private slots:
    void initTestCase_data()
    {
        QTest::addColumn<Engine>("engine");
        QTest::newRow("server") << Engine::Server;
        QTest::newRow("station") << Engine::Station;
    }
    void init()
    {
        FETCH_ENGINE(engine);
        db = std::make_unique<ElectionFolder>(engine);
        db->exec("INSERT INTO Positions VALUES ('PRES','President'),('VP','Vice President');"
                 "INSERT INTO CandInfo VALUES ('C1','Maria Santos','S1','PRES'),('C2','John Reyes','S2','pres'),"
                 "('C3','Ana Cruz','S3','VP');"
                 "INSERT INTO CandVote VALUES ('C1',0),('C2',0),('C3',0);"
                 "INSERT INTO Users VALUES ('Carla','2026001','vote1',false),('Daniel','2026002','vote2',true),"
                 "('Ella','2026003','vote3',false)");
        startProgramOn(*db);
    }
    void cleanup()
    {
        store::Connection::setStatementObserver(nullptr);
        store::Connection::setSentValuesObserver(nullptr);
        ScreenTest::cleanup();
    }

    // Each act the voter's road does not need is refused by the server itself; what it
    // needs works one account, one admission and one vote a position at a time.
    void theStationsRoleCanTakeVotesAndNothingElse()
    {
        if (!db->asStation())
            QSKIP("the stations' role");
        const auto accounts = [this] {
            return db->rows("SELECT * FROM Administrators") +
                   db->rows("SELECT Name, Username, Password FROM Users ORDER BY rowid");
        };
        const QStringList accountsBefore = accounts();
        const struct {
            const char *act, *sql, *refusal;
        } forbidden[] = {
            {"read the administrators", "SELECT * FROM Administrators", "permission denied"},
            {"read every password", "SELECT Username, Password FROM Users", "permission denied"},
            {"read every tally", "SELECT * FROM CandVote", "permission denied"},
            {"add 5 to a tally", "UPDATE CandVote SET NumVotes = NumVotes + 5 WHERE CandID = 'C1'",
             "permission denied"},
            {"set a vote mark back", "UPDATE Users SET HasVoted = false WHERE Username = '2026002'",
             "permission denied"},
            {"insert a tally", "INSERT INTO CandVote VALUES ('C1', 100)", "permission denied"},
            {"insert a candidate", "INSERT INTO CandInfo VALUES ('C9','Mallory','S9','PRES')", "permission denied"},
            {"delete the ballot", "DELETE FROM CandInfo", "permission denied"},
            {"create a trigger",
             "CREATE TRIGGER steal BEFORE UPDATE ON CandVote FOR EACH ROW "
             "EXECUTE FUNCTION suppress_redundant_updates_trigger()",
             "permission denied"},
            {"create a function", "CREATE FUNCTION steal() RETURNS int LANGUAGE sql AS 'SELECT 1'",
             "permission denied"},
            {"create a table", "CREATE TABLE mine (x int)", "permission denied"},
            {"drop a table", "DROP TABLE CandVote", "must be owner"},
            {"read the open ballots", "SELECT * FROM pollaris_ballots", "permission denied"},
            {"read the election's record", "SELECT * FROM pollaris_log", "permission denied"},
            {"rewrite the election's record", "UPDATE pollaris_log SET what = 'nothing'", "permission denied"},
            {"rewrite the units written", "UPDATE pollaris_units SET id = gen_random_uuid()", "permission denied"},
            {"count what is not counted", "SELECT pollaris_count_failure('votes')", "not a count"},
            {"vote with no admission",
             "SELECT pollaris_add_vote(gen_random_uuid(), (SELECT rowid FROM pollaris_tally('C1')))",
             "no voter admitted"},
            // An account that has voted is not admitted again.
            {"admit a spent account",
             "SELECT 1/0 WHERE NOT pollaris_admit(gen_random_uuid(), (SELECT rowid FROM pollaris_account('2026002')))",
             "division by zero"},
            // One admission, one vote in a position: a second one there is refused, whole.
            {"vote twice in a position",
             "SELECT pollaris_admit('00000000-0000-0000-0000-00000000000a', "
             "(SELECT rowid FROM pollaris_account('2026001')));"
             "SELECT pollaris_add_vote('00000000-0000-0000-0000-00000000000a', "
             "(SELECT rowid FROM pollaris_tally('C1')));"
             "SELECT pollaris_add_vote('00000000-0000-0000-0000-00000000000a', "
             "(SELECT rowid FROM pollaris_tally('c2')))",
             "no voter admitted by this session may vote for this position"},
        };
        for (const auto &f : forbidden) {
            const Run r = psql(QString::fromUtf8(f.sql));
            QVERIFY2(r.exitCode != 0 && r.err.contains(QString::fromUtf8(f.refusal)),
                     qPrintable(QStringLiteral("%1: %2").arg(f.act, r.err + r.out)));
        }
        // What went through is exactly the one admission and its one vote.
        QCOMPARE(tallies(), (QStringList{"C1|1", "C2|0", "C3|0"}));
        QCOMPARE(db->rows("SELECT Username, HasVoted FROM Users ORDER BY rowid"),
                 (QStringList{"2026001|1", "2026002|1", "2026003|0"}));
        QCOMPARE(db->value("SELECT count(*) FROM pg_trigger WHERE NOT tgisinternal").toInt(), 0);
        QCOMPARE(accounts(), accountsBefore);

        // The other position of the same admission still takes its vote, once.
        QVERIFY2(psql("SELECT pollaris_add_vote('00000000-0000-0000-0000-00000000000a', "
                      "(SELECT rowid FROM pollaris_tally('C3')))")
                         .exitCode == 0,
                 "the second position");
        QCOMPARE(tallies(), (QStringList{"C1|1", "C2|0", "C3|1"}));
        // The election's record it may add to, and only that.
        QVERIFY(psql("SELECT pollaris_log_append('Hall B', 'station started')").exitCode == 0);
        QCOMPARE(db->rows("SELECT seq, station, what FROM pollaris_log"), QStringList{"1|Hall B|station started"});
        // To a station every tally reads 0.
        const Run seen = psql("SELECT numvotes FROM pollaris_tally('C1')");
        QVERIFY2(seen.exitCode == 0 && seen.out.contains(" 0\n") && !seen.out.contains(" 1\n"), qPrintable(seen.out));
    }

    // The voter's road of the real program: no account read before a log-in asks for it,
    // no tally read before a vote adds to it, no administrator read at all; and no value
    // sent to the server is a voter's password, as a server that logged statements with
    // their values would keep them.
    void theVotersRoadReadsOnlyWhatItNeedsAndSendsNoPassword()
    {
        QStringList statements;
        QStringList valuesSent;
        store::Connection::setStatementObserver([&](const QString &sql) { statements << sql; });
        store::Connection::setSentValuesObserver([&](const QString &, const QVector<QVariant> &values) {
            for (const QVariant &v : values)
                valuesSent << v.toString();
        });
        click(Shell::Show<frmMain>().lblLogUser);
        const auto reads = [&](const char *table) {
            return statements.filter(QRegularExpression(
                QStringLiteral("FROM \"%1\"(?! WHERE)|FROM %1\\b(?! WHERE)").arg(QString::fromLatin1(table)),
                QRegularExpression::CaseInsensitiveOption));
        };
        QVERIFY2(statements.filter("Users", Qt::CaseInsensitive).isEmpty(), qPrintable(statements.join('\n')));

        logIn<frmVoterLogIn>(Shell::Get<frmMain>().lblLogUser, "2026003", "wrong");
        QCOMPARE(shownBoxes(), QStringList{kIncorrectPass});
        frmVoterLogIn &login = Shell::Get<frmVoterLogIn>();
        type(login.txtUsername, "2026003");
        type(login.txtPassword, "vote3");
        click(login.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{kOnce});
        frmVoter &v = Shell::Get<frmVoter>();
        QVERIFY(statements.filter("CandVote", Qt::CaseInsensitive).isEmpty());
        v.cmbbxPosition->setCurrentIndex(0);
        v.lstCandidate->setCurrentRow(1);
        click(v.cmdVote);
        QCOMPARE(shownBoxes(), QStringList());
        click(v.cmdDone);
        QCOMPARE(shownBoxes(), QStringList{kThanks});
        QCOMPARE(tallies(), (QStringList{"C1|0", "C2|1", "C3|0"}));

        QVERIFY2(reads("Users").isEmpty() && reads("CandVote").isEmpty(), qPrintable(statements.join('\n')));
        QVERIFY2(statements.filter("Administrators", Qt::CaseInsensitive).isEmpty(), qPrintable(statements.join('\n')));
        QVERIFY2(!valuesSent.contains("vote3") && !valuesSent.contains("wrong"), qPrintable(valuesSent.join(',')));
        QVERIFY(!valuesSent.isEmpty());
        // The failed log-in is counted in the election, and the tool shows the count.
        const Run status = admin(QStringList{"status"} + db->toolArguments());
        QVERIFY2(status.exitCode == 0 && status.out.contains("Failed log-ins:       0 administrator, 1 voter"),
                 qPrintable(status.out + status.err));
    }

    // A station started with the stations' role answers the administrator's log-in with a
    // refusal naming where administration is done, and goes on taking votes; with the
    // administrators' role the same log-in opens the administrator's screens.
    void administrationIsDoneElsewhereThanAtAStation()
    {
        if (!db->asStation()) { // a wrong password is counted as an administrator's failed log-in
            logIn<frmAdminLogIn>(Shell::Show<frmMain>().lblLogAdmin, "admin", "Secret");
            QCOMPARE(shownBoxes(), QStringList{kIncorrectPass});
            QCOMPARE(db->rows("SELECT what, count FROM pollaris_counts"),
                     QStringList{"administrator log-ins failed|1"});
            click(Shell::Get<frmAdminLogIn>().cmdCancel);
        }
        logIn<frmAdminLogIn>(Shell::Show<frmMain>().lblLogAdmin, "admin", "secret");
        const QStringList said = shownBoxes();
        if (!db->asStation()) {
            QCOMPARE(said, QStringList());
            QVERIFY(Shell::Get<frmAdminStart>().isVisible());
            return;
        }
        QVERIFY2(said.size() == 1 &&
                     said[0].startsWith(box(Msg::Icon::Critical, "Pollaris", "This computer is a polling station")) &&
                     said[0].contains("pollaris-admin") && said[0].contains("administrator's computer"),
                 qPrintable(said.join('\n')));
        QVERIFY(!Shell::endedWith().has_value());
        QVERIFY(!Shell::Exists(Shell::Slot::frmAdminStart) || !Shell::Get<frmAdminStart>().isVisible());
        // A refusal of the station's rights is no failed log-in.
        QCOMPARE(db->count("pollaris_counts"), 0);
        click(Shell::Get<frmAdminLogIn>().cmdCancel);
        logIn<frmVoterLogIn>(Shell::Get<frmMain>().lblLogUser, "2026001", "vote1");
        QCOMPARE(shownBoxes(), QStringList{kOnce});
        QCOMPARE(db->rows("SELECT HasVoted FROM Users WHERE Username = '2026001'"), QStringList{"1"});
    }

    // As the README sets a server up: the election's owner is a role that may make roles and
    // nothing more; the stations' role it makes may take votes only. A stations' role that
    // could do more (the owner itself, a superuser) is refused, and nothing is made.
    void anOwnerThatIsNoSuperuserMakesTheStationsRole()
    {
        if (db->asStation())
            QSKIP("made by the administrators' role");
        const QString tag = QStringLiteral("%1_%2")
                                .arg(QCoreApplication::applicationPid())
                                .arg(QRandomGenerator::global()->bounded(1000000));
        const QString owner = "school_admin_" + tag, station = "school_station_" + tag, election = "election_" + tag;
        db->exec(QStringLiteral("CREATE ROLE %1 LOGIN CREATEROLE").arg(owner));
        db->exec(QStringLiteral("CREATE DATABASE %1 OWNER %2").arg(election, owner));
        const QString asOwner = withOptions(db->server(), {{"user", owner}, {"dbname", election}});
        const auto tool = [&](const QString &role) {
            return admin(
                {"new", "--admin", "boss", "--password-stdin", "--demo", "--station-role", role, "--server", asOwner},
                "pw\n");
        };
        for (const QString &tooMuch : {owner, QStringLiteral("pollaris")}) {
            const Run r = tool(tooMuch);
            QVERIFY2(refused(r, "would hold more than a station's rights"), qPrintable(r.err));
        }
        const Run made = tool(station);
        QVERIFY2(made.exitCode == 0, qPrintable(made.err));
        const QString asStation = withOptions(asOwner, {{"user", station}});
        const Run ballot =
            runProgram(psqlProgram(), {"-X", "-At", "-d", asStation, "-c", "SELECT count(*) FROM Positions"});
        const Run users = runProgram(psqlProgram(), {"-X", "-d", asStation, "-c", "SELECT * FROM Users"});
        const Run status = admin({"status", "--server", asOwner});
        for (const QString &sql :
             {QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(election),
              QStringLiteral("DROP ROLE IF EXISTS %1").arg(station), QStringLiteral("DROP ROLE %1").arg(owner)})
            db->exec(sql);
        QCOMPARE(ballot.out.trimmed(), QStringLiteral("3"));
        QVERIFY2(users.exitCode != 0 && users.err.contains("permission denied for table users"), qPrintable(users.err));
        QVERIFY2(status.exitCode == 0 && status.out.contains("Accounts registered:  5"), qPrintable(status.err));
    }
};

POLLARIS_TEST_MAIN(StationRightsTest)
#include "tst_stationrights.moc"
