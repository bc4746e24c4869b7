// Polling stations at the same moment: copies of the real program (the scripted
// user, each a process of its own) on one election, on the file and on a server.
// The stations work in pairs, and every account is offered to both stations of
// its pair at the same moment; the one let in votes in every position, while an
// administrator's station adds and deletes candidates. Afterwards no account was
// let in twice, every account let in is marked, every acknowledged vote is
// counted and none invented, and no station was ended by another's write.
//
// Then the same with the faults a school meets, one kind a run:
// - killed: voting stations killed at random (SIGKILL), and on a server the server
//   restarted twice, a third and two thirds of the way through;
// - frozen: a few stations stopped (SIGSTOP) in the middle of a save, holding the
//   election, and let go on (SIGCONT) a while later;
// - silent (server): some stations reach the server through a relay that falls
//   silent for a while in the middle of their saves, then closes their connections;
// - failover (server): the election's server has a synchronous standby, and the
//   stations' connection string names both (target_session_attrs=read-write, TLS);
//   a third of the way through the server's postmaster is killed (SIGKILL), as when
//   its computer dies, and a moment later the standby is promoted. Every vote
//   acknowledged before the kill is on the promoted server, the election's settings
//   and the stations' rights hold there, and every station goes on by itself.
// A station that meets a fault goes on by itself: no box but the everyday ones at
// the stations the fault did not touch, and every voter let in gets through the
// whole ballot, except at a station killed outright. A save refused because the
// election stayed busy ("The election is busy ...", an everyday box here) is pressed
// again, as a voter would, and counts only once saved; so is any other refusal that
// saved nothing, though it still counts as a fatal box. Each run prints what it
// counted, and the longest a station the fault did not touch waited for a line of
// its script.
//
// The suite runs it small. scripts/stations runs it large, with the sizes in the
// environment: POLLARIS_STATIONS (voting stations, even), POLLARIS_VOTERS,
// POLLARIS_FAULTS (0 for the calm run alone, 1 for the faults, or the names of runs
// separated by commas), POLLARIS_FREEZE_MS and POLLARIS_SILENCE_MS (how long a
// station stays stopped, the relay silent), POLLARIS_ASSERT_STALL=1 (on a server,
// that longest wait, for a line and until it is saved, is at most 10 s),
// POLLARIS_VOTE_GAP_MS (voters who take that long over each position), POLLARIS_PROMOTE_AFTER_MS (how long after the
// kill the standby is promoted, 3000 ms), POLLARIS_FAILOVER_DURABLE=1 (the failover's two clusters flush every commit
// to disk). The failover starts a primary and its standby of its own (scripts/pg-cluster ... tcp, then standby), and
// removes both at the end, however the run ends. The other server's faults need a cluster the test may
// restart and reach over TCP: scripts/stations names its own in POLLARIS_TEST_SERVER_DIR (scripts/pg-cluster ... tcp),
// with POLLARIS_SERVER_RESTART its restart command; otherwise the test starts one of its own with scripts/pg-cluster
// and removes it at the end (never restarting the suite's shared cluster, which other tests use).

#include "SessionDriver.h"
#include "SilentProxy.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <iterator>
#include <libpq-fe.h>
#include <memory>
#include <signal.h>
#include <utility>

enum class Fault { None, Killed, Frozen, Silent, Failover };
Q_DECLARE_METATYPE(Fault)

static int setting(const char *name, int fallback)
{
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : fallback;
}

// A quantile of durations, in milliseconds.
static double quantile(std::vector<qint64> nanos, double q)
{
    std::sort(nanos.begin(), nanos.end());
    return nanos.empty() ? 0.0 : double(nanos[size_t(q * double(nanos.size() - 1))]) / 1e6;
}

// The refusal of a save that could not get the election in time; nothing of it was saved.
static bool busy(const QString &box)
{
    return box.startsWith(QLatin1String("Critical\t")) && box.section('\t', 2).startsWith("The election is busy");
}
// A refusal after which nothing of the action was saved and the screen is as it was: the
// election busy, another station's write, or the server lost after a question was answered.
static bool nothingSaved(const QString &box)
{
    return busy(box) || (box.startsWith(QLatin1String("Critical\t")) &&
                         (box.contains("so nothing of this was saved") || box.contains("so nothing of it was saved")));
}

// True when the process is stopped (by a signal), as /proc tells.
static bool stopped(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype end = text.lastIndexOf(')'); // the command's name may hold anything
    return end > 0 && text.size() > end + 2 && text[end + 2] == 'T';
}

// A PostgreSQL cluster the test may restart and reach over TCP.
struct FaultCluster {
    QString conninfo, dir, restart, passfile;
    quint16 port = 0;
    QString script; // set when the test started it, and stops it
    QString failure;

    static std::unique_ptr<FaultCluster> get()
    {
        auto c = std::make_unique<FaultCluster>();
        const QString script = QFINDTESTDATA("../scripts/pg-cluster");
        auto quote = [](const QString &s) { return '\'' + QString(s).replace('\'', "'\\''") + '\''; };
        if (qEnvironmentVariableIsSet("POLLARIS_TEST_SERVER_DIR")) {
            c->dir = qEnvironmentVariable("POLLARIS_TEST_SERVER_DIR");
            c->conninfo = testServer();
        } else if (script.isEmpty()) {
            c->failure = "scripts/pg-cluster not found";
            return c;
        } else {
            c->dir = QDir::tempPath() + QStringLiteral("/pollaris-stations-%1-%2")
                                            .arg(QCoreApplication::applicationPid())
                                            .arg(QRandomGenerator::global()->bounded(1000000));
            QProcess start;
            start.start(script, {"start", c->dir, "tcp"});
            const bool ok =
                start.waitForFinished(180000) && start.exitStatus() == QProcess::NormalExit && start.exitCode() == 0;
            c->script = script; // stopped with the cluster, whatever became of the start
            if (!ok) {
                c->failure = "scripts/pg-cluster start failed: " + QString::fromUtf8(start.readAllStandardError());
                return c;
            }
            c->conninfo = QString::fromUtf8(start.readAllStandardOutput()).trimmed();
        }
        c->restart = qEnvironmentVariable("POLLARIS_SERVER_RESTART");
        if (c->restart.isEmpty() && !script.isEmpty())
            c->restart = quote(script) + " restart " + quote(c->dir);
        QFile port(c->dir + "/port");
        if (port.open(QIODevice::ReadOnly))
            c->port = quint16(port.readAll().trimmed().toUInt());
        c->passfile = c->dir + "/pgpass";
        if (c->restart.isEmpty())
            c->failure = "no command to restart the server (POLLARIS_SERVER_RESTART)";
        return c;
    }
    ~FaultCluster()
    {
        if (!script.isEmpty())
            QProcess::execute(script, {"stop", dir});
    }
};

