// Polling stations at the same moment: copies of the real program (the scripted user) on one
// election, on the file and on a server, in pairs: each account is offered to both stations of a
// pair at once, the one let in votes in every position, and an administrator's station adds and
// deletes candidates. Then the same with one kind of fault a run: killed (stations SIGKILLed at
// random, and a server restarted twice), frozen (stations SIGSTOPped in a save, then let go on),
// silent (stations whose relay to the server falls silent in a save, then cuts them) and failover
// (the server's postmaster killed, its synchronous standby promoted). No account is let in twice,
// every account let in is marked, every acknowledged vote is counted and none invented, no station
// is ended by another's write, and the stations a fault did not touch see only everyday boxes.
// scripts/stations runs it large through POLLARIS_STATIONS, POLLARIS_VOTERS, POLLARIS_FAULTS (0,
// 1 or run names), POLLARIS_FREEZE_MS, POLLARIS_SILENCE_MS, POLLARIS_PROMOTE_AFTER_MS,
// POLLARIS_FAILOVER_DURABLE, POLLARIS_ASSERT_STALL (at most 10 s waited on a server) and a cluster
// to restart (POLLARIS_TEST_SERVER_DIR, POLLARIS_SERVER_RESTART); else the test makes its own.

#include "SessionDriver.h"
#include "SilentProxy.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QScopeGuard>
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
// A refusal after which nothing was saved and the screen is as it was: the election busy, another
// station's write, or the server lost after a question was answered.
static bool nothingSaved(const QString &box)
{
    return busy(box) || (box.startsWith(QLatin1String("Critical\t")) &&
                         (box.contains("so nothing of this was saved") || box.contains("so nothing of it was saved")));
}

// True when the process is stopped (by a signal), as /proc tells.
static bool stopped(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    const qsizetype end = text.lastIndexOf(')'); // the command's name may hold anything
    return end > 0 && text.size() > end + 2 && text[end + 2] == 'T';
}

// Throw-away clusters of the test's own on Unix sockets and on 127.0.0.1 with TLS (scripts/pg-cluster
// start DIR tcp): a server, and with a standby its synchronous standby (scripts/pg-cluster standby),
// stopped and removed with this object however the run ends.
struct Clusters {
    QStringList dirs, ports; // the server's first
    QString failure;
    qint64 held = 0; // the standby's WAL receiver, stopped

