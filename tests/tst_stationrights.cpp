// What a polling station's account may do on an election server, tried with psql as an
// attacker holding it would, and what the real program reads and sends on the voter's road.

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
#include <QRegularExpression>
#include <QStandardPaths>

static const QString kOnce = box(Msg::Icon::Exclamation, "Pollaris", "Warning! Users can only login once");
static const QString kIncorrectPass = box(Msg::Icon::Critical, "Error!", "Incorrect Password!");
// psql on the PATH, or PostgreSQL 15's own.
static const QString kPsql =
    QStandardPaths::findExecutable("psql", qEnvironmentVariable("PATH").split(':') << "/usr/lib/postgresql/15/bin");

class StationRightsTest : public ScreenTest {
    Q_OBJECT

    // SQL run by psql as the program's account (or another): each statement a transaction, up to a refusal.
    Run psql(const QString &sql, const QString &server = {}) const
    {
        QStringList args{"-X", "-qAt", "-v", "ON_ERROR_STOP=1", "-d", server.isEmpty() ? db->programServer() : server};
        for (const QString &statement : sql.split(';'))
            args << "-c" << statement;
        return runProgram(kPsql, args);
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
        store::Connection::setSentValuesObserver(nullptr);
        ScreenTest::cleanup();
    }

    // The server refuses each act the voter's road does not need; what it needs works once.
    void theStationsRoleCanTakeVotesAndNothingElse()
    {
        if (!db->asStation())
            QSKIP("the stations' role");
        const auto accounts = [this] {
            return db->rows("SELECT * FROM Administrators") +
                   db->rows("SELECT Name, Username, Password FROM Users ORDER BY rowid");
        };
        const QStringList accountsBefore = accounts();
        // The voter's road's calls, for a station's session (a, or a fresh one).
        const QString a = "'00000000-0000-0000-0000-00000000000a'",
                      vote = "SELECT pollaris_add_vote(%1, (SELECT rowid FROM pollaris_tally('%2')))",
                      admit = "pollaris_admit(%1, (SELECT rowid FROM pollaris_account('%2')))";
        QList<QPair<QString, QString>> forbidden{
            {"DROP TABLE CandVote", "must be owner"},
            {"SELECT pollaris_count_failure('votes')", "not a count"},
            {vote.arg("gen_random_uuid()", "C1"), "no voter admitted"},
            // An account that has voted is not admitted again.
            {"SELECT 1/0 WHERE NOT " + admit.arg("gen_random_uuid()", "2026002"), "division by zero"},
            // One admission, one vote in a position: a second one there is refused, whole.
            {"SELECT " + admit.arg(a, "2026001") + ";" + vote.arg(a, "C1") + ";" + vote.arg(a, "c2"),
             "no voter admitted by this session may vote for this position"}};
        for (const char *sql :
             {"SELECT * FROM Administrators", "SELECT Username, Password FROM Users", "SELECT * FROM CandVote",
              "UPDATE CandVote SET NumVotes = NumVotes + 5 WHERE CandID = 'C1'", "UPDATE CandVote SET NumVotes = 100",
              "UPDATE Users SET HasVoted = false", "UPDATE Users SET HasVoted = false WHERE Username = '2026002'",
              "INSERT INTO CandVote VALUES ('C1', 100)", "INSERT INTO CandInfo VALUES ('C9','Mallory','S9','PRES')",
              "DELETE FROM CandInfo",
              "CREATE TRIGGER steal BEFORE UPDATE ON CandVote FOR EACH ROW "
              "EXECUTE FUNCTION suppress_redundant_updates_trigger()",
              "CREATE FUNCTION steal() RETURNS int LANGUAGE sql AS 'SELECT 1'", "CREATE TABLE mine (x int)",
              "SELECT * FROM pollaris_ballots", "SELECT * FROM pollaris_log",
              "UPDATE pollaris_log SET what = 'nothing'", "UPDATE pollaris_units SET id = gen_random_uuid()"})
            forbidden.emplaceBack(sql, "permission denied");
        for (const auto &[sql, refusal] : forbidden) {
            const Run r = psql(sql);
            QVERIFY2(r.exitCode != 0 && r.err.contains(refusal), qPrintable(sql + ": " + r.err + r.out));
        }
        // What went through is exactly the one admission and its one vote.
        QCOMPARE(tallies(), (QStringList{"C1|1", "C2|0", "C3|0"}));
        QCOMPARE(db->rows("SELECT Username, HasVoted FROM Users ORDER BY rowid"),
                 (QStringList{"2026001|1", "2026002|1", "2026003|0"}));
        QCOMPARE(db->value("SELECT count(*) FROM pg_trigger WHERE NOT tgisinternal").toInt(), 0);
        QCOMPARE(accounts(), accountsBefore);

        // The other position of the same admission still takes its vote, once.
        QCOMPARE(psql(vote.arg(a, "C3")).exitCode, 0);
        QCOMPARE(tallies(), (QStringList{"C1|1", "C2|0", "C3|1"}));
        // The election's record it may add to, and only that.
        QCOMPARE(psql("SELECT pollaris_log_append('Hall B', 'station started')").exitCode, 0);
        QCOMPARE(db->rows("SELECT seq, station, what FROM pollaris_log"), QStringList{"1|Hall B|station started"});
        // To a station every tally reads 0.
        QCOMPARE(psql("SELECT numvotes FROM pollaris_tally('C1')").out, "0\n");
    }