// Points the tests' server at another cluster while it lives.
struct ServerSwap {
    explicit ServerSwap(const QString &conninfo) : saved(qgetenv("POLLARIS_TEST_SERVER"))
    {
        if (!conninfo.isEmpty())
            qputenv("POLLARIS_TEST_SERVER", conninfo.toUtf8());
    }
    ~ServerSwap() { qputenv("POLLARIS_TEST_SERVER", saved); }
    QByteArray saved;
};

// One value, or the server's refusal, of a session of its own through a connection string.
static QString askServer(const QString &conninfo, const char *sql)
{
    const std::unique_ptr<PGconn, void (*)(PGconn *)> conn(PQconnectdb(conninfo.toUtf8().constData()), PQfinish);
    if (PQstatus(conn.get()) != CONNECTION_OK)
        return "no connection: " + QString::fromUtf8(PQerrorMessage(conn.get())).trimmed();
    const std::unique_ptr<PGresult, void (*)(PGresult *)> r(PQexec(conn.get(), sql), PQclear);
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK)
        return "refused: " + QString::fromLatin1(PQresultErrorField(r.get(), PG_DIAG_SQLSTATE));
    return PQntuples(r.get()) ? QString::fromUtf8(PQgetvalue(r.get(), 0, 0)) : QString();
}

// The election's server and its synchronous standby, both throw-away clusters of the test's
// own on Unix sockets in folders of their own and on 127.0.0.1 with TLS (scripts/pg-cluster
// start DIR tcp, then standby), stopped and removed with this object however the run ends.
struct FailoverPair {
    QString script, primary, standby; // the clusters' folders
    QString primaryPort, standbyPort;
    QString conninfo; // the administrators': both servers through their sockets
    QString failure;

    explicit FailoverPair(bool durable) : script(QFINDTESTDATA("../scripts/pg-cluster"))
    {
        if (script.isEmpty()) {
            failure = "scripts/pg-cluster not found";
            return;
        }
        const QString base = QDir::tempPath() + QStringLiteral("/pollaris-failover-%1-%2")
                                                    .arg(QCoreApplication::applicationPid())
                                                    .arg(QRandomGenerator::global()->bounded(1000000));
        primary = base + "-a", standby = base + "-b";
        if (!run(QStringList{"start", primary, "tcp"} + (durable ? QStringList{"durable"} : QStringList())) ||
            !run({"standby", primary, standby}))
            return;
        primaryPort = portOf(primary), standbyPort = portOf(standby);
        // The first that answers: the primary while it lives (a standby would refuse
        // the election's writes), the promoted standby afterwards.
        conninfo = QStringLiteral("host=%1,%2 port=%3,%4 user=pollaris dbname=postgres")
                       .arg(primary, standby, primaryPort, standbyPort);
    }
    ~FailoverPair()
    {
        release();
        if (!script.isEmpty())
            for (const QString &dir : {standby, primary})
                QProcess::execute(script, {"stop", dir});
    }
    FailoverPair(const FailoverPair &) = delete;
    FailoverPair &operator=(const FailoverPair &) = delete;

