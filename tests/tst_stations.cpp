// Polling stations at the same moment: copies of the real program (the scripted
// user, each a process of its own) on one election, on the file and on a server.
// The stations work in pairs, and every account is offered to both stations of
// its pair at the same moment; the one let in votes in every position, while an
// administrator's station adds and deletes candidates. Afterwards no account was
// let in twice, every account let in is marked, every acknowledged vote is
// counted and none invented, and no station was ended by another's write.
//
// The suite runs it small. scripts/stations runs it large, with the sizes in the
// environment: POLLARIS_STATIONS (voting stations, even), POLLARIS_VOTERS, and
// POLLARIS_FAULTS=1 for stations killed at random and the server restarted once
// half-way by the command in POLLARIS_SERVER_RESTART. It prints its figures.

#include "SessionDriver.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMap>
#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <memory>

namespace {

int setting(const char *name, int fallback)
{
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : fallback;
}

// One station: its program, the lines sent and not yet acknowledged, and the boxes
// shown since its last acknowledged line.
struct Station {
    std::unique_ptr<DriverRun> run;
    qsizetype read = 0;
    std::deque<std::pair<QString, qint64>> pending; // line, when sent (ns)
    QStringList boxes;
};

struct Figures {
    int kills = 0, restarts = 0, lostBoxes = 0, conflictBoxes = 0, otherFatal = 0, admitted = 0, refused = 0,
        doubleAdmissions = 0, adminActions = 0, startFailures = 0;
    QMap<QString, int> admissions;                // account -> times let in
    QMap<QString, int> votesAcked, votesInFlight; // candidate -> votes
    QStringList unexpected;                       // boxes that should not have been
    std::vector<qint64> voteNanos;                // from sending the vote to its acknowledgement
    std::vector<qint64> voteHandlerNanos;         // the Vote button's handler alone
};

} // namespace

class StationsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init() { FETCH_ENGINE(engine); }

    void stationsAtTheSameMomentLoseAndDoubleNothing()
    {
        QFETCH_GLOBAL(Engine, engine);
        const int stations = setting("POLLARIS_STATIONS", 4) / 2 * 2, voters = setting("POLLARIS_VOTERS", 150);
        const bool faults = setting("POLLARIS_FAULTS", 0) != 0;
        const QString restartServer = qEnvironmentVariable("POLLARIS_SERVER_RESTART");
        ElectionFolder db(engine);
        const QString driver = installDriver(db.folder());
        const int positions = 3, candidates = 4;
        QStringList setup;
        for (int p = 1; p <= positions; ++p) {
            setup << QStringLiteral("INSERT INTO Positions VALUES ('P%1','Position %1')").arg(p);
            for (int c = 1; c <= candidates; ++c)
                setup
                    << QStringLiteral("INSERT INTO CandInfo VALUES ('C%1_%2','Name %1 %2','S%1%2','P%1')").arg(p).arg(c)
                    << QStringLiteral("INSERT INTO CandVote VALUES ('C%1_%2',0)").arg(p).arg(c);
        }
        setup << QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                "INSERT INTO Users SELECT 'Voter ' || i, 'v' || i, 'pw' || i, false FROM n")
                     .arg(voters);
        db.exec(setup.join(';'));

        QRandomGenerator rng(20261207);
        QElapsedTimer clock;
        clock.start();
        Figures f;
        // The loop below wakes whenever a station says something, and every 5 ms.
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
        tick.start(5);
        std::vector<Station> all(size_t(stations + 1)); // the last is the administrator's
        Station &admin = all.back();
        auto startStation = [&](Station &s, bool isAdmin) {
            s = Station();
            s.run = std::make_unique<DriverRun>(driver, db.programArguments());
            QObject::connect(&s.run->p, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
            if (!s.run->start()) {
                ++f.startFailures;
                return;
            }
            s.read = s.run->lines().size();
            if (isAdmin) {
                s.run->send({"admin\tadmin\tsecret"});
                s.pending.push_back({"admin", clock.nsecsElapsed()});
            }
        };
        for (size_t i = 0; i < all.size(); ++i)
            startStation(all[i], i + 1 == all.size());
        QCOMPARE(f.startFailures, 0);

        auto sendLine = [&](Station &s, const QString &line) {
            s.run->send({line});
            s.pending.push_back({line, clock.nsecsElapsed()});
        };
        // Reads what a station said; false when it has ended.
        auto take = [&](Station &s) {
            const QStringList lines = s.run->lines();
            for (; s.read < lines.size(); ++s.read) {
                const QString &line = lines[s.read];
                if (line.startsWith("box\t")) {
                    const QString shown = line.mid(4);
                    s.boxes << shown;
                    if (shown.startsWith("Critical\tPollaris\tError 3151"))
                        ++f.lostBoxes;
                    else if (shown.startsWith("Critical\tPollaris\tError "))
                        ++f.otherFatal, f.unexpected << shown;
                    else if (shown.startsWith("Critical\tPollaris\tAnother station"))
                        ++f.conflictBoxes, f.unexpected << shown;
                    else if (shown != kAdmitted && shown != kSpent && shown != kThanks &&
                             !shown.startsWith("Question\t"))
                        f.unexpected << shown;
                    continue;
                }
                if (line.startsWith("took\t"))
                    f.voteHandlerNanos.push_back(line.mid(5).toLongLong() * 1000);
                if (!line.startsWith("ok\t") || s.pending.empty())
                    continue;
                const auto [sent, at] = s.pending.front();
                s.pending.pop_front();
                const QStringList fields = sent.split('\t');
                if (fields[0] == "login") {
                    const bool in = s.boxes.contains(kAdmitted), out = s.boxes.contains(kSpent);
                    f.admitted += in, f.refused += out;
                    if (in && ++f.admissions[fields[1]] == 2)
                        ++f.doubleAdmissions;
                } else if (fields[0] == "vote") {
                    ++f.votesAcked[fields[2]];
                    f.voteNanos.push_back(clock.nsecsElapsed() - at);
                } else if (&s == &admin) {
                    ++f.adminActions;
                }
                s.boxes.clear();
            }
            if (s.run->p.state() != QProcess::NotRunning)
                return true;
            // Whatever was under way may or may not have been written.
            for (const auto &[sent, at] : s.pending)
                if (sent.startsWith("vote\t"))
                    ++f.votesInFlight[sent.section('\t', 2, 2)];
            s.pending.clear();
            return false;
        };

        // Each pair of stations takes the accounts of its share one after the other: both
        // stations are given the same account at once; the one let in votes everywhere
        // and is done, the other goes back to the main menu.
        const int pairs = stations / 2;
        std::vector<int> next(static_cast<size_t>(pairs));
        std::vector<int> phase(size_t(pairs), 0); // 0 idle, 1 logging in, 2 voting
        std::vector<int> account(size_t(pairs), 0);
        for (int p = 0; p < pairs; ++p)
            next[size_t(p)] = p;
        int adminCount = 0, finishedPairs = 0;
        bool restarted = restartServer.isEmpty() || !faults || !db.onServer();
        const qint64 deadline = clock.elapsed() + 1800000;
        qint64 nextKill = 1000;
        const qint64 votingStarted = clock.nsecsElapsed();
        while (finishedPairs < pairs && clock.elapsed() < deadline) {
            loop.exec();
            for (Station &s : all)
                if (!take(s))
                    ++f.restarts, startStation(s, &s == &admin);
            if (faults && clock.elapsed() >= nextKill) { // pulling the plug of a random voting station
                nextKill = clock.elapsed() + 500 + rng.bounded(2000);
                Station &victim = all[rng.bounded(quint32(stations))];
                victim.run->killNow();
                ++f.kills;
                take(victim);
                ++f.restarts, startStation(victim, false);
            }
            if (!restarted && next[0] >= voters / 2) {
                restarted = true;
                QCOMPARE(QProcess::execute("sh", {"-c", restartServer}), 0);
            }
            if (admin.pending.empty()) { // the administrator adds a candidate, then deletes it
                const int k = ++adminCount;
                const QString cand = QStringLiteral("X%1").arg((k + 1) / 2);
                sendLine(admin,
                         k % 2 ? "addcand\t" + cand + "\tNew " + cand + "\tT" + cand + "\tP1" : "delcand\tP1\t" + cand);
            }
            for (int p = 0; p < pairs; ++p) {
                Station &a = all[size_t(2 * p)], &b = all[size_t(2 * p + 1)];
                if (phase[size_t(p)] == 3 || !a.pending.empty() || !b.pending.empty())
                    continue;
                if (phase[size_t(p)] == 0 || phase[size_t(p)] == 2) {
                    if (next[size_t(p)] >= voters) {
                        phase[size_t(p)] = 3, ++finishedPairs;
                        continue;
                    }
                    account[size_t(p)] = next[size_t(p)] + 1;
                    next[size_t(p)] += pairs;
                    const QString login = QStringLiteral("login\tv%1\tpw%1").arg(account[size_t(p)]);
                    sendLine(a, login), sendLine(b, login);
                    phase[size_t(p)] = 1;
                    continue;
                }
                // Both have answered the log-in (or one of them ended meanwhile).
                const QString user = QStringLiteral("v%1").arg(account[size_t(p)]);
                for (Station *s : {&a, &b}) {
                    // The last log-in of this station: on the ballot when it was let in.
                    const QStringList said = s->run->lines().mid(0, s->read);
                    const qsizetype ok = said.lastIndexOf("ok\tlogin\t" + user + "\tpw" + user.mid(1));
                    const bool letIn = ok > 0 && said[ok - 1] == "box\t" + kAdmitted;
                    if (letIn) {
                        for (int q = 1; q <= positions; ++q)
                            sendLine(*s, QStringLiteral("vote\tP%1\tC%1_%2").arg(q).arg(rng.bounded(candidates) + 1));
                        sendLine(*s, "done");
                    } else if (ok >= 0) {
                        sendLine(*s, "cancel");
                    }
                }
                phase[size_t(p)] = 2;
            }
        }
        const double votingSeconds = double(clock.nsecsElapsed() - votingStarted) / 1e9;
        QVERIFY2(finishedPairs == pairs, "the stations did not get through the accounts in time");
        // Every station ends by the main menu's Exit, as a station is closed at the end of the day.
        while (!admin.pending.empty() && take(admin))
            loop.exec();
        for (Station &s : all) {
            s.run->p.closeWriteChannel();
            QCOMPARE(s.run->finish(), 0);
            take(s);
        }

        // What the election holds.
        int counted = 0, acked = 0, inFlight = 0, lostVotes = 0, invented = 0;
        for (const QString &row : db.rows("SELECT CandID, NumVotes FROM CandVote")) {
            const QString cand = row.section('|', 0, 0);
            if (!cand.startsWith('C')) // the administrator's own candidates
                continue;
            const int tally = row.section('|', 1).toInt();
            counted += tally, acked += f.votesAcked.value(cand), inFlight += f.votesInFlight.value(cand);
            lostVotes += std::max(0, f.votesAcked.value(cand) - tally);
            invented += std::max(0, tally - f.votesAcked.value(cand) - f.votesInFlight.value(cand));
        }
        const QStringList marked = db.rows("SELECT Username FROM Users WHERE HasVoted");
        int unmarked = 0;
        for (auto it = f.admissions.cbegin(); it != f.admissions.cend(); ++it)
            unmarked += marked.contains(it.key()) ? 0 : 1;
        auto percentile = [](std::vector<qint64> &nanos, double q) {
            std::sort(nanos.begin(), nanos.end());
            return nanos.empty() ? 0.0 : double(nanos[size_t(q * double(nanos.size() - 1))]) / 1e6;
        };
        qInfo("%s: %d stations (+1 administrator), %d voters, %d races (each account offered to two stations at "
              "once), %d kills, %d server restarts, %d station restarts",
              db.onServer() ? "server" : "file", stations, voters, voters, f.kills,
              restarted && faults && db.onServer() ? 1 : 0, f.restarts);
        qInfo("let in %d, refused as already voted %d, double admissions %d, let in but not marked %d", f.admitted,
              f.refused, f.doubleAdmissions, unmarked);
        qInfo("votes acknowledged %d, counted %d, under way when a station ended %d, acknowledged but lost %d, "
              "invented %d",
              acked, counted, inFlight, lostVotes, invented);
        qInfo("fatal boxes from conflicts %d (other failures %d), server lost %d; administrator's actions %d",
              f.conflictBoxes, f.otherFatal, f.lostBoxes, f.adminActions);
        qInfo("%.1f votes/s over %.1f s; a vote (position chosen, candidate clicked, Vote) p50 %.1f ms, p99 %.1f ms; "
              "the Vote button alone p50 %.1f ms, p99 %.1f ms",
              double(f.voteNanos.size()) / votingSeconds, votingSeconds, percentile(f.voteNanos, 0.5),
              percentile(f.voteNanos, 0.99), percentile(f.voteHandlerNanos, 0.5), percentile(f.voteHandlerNanos, 0.99));

        QCOMPARE(f.unexpected, QStringList());
        QCOMPARE(f.doubleAdmissions, 0);
        QCOMPARE(unmarked, 0);
        QCOMPARE(lostVotes, 0);
        QCOMPARE(invented, 0);
        QVERIFY(acked > 0 && f.adminActions > 0);
        if (!faults) {
            // Each account let in exactly once, and only those marked.
            QCOMPARE(f.admitted, voters);
            QCOMPARE(f.refused, voters);
            QCOMPARE(marked.size(), voters);
            QCOMPARE(counted, acked);
            QCOMPARE(acked, voters * positions);
        }
    }
};

POLLARIS_TEST_MAIN(StationsTest)
#include "tst_stations.moc"