    // The real voter's road reads no account before a log-in, no tally, no administrator, and
    // sends no password as a value (which a server logging statements would keep).
    void theVotersRoadReadsOnlyWhatItNeedsAndSendsNoPassword()
    {
        QStringList statements, valuesSent;
        store::Connection::setStatementObserver([&](const QString &sql) { statements << sql; });
        store::Connection::setSentValuesObserver([&](const QString &, const QVector<QVariant> &values) {
            for (const QVariant &v : values)
                valuesSent << v.toString();
        });
        const auto reads = [&](const QString &table) {
            return statements.filter(
                QRegularExpression(QStringLiteral("FROM \"%1\"(?! WHERE)|FROM %1\\b(?! WHERE)").arg(table),
                                   QRegularExpression::CaseInsensitiveOption));
        };
        click(Shell::Show<frmMain>().lblLogUser);
        QVERIFY2(statements.filter("Users", Qt::CaseInsensitive).isEmpty(), qPrintable(statements.join('\n')));
        logIn<frmVoterLogIn>(Shell::Get<frmMain>().lblLogUser, "2026003", "wrong");
        QCOMPARE(shownBoxes(), QStringList{kIncorrectPass});
        frmVoterLogIn &login = Shell::Get<frmVoterLogIn>();
        type(login.txtPassword, "vote3");
        QCOMPARE(press(login.cmdOK), QStringList{kOnce});
        frmVoter &v = Shell::Get<frmVoter>();
        QVERIFY(statements.filter("CandVote", Qt::CaseInsensitive).isEmpty());
        v.cmbbxPosition->setCurrentIndex(0);
        v.lstCandidate->setCurrentRow(1);
        QCOMPARE(press(v.cmdVote), QStringList());
        QCOMPARE(press(v.cmdDone),
                 QStringList{box(Msg::Icon::Information, "Your vote has been added", "Thank you for voting!")});
        QCOMPARE(tallies(), (QStringList{"C1|0", "C2|1", "C3|0"}));

        QVERIFY2(reads("Users").isEmpty() && reads("CandVote").isEmpty() &&
                     statements.filter("Administrators", Qt::CaseInsensitive).isEmpty(),
                 qPrintable(statements.join('\n')));
        QVERIFY2(!valuesSent.isEmpty() && !valuesSent.contains("vote3") && !valuesSent.contains("wrong"),
                 qPrintable(valuesSent.join(',')));
        // The failed log-in is counted in the election, and the tool shows the count.
        const Run status = admin(QStringList{"status"} + db->toolArguments());
        QVERIFY2(status.exitCode == 0 && status.out.contains("Failed log-ins:       0 administrator, 1 voter"),
                 qPrintable(status.out + status.err));
    }

    // A station refuses the administrator's log-in, naming where administration is done, and
    // goes on taking votes; with the administrators' role it opens, a wrong password counted.
    void administrationIsDoneElsewhereThanAtAStation()
    {
        if (!db->asStation()) {
            logIn<frmAdminLogIn>(Shell::Show<frmMain>().lblLogAdmin, "admin", "Secret");
            QCOMPARE(shownBoxes(), QStringList{kIncorrectPass});
            QCOMPARE(db->rows("SELECT what, count FROM pollaris_counts"),
                     QStringList{"administrator log-ins failed|1"});
            type(Shell::Get<frmAdminLogIn>().txtPassword, "secret");
            QCOMPARE(press(Shell::Get<frmAdminLogIn>().cmdOK), QStringList());
            QVERIFY(Shell::Get<frmAdminStart>().isVisible());
            return;
        }
        logIn<frmAdminLogIn>(Shell::Show<frmMain>().lblLogAdmin, "admin", "secret");
        const QStringList said = shownBoxes();
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

    // As the README sets a server up: an owner that may only make roles makes the stations' role;
    // one that could do more (the owner itself, a superuser) is refused.
    void anOwnerThatIsNoSuperuserMakesTheStationsRole()
    {
        if (db->asStation())
            QSKIP("made by the administrators' role");
        const QString tag = db->value("SELECT current_database()").toString(); // unique to this test
        const QString owner = tag + "_admin", station = tag + "_station", election = tag + "_election";
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
        const QString asStation = withOptions(asOwner, {{"user", station}});
        const Run ballot = psql("SELECT count(*) FROM Positions", asStation),
                  users = psql("SELECT * FROM Users", asStation);
        const Run status = admin({"status", "--server", asOwner});
        for (const QString &sql :
             {QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(election),
              QStringLiteral("DROP ROLE IF EXISTS %1").arg(station), QStringLiteral("DROP ROLE %1").arg(owner)})
            db->exec(sql);
        QVERIFY2(made.exitCode == 0, qPrintable(made.err));
        QCOMPARE(ballot.out, "3\n");
        QVERIFY2(users.exitCode != 0 && users.err.contains("permission denied for table users"), qPrintable(users.err));
        QVERIFY2(status.exitCode == 0 && status.out.contains("Accounts registered:  5"), qPrintable(status.err));
    }
};

POLLARIS_TEST_MAIN(StationRightsTest)
#include "tst_stationrights.moc"