    static QString script() { return QFINDTESTDATA("../scripts/pg-cluster"); }
    static QString portOf(const QString &dir)
    {
        QFile port(dir + "/port");
        return port.open(QIODevice::ReadOnly) ? QString::fromLatin1(port.readAll().trimmed()) : QString();
    }
    Clusters(const QStringList &options, bool standby)
    {
        for (int k = 0; k <= int(standby) && failure.isEmpty(); ++k) {
            dirs << QDir::tempPath() + QStringLiteral("/pollaris-stations-%1-%2")
                                           .arg(QCoreApplication::applicationPid())
                                           .arg(QRandomGenerator::global()->bounded(1000000));
            if (run(k ? QStringList{"standby", dirs[0], dirs[1]} : QStringList{"start", dirs[0]} + options))
                ports << portOf(dirs.last());
        }
    }
    ~Clusters()
    {
        release();
        for (int k = int(dirs.size()) - 1; k >= 0 && !script().isEmpty(); --k)
            QProcess::execute(script(), {"stop", dirs[k]});
    }
    // Runs scripts/pg-cluster; false, with the failure kept, when it failed.
    bool run(const QStringList &args)
    {
        QProcess p;
        if (script().isEmpty())
            return failure = "scripts/pg-cluster not found", false;
        p.start(script(), args);
        if (p.waitForFinished(180000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return true;
        failure = "scripts/pg-cluster " + args.join(' ') + " failed: " + QString::fromUtf8(p.readAllStandardError());
        return false;
    }
    // The administrators' connection string of one, or of all (the first that answers: the server
    // while it lives, as a standby would refuse the election's writes, the promoted standby after).
    QString server(int k = -1) const
    {
        return QStringLiteral("host=%1 port=%2 user=pollaris dbname=postgres")
            .arg(k < 0 ? dirs.join(',') : dirs.value(k), k < 0 ? ports.join(',') : ports.value(k));
    }
    // A station's, as the README has it: all of them, the one that takes writes, over TLS.
    QString stations(const QString &database) const
    {
        return QStringLiteral("host=127.0.0.1,127.0.0.1 port=%1 user=pollaris_station dbname=%2 sslmode=verify-full "
                              "sslrootcert=%3/root.crt target_session_attrs=read-write")
            .arg(ports.join(','), database, dirs[0]);
    }
    // The standby falls behind: its WAL receiver stopped, so that the server's commits wait for it
    // until release(). False when there was none to stop.
    bool hold();
    void release()
    {
        if (held > 0)
            ::kill(pid_t(std::exchange(held, 0)), SIGCONT);
    }
    // A server killed and its standby left as it was (a run that failed on the way) is promoted, so
    // that the election can still be dropped; a promoted one says no.
    void settle()
    {
        release();
        if (!script().isEmpty() && !QFile::exists(dirs[0] + "/data/postmaster.pid"))
            QProcess::execute(script(), {"promote", dirs[1]});
    }
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

bool Clusters::hold()
{
    held = askServer(server(1), "SELECT pid FROM pg_stat_wal_receiver").toLongLong();
    return held > 0 && ::kill(pid_t(held), SIGSTOP) == 0;
}

// What the election sets on its server for itself and for the stations, as the catalogs hold
// them: the database's settings and rights, those of its schema, tables and functions, and the
// stations' role with its password.
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

static Run status(const QString &server) { return admin({"status", "--server", server}); }
static bool failed(const QProcess &p) { return p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0; }

class StationsTest : public QObject {
    Q_OBJECT
    // The killed and silent runs' server, which they restart and reach over TCP: scripts/stations's
    // (POLLARIS_TEST_SERVER_DIR), or one of the test's own; made for the first run that needs it.
    std::unique_ptr<Clusters> m_own;
    QString m_dir, m_conninfo, m_restart, m_failure;
    bool m_made = false;

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init() { FETCH_ENGINE(engine); }
    void cleanupTestCase() { m_own.reset(); }

    // The suite runs them all; scripts/stations picks with POLLARIS_FAULTS.
    void stationsAtTheSameMomentLoseAndDoubleNothing_data()
    {
        QTest::addColumn<Fault>("fault");
        const QString chosen = qEnvironmentVariable("POLLARIS_FAULTS");
        const char *names[] = {"calm", "killed", "frozen", "silent", "failover"}; // in the order of Fault
        for (int k = 0; k < int(std::size(names)); ++k)
            if (chosen.isEmpty() || chosen == (k ? "1" : "0") || chosen.split(',').contains(QLatin1String(names[k])))
                QTest::newRow(names[k]) << Fault(k);
    }
    void stationsAtTheSameMomentLoseAndDoubleNothing()
    {
        QFETCH_GLOBAL(Engine, engine);
        QFETCH(Fault, fault);
        const bool onServer = engine == Engine::Server;
        if ((fault == Fault::Silent || fault == Fault::Failover) && !onServer)
            QSKIP(fault == Fault::Silent ? "a file has no connection to fall silent"
                                         : "a file has no server to be taken over by its standby");
        const int pairs = setting("POLLARIS_STATIONS", 4) / 2, voters = setting("POLLARIS_VOTERS", 150);
        const int positions = 3, candidates = 4, stations = 2 * pairs;
        const int freezeMs = setting("POLLARIS_FREEZE_MS", 13000), silenceMs = setting("POLLARIS_SILENCE_MS", 20000);
        const bool restarts = fault == Fault::Killed && onServer, ownCluster = restarts || fault == Fault::Silent;
        if (ownCluster && !std::exchange(m_made, true)) {
            m_dir = qEnvironmentVariable("POLLARIS_TEST_SERVER_DIR"), m_conninfo = testServer();
            if (m_dir.isEmpty()) {
                m_own = std::make_unique<Clusters>(QStringList{"tcp"}, false);
                m_dir = m_own->dirs[0], m_conninfo = m_own->server(0), m_failure = m_own->failure;
            }
            auto quote = [](const QString &s) { return '\'' + QString(s).replace('\'', "'\\''") + '\''; };
            m_restart = qEnvironmentVariable("POLLARIS_SERVER_RESTART");
            if (m_restart.isEmpty() && !Clusters::script().isEmpty())
                m_restart = quote(Clusters::script()) + " restart " + quote(m_dir);
            if (m_restart.isEmpty() && m_failure.isEmpty())
                m_failure = "no command to restart the server (POLLARIS_SERVER_RESTART)";
        }
        const quint16 port = quint16(Clusters::portOf(m_dir).toUInt());
        if (fault == Fault::Silent && m_failure.isEmpty() && port == 0)
            m_failure = m_dir + " has no TCP port (scripts/pg-cluster start DIR tcp)";
        std::unique_ptr<Clusters> pair; // the failover's own server and standby
        if (fault == Fault::Failover)
            pair =
                std::make_unique<Clusters>(QStringList{"tcp", "durable"}.mid(
                                               0, 1 + (qEnvironmentVariableIntValue("POLLARIS_FAILOVER_DURABLE") == 1)),
                                           true);
        const QString failure = pair ? pair->failure : ownCluster ? m_failure : QString();
        if (!failure.isEmpty() && qEnvironmentVariableIsSet("POLLARIS_REQUIRE_SERVER"))
            QFAIL(qPrintable(failure));
        if (!failure.isEmpty())
            QSKIP(qPrintable(failure));
        // The tests' server is the run's own cluster while the run lasts.
        const QString server = pair ? pair->server() : ownCluster ? m_conninfo : QString();
        const auto swap =
            qScopeGuard([saved = qgetenv("POLLARIS_TEST_SERVER")] { qputenv("POLLARIS_TEST_SERVER", saved); });
        if (!server.isEmpty())
            qputenv("POLLARIS_TEST_SERVER", server.toUtf8());
        // The voters' stations hold only a polling station's rights; the administrator's station
        // reaches the server as the administrators' role.
        ElectionFolder db(onServer ? Engine::Station : Engine::File);
        // However the run ends, its election is dropped where it is: a standby the run left
        // unpromoted after the kill is promoted on the way out.
        const std::unique_ptr<Clusters, void (*)(Clusters *)> settle(pair.get(), [](Clusters *p) { p->settle(); });
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
            // The status names the server it reached and its synchronous standby; a role that may
            // not read the standbys' state (no pg_monitor) is told so, and sees it once it may.
            const Run first = status(db.server());
            QVERIFY2(
                first.exitCode == 0 && !first.err.contains("warning") &&
                    first.out.contains(QStringLiteral("(reached %1 port %2; synchronous standby: pollaris_standby)")
                                           .arg(pair->dirs[0], pair->ports[0])),
                qPrintable(first.out + first.err));
            db.exec("CREATE ROLE failover_watcher LOGIN; DO $$ BEGIN"
                    " EXECUTE format('GRANT CONNECT ON DATABASE %I TO failover_watcher', current_database());"
                    " EXECUTE format('GRANT USAGE ON SCHEMA %I TO failover_watcher', current_schema());"
                    " EXECUTE format('GRANT ALL ON ALL TABLES IN SCHEMA %I TO failover_watcher', current_schema());"
                    " END $$");
            const QString watcher = withOptions(db.server(), {{"user", "failover_watcher"}});
            const Run unseen = status(watcher);
            QVERIFY2(unseen.exitCode == 0 &&
                         unseen.out.contains("; synchronous standby: cannot be told, the role failover_watcher may not "
                                             "read the standbys' state (GRANT pg_monitor TO failover_watcher lets it)"),
                     qPrintable(unseen.out + unseen.err));
            db.exec("GRANT pg_monitor TO failover_watcher");
            const Run seen = status(watcher);
            QVERIFY2(seen.exitCode == 0 && seen.out.contains("; synchronous standby: pollaris_standby)"),
                     qPrintable(seen.out + seen.err));
            settingsBefore = electionSettings(db);
        }

        // Stations 2p and 2p + 1 are pair p; the last is the administrator's. A station sends its
        // lines one at a time, so that a refused save can be pressed again; the calm run sends a
        // voter's lines together, as fast as the stations go.
        const bool together = fault == Fault::None;
        const size_t admin = size_t(stations);
        struct Station {
            std::unique_ptr<DriverRun> run;
            std::deque<QString> todo; // lines still to send
            QString voter;            // let in here, ballot not yet done
            int letIn = -1;           // the last log-in: 1 let in, 0 refused, -1 none
            bool again = false;       // the next line is a refused one pressed again
            bool killed = false, ended = false, touched = false, adminIn = false; // touched: by the fault
            qint64 launchedAt = 0, sentAt = 0, firstSentAt = 0, stoppedAt = -1, resumedAt = -1;
            qint64 longest = 0, longestSaved = 0; // this copy's longest wait for a line, and until saved
            int stopIn = 0;                       // kept across copies: the unit of writes it stops in,
            qint64 stallFrom = -1;                // and the server's kill, until its next action done
        };
        std::vector<Station> all(admin + 1);
        // The faults' stations: a few stopped in a unit of writes picked at random among their
        // first ones; whole pairs through the relay.
        const int frozenStations = fault == Fault::Frozen ? std::min(stations, std::max(2, stations / 6)) : 0;
        const int unitsEach = std::max(8, voters / pairs / 2); // a station makes about 3 to 4 times as many
        for (int k = 0; k < frozenStations;)
            if (Station &s = all[rng.bounded(quint32(admin))]; !s.stopIn)
                s.stopIn = 2 + int(rng.bounded(quint32(unitsEach - 2))), ++k;
        const int silentPairs = fault == Fault::Silent ? std::max(1, pairs / 3) : 0;
        std::unique_ptr<SilentProxy> relay;
        QString throughRelay;
        if (silentPairs) {
            relay = std::make_unique<SilentProxy>(port);
            QVERIFY(relay->port() != 0);
            throughRelay = QStringLiteral("host=127.0.0.1 port=%1 user=pollaris_station dbname=%2 sslmode=verify-full "
                                          "sslrootcert=%3/root.crt")
                               .arg(relay->port())
                               .arg(database, m_dir);
        }
        auto relayed = [&](size_t i) { return i < size_t(2 * silentPairs); };

        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
        tick.start(5);
        QElapsedTimer clock;
        clock.start();
        auto launch = [&](size_t i) {
            Station fresh;
            fresh.stopIn = all[i].stopIn, fresh.stallFrom = all[i].stallFrom;
            fresh.touched = fresh.stopIn || relayed(i);
            Station &s = all[i] = std::move(fresh);
            s.run = std::make_unique<DriverRun>(db);
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            if (s.stopIn)
                env.insert("POLLARIS_STOP_IN_UNIT", QString::number(s.stopIn));
            if (relayed(i)) {
                s.run->p.setArguments({"--server", throughRelay});
                env.insert("PGPASSFILE", m_dir + "/pgpass");
            } else if (pair && i != admin) { // the voting stations reach both servers over TLS
                s.run->p.setArguments({"--server", pair->stations(database)});
                env.insert("PGPASSFILE", pair->dirs[0] + "/pgpass");
            } else if (i == admin && onServer) { // both by their sockets: the program finds the one that writes
                s.run->p.setArguments({"--server", db.server()});
            }
            s.run->p.setProcessEnvironment(env);
            QObject::connect(&s.run->p, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
            s.run->launch();
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
                const bool faulted = s.touched || s.killed;
                bool refusedBusy = false, unsaved = false;
                for (const QString &t : said)
                    if (t.startsWith("box\t")) {
                        const QString shown = t.mid(4);
                        if (everyday(shown))
                            continue;
                        if (busy(shown) && !together) {
                            refusedBusy = true, ++busyBoxes, busyUntouched += !faulted;
                            continue;
                        }
                        ++(faulted ? fatalTouched : fatalUntouched);
                        conflictBoxes += shown.contains("\tAnother station");
                        serverLostBoxes += shown.contains("\tError 3151");
                        resumedBoxes += shown.contains("\tThe connection to the election server was lost");
                        unsaved |= nothingSaved(shown);
                        if (!faulted)
                            unexpected << (i == admin ? "administrator, " : "voting station, ") + line + ": " + shown;
                    } else if (t.startsWith("waiting\t")) { // the window that waits for the server
                        ++(faulted ? waitsTouched : waitsUntouched);
                        waitsReadOnly += t.contains("read-only");
                    } else if (t.startsWith("took\t")) {
                        voteNanos.push_back(t.section('\t', 1, 1).toLongLong() * 1000);
                        handlerNanos.push_back(t.section('\t', 2, 2).toLongLong() * 1000);
                    }
                const QStringList f = line.split('\t');
                const bool saved = done && !refusedBusy && !unsaved;
                if (done && !together) {
                    s.longest = std::max(s.longest, clock.elapsed() - s.sentAt);
                    if (saved)
                        s.longestSaved = std::max(s.longestSaved, clock.elapsed() - s.firstSentAt);
                }
                // The first action a station completes on the server after the server's kill (a
                // log-in answered, a vote or a candidate saved) ends its stall.
                if (saved && s.stallFrom >= 0 &&
                    (f[0] == "login" || f[0] == "vote" || f[0] == "addcand" || f[0] == "delcand"))
                    longestStall = std::max(longestStall, clock.elapsed() - std::exchange(s.stallFrom, -1));
                if (done && !saved && !together) { // nothing of it was saved: pressed again
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
                    if (s.letIn)
                        s.voter = f[1], doubleAdmissions += ++admissions[f[1]] == 2;
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

        // A pair at rest takes the next account, given to both its stations at once; the one let in
        // votes everywhere and is done, the other goes back to the main menu.
        int offered = 0, resting = 0, adminCount = 0;
        // A kill every 0.5 to 2.5 s at the size of a school; more often in a smaller run.
        const double killScale = std::max(voters, 500) / 2000.0;
        qint64 nextKill = qint64(1000 * killScale);
        // The server restarted at a third and two thirds of the accounts; offering waits for it.
        QProcess restart;
        int serverRestarts = 0, restartFailures = 0;
        const int restartsDue = restarts ? 2 : 0;
        // The failover: at a third of the accounts the standby falls behind for half a second, so
        // that the saves of that moment are on the primary alone, unacknowledged; then the primary's
        // postmaster is killed, and POLLARIS_PROMOTE_AFTER_MS later the standby promoted. It must
        // hold every vote acknowledged before the kill, and each save under way completes once.
        QProcess promote;
        const int promoteAfterMs = setting("POLLARIS_PROMOTE_AFTER_MS", 3000);
        qint64 holdAt = -1, killAt = -1, promoteAt = -1, promotedAt = -1;
        int failoverFailures = 0, underWayAtKill = 0, unitsOnPrimaryAlone = 0;
        QMap<QString, int> ackedBeforeKill, countedAtPromotion;
        // The relay falls silent at a third and at two thirds of the accounts, each time just after
        // a station's bytes reached the server, which acts on them while the station hears nothing.
        // The first must catch a station holding the election in a unit of writes: if half a second
        // later no other session waits for one through the relay, the relay closes what it holds and
        // tries again, five times at most. The second falls where it falls (often after a COMMIT).
        // Failing any bytes within 5 s, a silence begins all the same. Offering waits for the first.
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
                if (!all[i].ended && take(i))
                    all[i].killed = true, kills += all[i].run->killNow();
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
                restartFailures += serverRestarts > 0 && failed(restart);
                restart.start("sh", {"-c", m_restart}), ++serverRestarts;
            }
            const bool restartWaits = serverRestarts < restartsDue && offered >= voters * (serverRestarts + 1) / 3;
            if (pair && holdAt < 0 && offered >= voters / 3)
                failoverFailures += !pair->hold(), holdAt = now;
            if (holdAt >= 0 && killAt < 0 && now - holdAt >= 500) {
                unitsOnPrimaryAlone =
                    askServer(pair->server(0), "SELECT count(*) FROM pg_stat_activity WHERE wait_event = 'SyncRep'")
                        .toInt();
                ackedBeforeKill = votesAcked, killAt = clock.elapsed();
                for (Station &s : all)
                    underWayAtKill += !s.run->unanswered.empty(), s.stallFrom = killAt;
                failoverFailures += !pair->run({"kill", pair->dirs[0]});
                pair->release();
            }
            if (killAt >= 0 && promoteAt < 0 && now - killAt >= promoteAfterMs)
                promote.start(Clusters::script(), {"promote", pair->dirs[1]}), promoteAt = now;
            if (promoteAt >= 0 && promotedAt < 0 && promote.state() == QProcess::NotRunning) {
                promotedAt = clock.elapsed();
                failoverFailures += promote.error() == QProcess::FailedToStart || failed(promote);
                for (const QString &row : db.rows("SELECT CandID, NumVotes FROM CandVote"))
                    countedAtPromotion[row.section('|', 0, 0)] += row.section('|', 1).toInt();
            }
            if (silence < std::size(silences)) {
                Silence &q = silences[silence];
                if (q.armedAt < 0 && offered >= voters * int(silence + 1) / 3) {
                    relay->silenceAfterNextFromStation(), q.armedAt = now;
                } else if (q.armedAt >= 0 && q.at < 0 && (relay->isSilent() || now - q.armedAt >= 5000)) {
                    q.caught = relay->isSilent(), relay->silence(), q.at = now;
                } else if (q.at >= 0 && !q.checked && now - q.at >= 500) {
                    q.unitsOpen = db.value(unitsThroughRelay).toInt(), q.blocked = db.value(blockedByRelay).toInt();
                    q.checked = true;
                    if (q.holding && q.caught && q.blocked == 0 && ++q.tries < 5) // again
                        q.cut += relay->restore(), q.armedAt = q.at = -1, q.checked = false;
                } else if (q.checked && now - q.at >= silenceMs) {
                    q.cut += relay->restore(), q.until = now, ++silence;
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
        restartFailures += restartsDue && failed(restart);
        QVERIFY2(ending, "the stations did not get through the accounts in time");
        // Every station ends by the main menu's Exit, as a station is closed at the end of the day.
        int exitFailures = 0;
        for (size_t i = 0; i <= admin; ++i)
            if (!all[i].ended) { // not killed or ended just now
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
        // the stations that never saved again, and the election's settings there, as the catalogs
        // hold them and as a station's fresh session meets them.
        int ackedAtKill = 0, lostAtFailover = 0, notResumed = 0;
        QStringList settingsAfter;
        QString stationSees, stationReads, stationServer;
        if (pair) {
            for (auto it = ackedBeforeKill.cbegin(); it != ackedBeforeKill.cend(); ++it)
                ackedAtKill += it.value(),
                    lostAtFailover += std::max(0, it.value() - countedAtPromotion.value(it.key()));
            for (const Station &s : all)
                notResumed += s.stallFrom >= 0;
            settingsAfter = electionSettings(db);
            const QString asStation = pair->stations(database) + " passfile=" + pair->dirs[0] + "/pgpass";
            stationSees = askServer(asStation, "SHOW idle_in_transaction_session_timeout");
            stationReads = askServer(asStation, "SELECT count(*) FROM Users");
            stationServer = askServer(asStation, "SELECT inet_server_port()::text || ' ' || pg_is_in_recovery()::text");
        }

        const QString run =
            (onServer ? "server" : "file") +
            QStringList{"", restarts ? ", stations killed, server restarted twice" : ", stations killed",
                        QStringLiteral(", %1 stations frozen %2 s in a save").arg(frozenStations).arg(freezeMs / 1000),
                        QStringLiteral(", %1 stations silent %2 s twice").arg(2 * silentPairs).arg(silenceMs / 1000),
                        ", server killed, its synchronous standby promoted"}[int(fault)];
        qInfo("%s: %d stations (+1 administrator), %d voters, each offered to two stations at once; %d kills, %d "
              "server restarts, %d station restarts (%d stations ended by themselves)",
              qPrintable(run), stations, voters, kills, serverRestarts, relaunches, selfEnded);
        if (fault == Fault::Frozen)
            qInfo("stations stopped in a unit of writes %d of %d, for %.1f s at most", frozen, frozenStations,
                  double(longestFrozen) / 1000);
        for (const Silence &q : silences)
            if (q.until >= 0)
                qInfo("%d stations through a relay silent %.1f s from %s%s (%d tries cut short before), %d of them in "
                      "a unit half a second in, %d sessions waiting for them; %d connections closed, %d taken in all",
                      2 * silentPairs, double(q.until - q.at) / 1000, q.what, q.caught ? "" : " (no bytes came)",
                      q.tries, q.unitsOpen, q.blocked, q.cut, relay->accepted());
        if (pair)
            qInfo(
                "postmaster killed at %.1f s, %d of %d stations in an action, %d saves on the primary alone, %d votes "
                "acknowledged, %d of them counted on the standby promoted %.1f s later (pg_ctl promote %.1f s), "
                "answering read-only in %d waits before; longest stall from the kill to an action done %.1f s, %d "
                "stations with none",
                double(killAt) / 1000, underWayAtKill, stations + 1, unitsOnPrimaryAlone, ackedAtKill,
                ackedAtKill - lostAtFailover, double(promotedAt - killAt) / 1000, double(promotedAt - promoteAt) / 1000,
                waitsReadOnly, double(longestStall) / 1000, notResumed);
        qInfo("let in %d, refused as already voted %d, let in twice %d, let in but not marked %d, marked but let in "
              "nowhere %d (log-ins under way when their station ended %d), cut short by a fault %d (by a kill %d)",
              admitted, refused, doubleAdmissions, unmarked, turnedAway, loginsInFlight, cutShort, cutByKill);
        qInfo("votes acknowledged %d, counted %d, under way when a station ended %d, lost %d, invented %d", acked,
              counted, inFlight, lost, invented);
        qInfo("fatal boxes %d at stations the fault did not touch, %d at its own (conflicts %d, server lost %d, lost "
              "after a question %d); \"The election is busy\" %d (%d at stations not touched); waits for the server "
              "%d (%d at stations not touched); administrator's actions %d",
              fatalUntouched, fatalTouched, conflictBoxes, serverLostBoxes, resumedBoxes, busyBoxes, busyUntouched,
              waitsUntouched + waitsTouched, waitsUntouched, adminActions);
        qInfo("%.1f votes/s over %.1f s; a vote (position chosen, candidate clicked, Vote) p50 %.1f ms, p99 %.1f ms; "
              "the Vote button alone p50 %.1f ms, p99 %.1f ms",
              double(voteNanos.size()) / seconds, seconds, quantile(voteNanos, 0.5), quantile(voteNanos, 0.99),
              quantile(handlerNanos, 0.5), quantile(handlerNanos, 0.99));
        if (!together)
            qInfo("longest wait at a station the fault did not touch: %.1f s for a line, %.1f s until saved",
                  double(longestUntouched) / 1000, double(longestSavedUntouched) / 1000);
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
        case Fault::Failover: {
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
            QCOMPARE(stationServer, pair->ports[1] + " false");
            // The status names the promoted server, and warns that it has no standby yet.
            const Run after = status(db.server());
            QVERIFY2(after.exitCode == 0 &&
                         after.out.contains(QStringLiteral("(reached %1 port %2; synchronous standby: none)")
                                                .arg(pair->dirs[1], pair->ports[1])) &&
                         after.err.contains(QStringLiteral("warning: the election server %1 port %2 has no "
                                                           "synchronous standby")
                                                .arg(pair->dirs[1], pair->ports[1])),
                     qPrintable(after.out + after.err));
            break;
        }
        case Fault::Silent: {
            QVERIFY(silences[0].cut > 0 && silences[1].cut > 0);
            // What the network carried is TLS from each connection's first bytes (the request for
            // it), and holds no text of the ballot, the register or a statement.
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