    // Runs scripts/pg-cluster; false, with the failure kept, when it failed.
    bool run(const QStringList &args)
    {
        QProcess p;
        p.start(script, args);
        if (p.waitForFinished(180000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return true;
        failure = "scripts/pg-cluster " + args.join(' ') + " failed: " + QString::fromUtf8(p.readAllStandardError());
        return false;
    }
    static QString portOf(const QString &dir)
    {
        QFile port(dir + "/port");
        return port.open(QIODevice::ReadOnly) ? QString::fromLatin1(port.readAll().trimmed()) : QString();
    }
    // A station's connection string, as the README has it: both servers, the one that takes
    // writes, over TLS with the server verified; the password from the clusters' pgpass.
    QString stations(const QString &database) const
    {
        return QStringLiteral("host=127.0.0.1,127.0.0.1 port=%1,%2 user=pollaris_station dbname=%3 "
                              "sslmode=verify-full sslrootcert=%4/root.crt target_session_attrs=read-write")
            .arg(primaryPort, standbyPort, database, primary);
    }
    QString passfile() const { return primary + "/pgpass"; }
    // The administrators' connection string of one of the two.
    static QString server(const QString &dir, const QString &port)
    {
        return QStringLiteral("host=%1 port=%2 user=pollaris dbname=postgres").arg(dir, port);
    }
    // The standby falls behind the primary: its WAL receiver is stopped (SIGSTOP), so that
    // the primary's commits wait for it, until release(). False when there was none to stop.
    bool hold()
    {
        held = askServer(server(standby, standbyPort), "SELECT pid FROM pg_stat_wal_receiver").toLongLong();
        return held > 0 && ::kill(pid_t(held), SIGSTOP) == 0;
    }
    void release()
    {
        if (held > 0)
            ::kill(pid_t(std::exchange(held, 0)), SIGCONT);
    }
    qint64 held = 0;
    // A primary killed and its standby left as it was (a run that failed on the way) is
    // promoted, so that the election can still be dropped; a promoted one says no.
    void settle() const
    {
        if (!script.isEmpty() && !QFile::exists(primary + "/data/postmaster.pid"))
            QProcess::execute(script, {"promote", standby});
    }
};

// What the election sets on its server for itself and for the stations, as the server's
// catalogs hold them: the database's settings and rights, those of its schema, tables and
// functions, and the stations' role with its password.
static QStringList electionSettings(const ElectionFolder &db)
{
    return db.rows(
        "SELECT 'database setting', array_to_string(s.setconfig, ',') FROM pg_db_role_setting s"
        " JOIN pg_database d ON d.oid = s.setdatabase WHERE d.datname = current_database() AND s.setrole = 0"
        " UNION ALL SELECT 'database rights', datacl::text FROM pg_database WHERE datname = current_database()"
        " UNION ALL SELECT 'schema rights', nspacl::text FROM pg_namespace WHERE oid = current_schema()::regnamespace"
        " UNION ALL SELECT 'table ' || relname, coalesce(relacl::text, '') FROM pg_class"
        " WHERE relnamespace = current_schema()::regnamespace AND relkind = 'r'"
        " UNION ALL SELECT 'function ' || oid::regprocedure::text, coalesce(proacl::text, '') || ' ' || prosecdef::text"
        " FROM pg_proc WHERE pronamespace = current_schema()::regnamespace"
        " UNION ALL SELECT 'role ' || rolname, concat_ws(' ', rolcanlogin, rolsuper, rolcreaterole, rolcreatedb,"
        " rolbypassrls, rolpassword) FROM pg_authid WHERE rolname = 'pollaris_station'"
        " ORDER BY 1, 2");
}

class StationsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<FaultCluster> m_cluster; // made for the first run that needs it

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init() { FETCH_ENGINE(engine); }
    void cleanupTestCase() { m_cluster.reset(); }

    // The suite runs them all; scripts/stations picks with POLLARIS_FAULTS.
    void stationsAtTheSameMomentLoseAndDoubleNothing_data()
    {
        QTest::addColumn<Fault>("fault");
        const QString chosen = qEnvironmentVariable("POLLARIS_FAULTS");
        const std::pair<const char *, Fault> runs[] = {{"calm", Fault::None},
                                                       {"killed", Fault::Killed},
                                                       {"frozen", Fault::Frozen},
                                                       {"silent", Fault::Silent},
                                                       {"failover", Fault::Failover}};
        for (const auto &[name, fault] : runs)
            if (chosen.isEmpty() || chosen == (fault == Fault::None ? "0" : "1") ||
                chosen.split(',').contains(QLatin1String(name)))
                QTest::newRow(name) << fault;
    }
    void stationsAtTheSameMomentLoseAndDoubleNothing()
    {
        QFETCH_GLOBAL(Engine, engine);
        QFETCH(Fault, fault);
        const bool onServer = engine == Engine::Server;
        if (fault == Fault::Silent && !onServer)
            QSKIP("a file has no connection to fall silent");
        if (fault == Fault::Failover && !onServer)
            QSKIP("a file has no server to be taken over by its standby");
        const int pairs = setting("POLLARIS_STATIONS", 4) / 2, voters = setting("POLLARIS_VOTERS", 150);
        const int positions = 3, candidates = 4, stations = 2 * pairs;
        const int freezeMs = setting("POLLARIS_FREEZE_MS", 13000), silenceMs = setting("POLLARIS_SILENCE_MS", 20000);
        const bool restarts = fault == Fault::Killed && onServer;
        if ((restarts || fault == Fault::Silent) && !m_cluster)
            m_cluster = FaultCluster::get();
        if (fault == Fault::Silent && m_cluster->failure.isEmpty() && m_cluster->port == 0)
            m_cluster->failure = m_cluster->dir + " has no TCP port (scripts/pg-cluster start DIR tcp)";
        if ((restarts || fault == Fault::Silent) && !m_cluster->failure.isEmpty()) {
            if (qEnvironmentVariableIsSet("POLLARIS_REQUIRE_SERVER"))
                QFAIL(qPrintable(m_cluster->failure));
            QSKIP(qPrintable(m_cluster->failure));
        }
        // The failover's own primary and standby.
        std::unique_ptr<FailoverPair> pair;
        if (fault == Fault::Failover) {
            pair = std::make_unique<FailoverPair>(qEnvironmentVariableIntValue("POLLARIS_FAILOVER_DURABLE") == 1);
            if (!pair->failure.isEmpty()) {
                if (qEnvironmentVariableIsSet("POLLARIS_REQUIRE_SERVER"))
                    QFAIL(qPrintable(pair->failure));
                QSKIP(qPrintable(pair->failure));
            }
        }
        ServerSwap swap(pair ? pair->conninfo : restarts || fault == Fault::Silent ? m_cluster->conninfo : QString());
        // The voters' stations hold only a polling station's rights; the administrator's
        // station reaches the server as the administrators' role.
        ElectionFolder db(onServer ? Engine::Station : Engine::File);
        // However the run ends, its election is dropped where it is: a standby the run left
        // unpromoted after the kill is promoted on the way out.
        const struct Settle {
            const FailoverPair *pair;
            ~Settle()
            {
                if (pair)
                    pair->settle();
            }
        } settle{pair.get()};
        const QString database = QRegularExpression("(?:^|\\s)dbname=(\\S+)").match(db.server()).captured(1);
        QStringList ballot;
        for (int p = 1; p <= positions; ++p) {
            ballot << QStringLiteral("INSERT INTO Positions VALUES ('P%1','Position %1')").arg(p);
            for (int c = 1; c <= candidates; ++c)
                ballot
                    << QStringLiteral("INSERT INTO CandInfo VALUES ('C%1_%2','Name %1 %2','S%1%2','P%1')").arg(p).arg(c)
                    << QStringLiteral("INSERT INTO CandVote VALUES ('C%1_%2',0)").arg(p).arg(c);
        }
        db.exec(ballot.join(';'));
        addVoters(db, voters);
        QRandomGenerator rng(20261207);
        QStringList settingsBefore;
        if (pair) {
            // The status names the server it reached and its synchronous standby; a role that may not
            // read the standbys' state (no pg_monitor) is told so, and sees it once it may.
            const Run status = ::admin({"status", "--server", db.server()});
            QVERIFY2(
                status.exitCode == 0 &&
                    status.out.contains(QStringLiteral("(reached %1 port %2; synchronous standby: pollaris_standby)")
                                            .arg(pair->primary, pair->primaryPort)) &&
                    !status.err.contains("warning"),
                qPrintable(status.out + status.err));
            db.exec("CREATE ROLE failover_watcher LOGIN; DO $$ BEGIN"
                    " EXECUTE format('GRANT CONNECT ON DATABASE %I TO failover_watcher', current_database());"
                    " EXECUTE format('GRANT USAGE ON SCHEMA %I TO failover_watcher', current_schema());"
                    " EXECUTE format('GRANT ALL ON ALL TABLES IN SCHEMA %I TO failover_watcher', current_schema());"
                    " END $$");
            const QString watcher = withOptions(db.server(), {{"user", "failover_watcher"}});
            const Run unseen = ::admin({"status", "--server", watcher});
            QVERIFY2(unseen.exitCode == 0 &&
                         unseen.out.contains("; synchronous standby: cannot be told, the role failover_watcher may not "
                                             "read the standbys' state (GRANT pg_monitor TO failover_watcher lets it)"),
                     qPrintable(unseen.out + unseen.err));
            db.exec("GRANT pg_monitor TO failover_watcher");
            const Run seen = ::admin({"status", "--server", watcher});
            QVERIFY2(seen.exitCode == 0 && seen.out.contains("; synchronous standby: pollaris_standby)"),
                     qPrintable(seen.out + seen.err));
            settingsBefore = electionSettings(db);
        }

        // Stations 2p and 2p + 1 are pair p; the last is the administrator's. A station sends
        // its lines one at a time, so that a refused save can be pressed again; the calm run
        // sends a voter's lines together, as fast as the stations go.
        const bool together = fault == Fault::None;
        const size_t admin = size_t(stations);
        struct Station {
            std::unique_ptr<DriverRun> run;
            std::deque<QString> todo; // lines still to send
            bool again = false;       // the next line is a refused one pressed again
            int letIn = -1;           // the last log-in: 1 let in, 0 refused, -1 none
            QString voter;            // let in here, ballot not yet done
            bool killed = false;      // this copy ended by the test
            bool touched = false;     // frozen or silenced: the fault's own station
            bool ended = false;       // this copy has ended and been counted
            bool adminIn = false;     // the administrator's log-in sent
            int stopIn = 0;           // the unit of writes it stops in
            qint64 launchedAt = 0, sentAt = 0, firstSentAt = 0, stoppedAt = -1, resumedAt = -1;
            qint64 longest = 0, longestSaved = 0; // this copy's longest wait for a line, and until saved
            qint64 stallFrom = -1;                // the server's kill, until this copy's next action done
        };
        std::vector<Station> all(admin + 1);
        // The faults' stations: a few stopped in a unit of writes picked at random among their
        // first ones; whole pairs through the relay.
        const int frozenStations = fault == Fault::Frozen ? std::min(stations, std::max(2, stations / 6)) : 0;
        const int unitsEach = std::max(8, voters / pairs / 2); // a station makes about 3 to 4 times as many
        for (int k = 0; k < frozenStations; ++k) {
            size_t i;
            do
                i = rng.bounded(quint32(admin));
            while (all[i].stopIn);
            all[i].stopIn = 2 + int(rng.bounded(quint32(unitsEach - 2)));
        }
        const int silentPairs = fault == Fault::Silent ? std::max(1, pairs / 3) : 0;
        std::unique_ptr<SilentProxy> relay;
        QString throughRelay;
        if (silentPairs) {
            relay = std::make_unique<SilentProxy>(m_cluster->port);
            QVERIFY(relay->port() != 0);
            throughRelay = QStringLiteral("host=127.0.0.1 port=%1 user=pollaris_station dbname=%2 sslmode=verify-full "
                                          "sslrootcert=%3")
                               .arg(relay->port())
                               .arg(database, m_cluster->dir + "/root.crt");
        }
        auto relayed = [&](size_t i) { return i < size_t(2 * silentPairs); };

        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
        tick.start(5);
        QElapsedTimer clock;
        clock.start();
        auto launch = [&](size_t i) {
            Station &s = all[i];
            s.run = std::make_unique<DriverRun>(db);
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            if (s.stopIn)
                env.insert("POLLARIS_STOP_IN_UNIT", QString::number(s.stopIn));
            if (relayed(i)) {
                s.run->p.setArguments({"--server", throughRelay});
                env.insert("PGPASSFILE", m_cluster->passfile);
            } else if (pair && i != admin) {
                // The voting stations reach both servers over TLS, as the README sets them up. The
                // administrator's station names both by their sockets, without saying which one
                // takes writes: the program itself takes that one.
                s.run->p.setArguments({"--server", pair->stations(database)});
                env.insert("PGPASSFILE", pair->passfile());
            } else if (i == admin && onServer) {
                s.run->p.setArguments({"--server", db.server()});
            }
            s.run->p.setProcessEnvironment(env);
            QObject::connect(&s.run->p, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
            s.run->launch();
            s.todo.clear();
            s.again = s.killed = s.ended = s.adminIn = false;
            s.touched = s.stopIn || relayed(i);
            s.letIn = -1;
            s.longest = s.longestSaved = 0;
            s.stoppedAt = s.resumedAt = -1;
            s.launchedAt = clock.elapsed();
        };
        for (size_t i = 0; i <= admin; ++i)
            launch(i);
        while (clock.elapsed() < 120000 && !std::all_of(all.begin(), all.end(), [](Station &s) {
                   return s.run->ready() || s.run->p.state() == QProcess::NotRunning;
               }))
            loop.exec();
        for (Station &s : all)
            QVERIFY2(s.run->ready(), "a station did not start");

        int admitted = 0, refused = 0, doubleAdmissions = 0, adminActions = 0, relaunches = 0, kills = 0;
        int cutShort = 0, cutByKill = 0, fatalUntouched = 0, fatalTouched = 0, busyBoxes = 0, conflictBoxes = 0,
            serverLostBoxes = 0, resumedBoxes = 0, waitsUntouched = 0, waitsTouched = 0, busyUntouched = 0;
        qint64 longestUntouched = 0, longestSavedUntouched = 0;
        qint64 longestStall = 0; // from the server's kill to a station's next action done on the server
        int waitsReadOnly = 0;   // waits in which a standby answered, not yet promoted
        int loginsInFlight = 0;  // log-ins under way when their station ended
        QMap<QString, int> admissions, votesAcked, votesInFlight; // account -> times let in; candidate -> votes
        QStringList unexpected;                                   // boxes that should not have been
        std::vector<qint64> voteNanos, handlerNanos; // a vote from its position chosen to its end; Vote alone
        auto take = [&](size_t i) {
            Station &s = all[i];
            return s.run->take([&](const QString &line, bool done, const QStringList &said) {
                bool refusedBusy = false, unsaved = false;
                for (const QString &t : said)
                    if (t.startsWith("box\t")) {
                        const QString shown = t.mid(4);
                        if (everyday(shown))
                            continue;
                        if (busy(shown) && !together) {
                            refusedBusy = true, ++busyBoxes, busyUntouched += !s.touched && !s.killed;
                            continue;
                        }
                        ++(s.touched || s.killed ? fatalTouched : fatalUntouched);
                        conflictBoxes += shown.contains("\tAnother station");
                        serverLostBoxes += shown.contains("\tError 3151");
                        resumedBoxes += shown.contains("\tThe connection to the election server was lost");
                        unsaved |= nothingSaved(shown);
                        if (!s.touched && !s.killed)
                            unexpected << (i == admin ? "administrator, " : "voting station, ") + line + ": " + shown;
                    } else if (t.startsWith("waiting\t")) { // the window that waits for the server
                        ++(s.touched || s.killed ? waitsTouched : waitsUntouched);
                        waitsReadOnly += t.contains("read-only");
                    } else if (t.startsWith("took\t")) {
                        voteNanos.push_back(t.section('\t', 1, 1).toLongLong() * 1000);
                        handlerNanos.push_back(t.section('\t', 2, 2).toLongLong() * 1000);
                    }
                const QStringList f = line.split('\t');
                if (done && !together) {
                    const qint64 now = clock.elapsed();
                    s.longest = std::max(s.longest, now - s.sentAt);
                    if (!refusedBusy && !unsaved)
                        s.longestSaved = std::max(s.longestSaved, now - s.firstSentAt);
                }
                // The first action a station completes on the server after the server's kill (a
                // log-in answered, a vote or a candidate saved) ends its stall.
                if (done && s.stallFrom >= 0 && !refusedBusy && !unsaved &&
                    (f[0] == "login" || f[0] == "vote" || f[0] == "addcand" || f[0] == "delcand"))
                    longestStall = std::max(longestStall, clock.elapsed() - std::exchange(s.stallFrom, -1));
                if (done && (refusedBusy || unsaved) && !together) { // nothing of it was saved: pressed again
                    s.todo.push_front(line);
                    s.again = true;
                    return;
                }
                if (f[0] == "vote") // one under way when its station ended may or may not be written
                    ++(done ? votesAcked : votesInFlight)[f[2]];
                loginsInFlight += f[0] == "login" && !done; // so may a log-in
                if (f[0] == "login" && done) {
                    s.letIn = said.contains("box\t" + kAdmitted) ? 1 : 0;
                    admitted += s.letIn, refused += said.contains("box\t" + kSpent);
                    if (s.letIn) {
                        s.voter = f[1];
                        if (++admissions[f[1]] == 2)
                            ++doubleAdmissions;
                    }
                }
                if (f[0] == "done" && done)
                    s.voter.clear();
                adminActions += i == admin && done;
            });
        };
        // A copy that has ended: its figures go to the totals, and a voter let in there and not
        // through the ballot was cut short.
        int selfEnded = 0; // copies that ended without being killed, before the end of the day
        auto retire = [&](Station &s, bool closed = false) {
            selfEnded += !closed && !s.killed;
            if (!s.touched && !s.killed) {
                longestUntouched = std::max(longestUntouched, s.longest);
                longestSavedUntouched = std::max(longestSavedUntouched, s.longestSaved);
            }
            if (!s.voter.isEmpty())
                ++(s.killed ? cutByKill : cutShort);
            s.voter.clear();
            s.ended = true;
        };
        auto idle = [](Station &s) { return s.run->ready() && s.run->unanswered.empty() && s.todo.empty(); };

        // A pair at rest takes the next account, given to both its stations at once; the one
        // let in votes everywhere and is done, the other goes back to the main menu.
        int offered = 0, resting = 0, adminCount = 0;
        // A kill every 0.5 to 2.5 s at the size of a school; more often in a smaller run.
        const double killScale = std::max(voters, 500) / 2000.0;
        qint64 nextKill = qint64(1000 * killScale);
        // The server restarted at a third and two thirds of the accounts; offering waits for it.
        QProcess restart;
        int serverRestarts = 0, restartFailures = 0;
        const int restartsDue = restarts ? 2 : 0;
        // The failover: at a third of the accounts the standby falls behind for half a second (its
        // WAL receiver stopped), so that the saves of that moment are written on the primary and
        // wait for the standby, unacknowledged; then the primary's postmaster is killed, at whatever
        // the stations are doing, and POLLARIS_PROMOTE_AFTER_MS later (the administrator's time to act)
        // the test promotes the standby. The tallies the promoted server then holds must hold
        // every vote acknowledged before the kill, and each save under way at the kill, whether
        // the standby had received it or not, completes once.
        QProcess promote;
        const int promoteAfterMs = setting("POLLARIS_PROMOTE_AFTER_MS", 3000);
        qint64 holdAt = -1, killAt = -1, promoteAt = -1, promotedAt = -1;
        int failoverFailures = 0, underWayAtKill = 0, unitsOnPrimaryAlone = 0;
        QMap<QString, int> ackedBeforeKill, countedAtPromotion;
        // The relay falls silent twice, at a third and at two thirds of the accounts, each time
        // just after a station's bytes reached the server, so that the server acts on them and
        // the station hears nothing more. The first must catch a station holding the election in
        // a unit of writes (the server holds the unit open, others wait for it): if half a second
        // later no other session waits for one through the relay, the relay closes what it holds
        // and tries again, five times at most. The second falls silent wherever it falls (often
        // after a COMMIT: the unit is saved, its station does not hear so). Failing any bytes
        // within 5 s, a silence begins all the same. Offering waits for the first silence to end.
        struct Silence {
            const char *what;
            bool holding; // must hold the election
            qint64 armedAt = -1, at = -1, until = -1;
            bool caught = false, checked = false;
            int tries = 0, cut = 0, unitsOpen = -1, blocked = -1; // half a second in
        };
        // The sessions through the relay are the server's only ones over TCP.
        const QString unitsThroughRelay =
            "SELECT count(*) " + kSessions + " AND client_addr IS NOT NULL AND xact_start IS NOT NULL";
        const QString blockedByRelay = "SELECT count(*) " + kSessions +
                                       " AND EXISTS (SELECT 1 FROM pg_stat_activity h WHERE h.client_addr IS NOT NULL"
                                       " AND h.pid = ANY (pg_blocking_pids(pg_stat_activity.pid)))";
        Silence silences[] = {{"a unit holding the election", true},
                              {"a station's bytes passed, the reply held", false}};
        size_t silence = relay ? 0 : std::size(silences); // the one under way or next
        int frozen = 0;
        qint64 longestFrozen = 0;
        const qint64 limit = 60000 + 400LL * voters + qint64(frozenStations) * freezeMs + 2 * silenceMs;
        bool ending = false;
        while (clock.elapsed() < limit) {
            loop.exec();
            const qint64 now = clock.elapsed();
            if (fault == Fault::Killed && !ending && now >= nextKill) { // pulling the plug of a random voting station
                nextKill = now + qint64((500 + rng.bounded(2000)) * killScale);
                const size_t i = rng.bounded(quint32(admin));
                if (!all[i].ended && take(i)) {
                    all[i].killed = true;
                    kills += all[i].run->killNow();
                }
            }
            for (size_t i = 0; i <= admin; ++i) {
                Station &s = all[i];
                if (!s.ended && !take(i))
                    retire(s);
                if (s.ended && now - s.launchedAt >= 250) // a station that ended is started again
                    launch(i), ++relaunches;
                if (s.stopIn && s.stoppedAt < 0 && !s.ended && stopped(s.run->p.processId()))
                    s.stoppedAt = now, ++frozen;
                if (s.stoppedAt >= 0 && s.resumedAt < 0 && now - s.stoppedAt >= freezeMs) {
                    ::kill(pid_t(s.run->p.processId()), SIGCONT);
                    s.resumedAt = now;
                    longestFrozen = std::max(longestFrozen, now - s.stoppedAt);
                }
                if (i == admin && s.run->ready() && !s.adminIn)
                    s.todo.push_back("admin\tadmin\tsecret"), s.adminIn = true;
                // The next line, or a voter's lines together.
                if (s.run->ready() && s.run->unanswered.empty() && !s.todo.empty()) {
                    QStringList lines;
                    do
                        lines << s.todo.front(), s.todo.pop_front();
                    while (together && !s.todo.empty());
                    s.run->send(lines);
                    s.sentAt = clock.elapsed();
                    if (!std::exchange(s.again, false))
                        s.firstSentAt = s.sentAt;
                }
            }
            if (restart.state() == QProcess::NotRunning && serverRestarts < restartsDue &&
                offered >= voters * (serverRestarts + 1) / 3) {
                if (serverRestarts > 0)
                    restartFailures += restart.exitStatus() != QProcess::NormalExit || restart.exitCode() != 0;
                restart.start("sh", {"-c", m_cluster->restart});
                ++serverRestarts;
            }
            const bool restartWaits = serverRestarts < restartsDue && offered >= voters * (serverRestarts + 1) / 3;
            if (pair && holdAt < 0 && offered >= voters / 3) {
                failoverFailures += !pair->hold();
                holdAt = now;
            }
            if (holdAt >= 0 && killAt < 0 && now - holdAt >= 500) {
                unitsOnPrimaryAlone = askServer(FailoverPair::server(pair->primary, pair->primaryPort),
                                                "SELECT count(*) FROM pg_stat_activity WHERE wait_event = 'SyncRep'")
                                          .toInt();
                ackedBeforeKill = votesAcked;
                for (const Station &s : all)
                    underWayAtKill += !s.run->unanswered.empty();
                killAt = clock.elapsed();
                failoverFailures += !pair->run({"kill", pair->primary});
                pair->release();
                for (Station &s : all)
                    s.stallFrom = killAt;
            }
            if (killAt >= 0 && promoteAt < 0 && now - killAt >= promoteAfterMs) {
                promote.start(pair->script, {"promote", pair->standby});
                promoteAt = now;
            }
            if (promoteAt >= 0 && promotedAt < 0 && promote.state() == QProcess::NotRunning) {
                promotedAt = clock.elapsed();
                failoverFailures += promote.error() == QProcess::FailedToStart ||
                                    promote.exitStatus() != QProcess::NormalExit || promote.exitCode() != 0;
                for (const QString &row : db.rows("SELECT CandID, NumVotes FROM CandVote"))
                    countedAtPromotion[row.section('|', 0, 0)] += row.section('|', 1).toInt();
            }
            if (silence < std::size(silences)) {
                Silence &q = silences[silence];
                if (q.armedAt < 0 && offered >= voters * int(silence + 1) / 3) {
                    relay->silenceAfterNextFromStation();
                    q.armedAt = now;
                } else if (q.armedAt >= 0 && q.at < 0 && (relay->isSilent() || now - q.armedAt >= 5000)) {
                    q.caught = relay->isSilent();
                    relay->silence();
                    q.at = now;
                } else if (q.at >= 0 && !q.checked && now - q.at >= 500) {
                    q.unitsOpen = db.value(unitsThroughRelay).toInt();
                    q.blocked = db.value(blockedByRelay).toInt();
                    q.checked = true;
                    if (q.holding && q.caught && q.blocked == 0 && ++q.tries < 5) { // again
                        q.cut += relay->restore();
                        q.armedAt = q.at = -1;
                        q.checked = false;
                    }
                } else if (q.checked && now - q.at >= silenceMs) {
                    q.cut += relay->restore();
                    q.until = now;
                    ++silence;
                }
            }
            const bool silenceWaits = silence < std::size(silences) && offered >= voters * int(silence + 2) / 3;
            Station &a0 = all[admin];
            if (!ending && a0.adminIn && idle(a0)) { // the administrator adds a candidate, then deletes it
                const int k = ++adminCount;
                const QString cand = QStringLiteral("X%1").arg((k + 1) / 2);
                a0.todo.push_back(k % 2 ? "addcand\t" + cand + "\tNew " + cand + "\tT" + cand + "\tP1"
                                        : "delcand\tP1\t" + cand);
            }
            resting = 0;
            for (int p = 0; p < pairs; ++p) {
                Station &a = all[size_t(2 * p)], &b = all[size_t(2 * p + 1)];
                if (!idle(a) || !idle(b))
                    continue;
                if (a.letIn >= 0 || b.letIn >= 0) { // both answered the log-in, or one ended meanwhile
                    for (Station *s : {&a, &b}) {
                        for (int q = 1; s->letIn == 1 && q <= positions; ++q)
                            s->todo.push_back(
                                QStringLiteral("vote\tP%1\tC%1_%2").arg(q).arg(rng.bounded(candidates) + 1));
                        if (s->letIn >= 0)
                            s->todo.push_back(s->letIn ? "done" : "cancel");
                        s->letIn = -1;
                    }
                } else if (offered < voters && !restartWaits && !silenceWaits) {
                    const QString login = QStringLiteral("login\tv%1\tpw%1").arg(++offered);
                    a.todo.push_back(login), b.todo.push_back(login);
                } else {
                    ++resting;
                }
            }
            // The end of the day, once every fault has run its course and the administrator is done.
            const bool faultsOver =
                restart.state() == QProcess::NotRunning && serverRestarts == restartsDue &&
                (!pair || promotedAt >= 0) && silence == std::size(silences) &&
                std::all_of(all.begin(), all.end(), [](Station &s) { return s.stoppedAt < 0 || s.resumedAt >= 0; });
            ending = ending || (resting == pairs && faultsOver);
            if (ending && idle(a0))
                break;
        }
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (restartsDue)
            restartFailures += restart.exitStatus() != QProcess::NormalExit || restart.exitCode() != 0;
        QVERIFY2(ending, "the stations did not get through the accounts in time");
        // Every station ends by the main menu's Exit, as a station is closed at the end of the day.
        int exitFailures = 0;
        for (size_t i = 0; i <= admin; ++i) {
            if (all[i].ended) // killed or ended just now, not started again
                continue;
            all[i].run->p.closeWriteChannel();
            exitFailures += all[i].run->finish() != 0;
            take(i);
            retire(all[i], true);
        }

        // What the election holds.
        int counted = 0, acked = 0, inFlight = 0, lost = 0, invented = 0;
        for (const QString &row : db.rows("SELECT CandID, NumVotes FROM CandVote")) {
            const QString cand = row.section('|', 0, 0);
            const int tally = row.section('|', 1).toInt(), ack = votesAcked.value(cand),
                      maybe = votesInFlight.value(cand);
            counted += tally, acked += ack, inFlight += maybe;
            lost += std::max(0, ack - tally), invented += std::max(0, tally - ack - maybe);
        }
        const QStringList marked = db.rows("SELECT Username FROM Users WHERE HasVoted");
        int unmarked = 0, turnedAway = 0;
        for (const QString &account : admissions.keys())
            unmarked += !marked.contains(account);
        // An account marked that no station let in: its voter was told "already voted", or never
        // told, unless the log-in was under way at a station that ended.
        for (const QString &account : marked)
            turnedAway += !admissions.contains(account);
        // The failover: what the promoted server held of the votes acknowledged before the kill,
        // the stations that never saved again, and the election's settings there, as the
        // catalogs hold them and as a station's fresh session meets them.
        int ackedAtKill = 0, lostAtFailover = 0, notResumed = 0;
        QStringList settingsAfter;
        QString stationSees, stationReads, stationServer;
        Run statusAfter;
        if (pair) {
            for (auto it = ackedBeforeKill.cbegin(); it != ackedBeforeKill.cend(); ++it)
                ackedAtKill += it.value(),
                    lostAtFailover += std::max(0, it.value() - countedAtPromotion.value(it.key()));
            for (const Station &s : all)
                notResumed += s.stallFrom >= 0;
            settingsAfter = electionSettings(db);
            const QString asStation = pair->stations(database) + " passfile=" + pair->passfile();
            stationSees = askServer(asStation, "SHOW idle_in_transaction_session_timeout");
            stationReads = askServer(asStation, "SELECT count(*) FROM Users");
            stationServer = askServer(asStation, "SELECT inet_server_port()::text || ' ' || pg_is_in_recovery()::text");
            statusAfter = ::admin({"status", "--server", db.server()});
        }

        const QString where = onServer ? "server" : "file";
        QString run = where;
        if (fault == Fault::Killed)
            run += restarts ? ", stations killed, server restarted twice" : ", stations killed";
        if (fault == Fault::Frozen)
            run += QStringLiteral(", %1 stations frozen %2 s in a save").arg(frozenStations).arg(freezeMs / 1000);
        if (fault == Fault::Silent)
            run += QStringLiteral(", %1 stations silent %2 s twice").arg(2 * silentPairs).arg(silenceMs / 1000);
        if (fault == Fault::Failover)
            run += ", server killed, its synchronous standby promoted";
        qInfo("%s: %d stations (+1 administrator), %d voters, %d races (each account offered to two stations at "
              "once), %d kills, %d server restarts, %d station restarts (%d stations ended by themselves)",
              qPrintable(run), stations, voters, voters, kills, serverRestarts, relaunches, selfEnded);
        if (fault == Fault::Frozen)
            qInfo("stations stopped in a unit of writes %d of %d, each for %.1f s at most", frozen, frozenStations,
                  double(longestFrozen) / 1000);
        for (const Silence &q : silences)
            if (q.until >= 0)
                qInfo("%d stations through a relay silent for %.1f s, from %s%s (%d earlier tries cut short), %d of "
                      "them inside a unit on the server half a second later, %d other sessions waiting for them; %d "
                      "connections closed",
                      2 * silentPairs, double(q.until - q.at) / 1000, q.what,
                      q.caught ? "" : " (no bytes came: at a moment of its own)", q.tries, q.unitsOpen, q.blocked,
                      q.cut);
        if (relay)
            qInfo("%d connections taken by the relay", relay->accepted());
        if (pair) {
            qInfo("the server's postmaster killed at %.1f s, %d of %d stations in the middle of an action, %d saves "
                  "written on the primary alone (waiting for the standby), %d votes acknowledged by then; the standby "
                  "promoted %.1f s after the kill (pg_ctl promote %.1f s of it), answering read-only before in %d "
                  "waits",
                  double(killAt) / 1000, underWayAtKill, stations + 1, unitsOnPrimaryAlone, ackedAtKill,
                  double(promotedAt - killAt) / 1000, double(promotedAt - promoteAt) / 1000, waitsReadOnly);
            qInfo("of the votes acknowledged before the kill %d counted on the promoted server, %d lost; longest stall "
                  "at a station from the kill to its next action done on the server %.1f s, %d stations that did none",
                  ackedAtKill - lostAtFailover, lostAtFailover, double(longestStall) / 1000, notResumed);
        }
        qInfo("let in %d, refused as already voted %d, double admissions %d, let in but not marked %d, marked but let "
              "in nowhere %d (log-ins under way when their station ended %d); let in and cut short by a fault %d (and "
              "%d at stations killed)",
              admitted, refused, doubleAdmissions, unmarked, turnedAway, loginsInFlight, cutShort, cutByKill);
        qInfo("votes acknowledged %d, counted %d, under way when a station ended %d, acknowledged but lost %d, "
              "invented %d",
              acked, counted, inFlight, lost, invented);
        qInfo(
            "fatal boxes %d at stations the fault did not touch, %d at its own (from conflicts %d, server lost %d, "
            "server lost after a question answered %d; those that saved nothing pressed again); \"The election is "
            "busy\" boxes %d (%d at stations the fault did not touch), each pressed again; administrator's actions %d",
            fatalUntouched, fatalTouched, conflictBoxes, serverLostBoxes, resumedBoxes, busyBoxes, busyUntouched,
            adminActions);
        if (onServer && !together)
            qInfo("waits for the election server %d at stations the fault did not touch, %d at its own", waitsUntouched,
                  waitsTouched);
        if (!together)
            qInfo("longest wait at a station the fault did not touch: %.1f s from a line sent to its ok, %.1f s "
                  "until saved",
                  double(longestUntouched) / 1000, double(longestSavedUntouched) / 1000);
        qInfo("%.1f votes/s over %.1f s; a vote (position chosen, candidate clicked, Vote) p50 %.1f ms, p99 %.1f ms; "
              "the Vote button alone p50 %.1f ms, p99 %.1f ms",
              double(voteNanos.size()) / seconds, seconds, quantile(voteNanos, 0.5), quantile(voteNanos, 0.99),
              quantile(handlerNanos, 0.5), quantile(handlerNanos, 0.99));
        if (!together)
            qInfo("| %s | %d | %d | %d / %d | %d / %d | %d | %d (%d) | %.1f / %.1f |", qPrintable(run), admitted,
                  cutShort, acked, counted, lost, invented, fatalUntouched, busyBoxes, busyUntouched,
                  double(longestUntouched) / 1000, double(longestSavedUntouched) / 1000);

        QVERIFY2(unexpected.isEmpty(), qPrintable("boxes that should not have been: " + unexpected.join(" // ")));
        QCOMPARE(QList<int>({doubleAdmissions, unmarked, lost, invented}), QList<int>({0, 0, 0, 0}));
        QCOMPARE(cutShort, 0);
        QVERIFY2(turnedAway <= loginsInFlight, "an account was marked as having voted, and its voter let in nowhere");
        QCOMPARE(selfEnded, 0);
        QCOMPARE(exitFailures, 0);
        QVERIFY(acked > 0 && adminActions > 0);
        switch (fault) {
        case Fault::None: // every account is let in at one station, refused at the other, and votes everywhere
            QVERIFY(refused == voters && acked == voters * positions);
            break;
        case Fault::Killed:
            QVERIFY(kills > 0);
            QCOMPARE(restartFailures, 0);
            break;
        case Fault::Frozen: QCOMPARE(frozen, frozenStations); break;
        case Fault::Failover:
            QCOMPARE(failoverFailures, 0);
            QVERIFY(ackedAtKill > 0);
            QVERIFY(unitsOnPrimaryAlone > 0); // saves the standby had not received when the primary died
            QCOMPARE(lostAtFailover, 0);
            QCOMPARE(notResumed, 0);
            QVERIFY(waitsReadOnly > 0); // the stations met the standby before it was promoted, and waited
            // Whatever new and copy set on the server holds on the promoted one, with no step of its own.
            QCOMPARE(settingsAfter, settingsBefore);
            QVERIFY(settingsAfter.contains("database setting|idle_in_transaction_session_timeout=2s"));
            QCOMPARE(stationSees, QStringLiteral("2s"));
            QCOMPARE(stationReads, QStringLiteral("refused: 42501"));
            QCOMPARE(stationServer, pair->standbyPort + " false");
            // The status names the promoted server, and warns that it has no standby yet.
            QVERIFY2(statusAfter.exitCode == 0 &&
                         statusAfter.out.contains(QStringLiteral("(reached %1 port %2; synchronous standby: none)")
                                                      .arg(pair->standby, pair->standbyPort)) &&
                         statusAfter.err.contains(
                             QStringLiteral("warning: the election server %1 port %2 has no synchronous standby")
                                 .arg(pair->standby, pair->standbyPort)),
                     qPrintable(statusAfter.out + statusAfter.err));
            break;
        case Fault::Silent: {
            QVERIFY(silences[0].cut > 0 && silences[1].cut > 0);
            // What the network carried is TLS from each connection's first bytes (the
            // request for it), and holds no text of the ballot, the register or a statement.
            const std::string heard = relay->heard();
            qInfo("the relay carried %zu bytes of %d connections", heard.size(), relay->accepted());
            QVERIFY(heard.size() > 10000);
            QVERIFY(heard.compare(0, 8, std::string("\0\0\0\x08\x04\xd2\x16\x2f", 8)) == 0);
            for (const char *clear : {"Position 1", "Name 1 1", "Voter 1", "pollaris_", "SELECT ", "Users"})
                QVERIFY2(heard.find(clear) == std::string::npos, clear);
            break;
        }
        }
        // A wait for the election ends in a refusal at 8 s, so the wait until saved tells too.
        if (onServer && fault != Fault::Failover && qEnvironmentVariableIntValue("POLLARIS_ASSERT_STALL") == 1)
            QVERIFY2(longestUntouched <= 10000 && longestSavedUntouched <= 10000,
                     "a station the fault did not touch waited more than 10 s for a line, or to have it saved");
    }
};

POLLARIS_TEST_MAIN(StationsTest)
#include "tst_stations.moc"
