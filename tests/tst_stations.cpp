// Polling stations at the same moment: copies of the real program (the scripted
// user, each a process of its own) on one election, on the file and on a server.
// The stations work in pairs, and every account is offered to both stations of
// its pair at the same moment; the one let in votes in every position, while an
// administrator's station adds and deletes candidates. Afterwards no account was
// let in twice, every account let in is marked, every acknowledged vote is
// counted and none invented, and no station was ended by another's write.
//
// The suite runs it small, calm and with voting stations killed at random (SIGKILL).
// scripts/stations runs it large, with the sizes in the environment:
// POLLARIS_STATIONS (voting stations, even), POLLARIS_VOTERS, POLLARIS_FAULTS=0 for
// the calm run alone or 1 for stations killed at random and the server restarted once
// half-way by the command in POLLARIS_SERVER_RESTART, and POLLARIS_VOTE_GAP_MS for
// voters who take that long over each position. It prints its figures.

#include "SessionDriver.h"

#include <QEventLoop>
#include <QMap>
#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>
#include <memory>

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

class StationsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init() { FETCH_ENGINE(engine); }

    // The suite runs both; scripts/stations picks one with POLLARIS_FAULTS.
    void stationsAtTheSameMomentLoseAndDoubleNothing_data()
    {
        QTest::addColumn<bool>("faults");
        for (const bool faults : {false, true})
            if (!qEnvironmentVariableIsSet("POLLARIS_FAULTS") || (setting("POLLARIS_FAULTS", 0) != 0) == faults)
                QTest::newRow(faults ? "killed" : "calm") << faults;
    }
    void stationsAtTheSameMomentLoseAndDoubleNothing()
    {
        QFETCH_GLOBAL(Engine, engine);
        QFETCH(bool, faults);
        const int pairs = setting("POLLARIS_STATIONS", 4) / 2, voters = setting("POLLARIS_VOTERS", 150);
        const int positions = 3, candidates = 4;
        ElectionFolder db(engine);
        QString restartServer = faults && db.onServer() ? qEnvironmentVariable("POLLARIS_SERVER_RESTART") : QString();
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

        // Stations 2p and 2p + 1 are pair p; the last is the administrator's. The loop
        // below wakes whenever a station says something, and every 5 ms.
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
        tick.start(5);
        const size_t admin = size_t(2 * pairs);
        std::vector<std::unique_ptr<DriverRun>> all(admin + 1);
        std::vector<int> letIn(admin + 1); // a voting station's last log-in: 1 let in, 0 refused, -1 none
        auto start = [&](size_t i) {
            all[i] = std::make_unique<DriverRun>(db);
            QObject::connect(&all[i]->p, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
            letIn[i] = -1;
            const bool up = all[i]->start();
            if (up && i == admin)
                all[i]->send({"admin\tadmin\tsecret"});
            return up;
        };
        for (size_t i = 0; i <= admin; ++i)
            QVERIFY(start(i));

        int admitted = 0, refused = 0, doubleAdmissions = 0, adminActions = 0, restarts = 0, kills = 0,
            serverRestarts = 0;
        QMap<QString, int> admissions, votesAcked, votesInFlight; // account -> times let in; candidate -> votes
        QStringList shown;                                        // every box of every station
        std::vector<qint64> voteNanos, handlerNanos; // a vote from its position chosen to its end; Vote alone
        auto take = [&](size_t i) {
            return all[i]->take([&](const QString &line, bool done, const QStringList &said) {
                for (const QString &s : said)
                    if (s.startsWith("box\t"))
                        shown << s.mid(4);
                    else if (s.startsWith("took\t"))
                        voteNanos.push_back(s.section('\t', 1, 1).toLongLong() * 1000),
                            handlerNanos.push_back(s.section('\t', 2, 2).toLongLong() * 1000);
                const QStringList f = line.split('\t');
                if (f[0] == "vote") // one under way when its station ended may or may not be written
                    ++(done ? votesAcked : votesInFlight)[f[2]];
                if (f[0] == "login" && done) {
                    letIn[i] = said.contains("box\t" + kAdmitted) ? 1 : 0;
                    admitted += letIn[i], refused += said.contains("box\t" + kSpent);
                    if (letIn[i] && ++admissions[f[1]] == 2)
                        ++doubleAdmissions;
                }
                adminActions += i == admin && done;
            });
        };

        // A pair at rest takes the next account, given to both its stations at once; the one
        // let in votes everywhere and is done, the other goes back to the main menu.
        QRandomGenerator rng(20261207);
        QElapsedTimer clock;
        clock.start();
        int offered = 0, resting = 0, adminCount = 0;
        // A kill every 0.5 to 2.5 s at the size of a school; more often in a smaller run.
        const double killScale = std::max(voters, 500) / 2000.0;
        qint64 nextKill = qint64(1000 * killScale);
        while (resting < pairs && clock.elapsed() < 1800000) {
            loop.exec();
            if (faults && clock.elapsed() >= nextKill) { // pulling the plug of a random voting station
                nextKill = clock.elapsed() + qint64((500 + rng.bounded(2000)) * killScale);
                kills += all[rng.bounded(quint32(admin))]->killNow();
            }
            for (size_t i = 0; i <= admin; ++i)
                if (!take(i))
                    start(i), ++restarts;
            if (!restartServer.isEmpty() && offered > voters / 2) {
                QCOMPARE(QProcess::execute("sh", {"-c", std::exchange(restartServer, QString())}), 0);
                ++serverRestarts;
            }
            if (all[admin]->unanswered.empty()) { // the administrator adds a candidate, then deletes it
                const int k = ++adminCount;
                const QString cand = QStringLiteral("X%1").arg((k + 1) / 2);
                all[admin]->send(
                    {k % 2 ? "addcand\t" + cand + "\tNew " + cand + "\tT" + cand + "\tP1" : "delcand\tP1\t" + cand});
            }
            resting = 0;
            for (int p = 0; p < pairs; ++p) {
                const size_t a = size_t(2 * p), b = a + 1;
                if (!all[a]->unanswered.empty() || !all[b]->unanswered.empty())
                    continue;
                if (letIn[a] >= 0 || letIn[b] >= 0) { // both answered the log-in, or one ended meanwhile
                    for (size_t i : {a, b}) {
                        QStringList script;
                        for (int q = 1; letIn[i] == 1 && q <= positions; ++q)
                            script << QStringLiteral("vote\tP%1\tC%1_%2").arg(q).arg(rng.bounded(candidates) + 1);
                        if (letIn[i] >= 0)
                            all[i]->send(script << (letIn[i] ? "done" : "cancel"));
                        letIn[i] = -1;
                    }
                } else if (offered < voters) {
                    const QString login = QStringLiteral("login\tv%1\tpw%1").arg(++offered);
                    all[a]->send({login}), all[b]->send({login});
                } else {
                    ++resting;
                }
            }
        }
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        QVERIFY2(resting == pairs, "the stations did not get through the accounts in time");
        // Every station ends by the main menu's Exit, as a station is closed at the end of the day.
        while (!all[admin]->unanswered.empty() && take(admin))
            loop.exec();
        for (size_t i = 0; i <= admin; ++i) {
            all[i]->p.closeWriteChannel();
            QCOMPARE(all[i]->finish(), 0);
            take(i);
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
        int unmarked = 0;
        for (const QString &account : admissions.keys())
            unmarked += !marked.contains(account);
        // A station that meets the server restarting ends with the lost server's box.
        const QString fatal = "Critical\tPollaris\t", serverLost = fatal + "Error 3151";
        QStringList unexpected;
        for (const QString &s : shown)
            if (!everyday(s) && !(faults && s.startsWith(serverLost)))
                unexpected << s;
        auto boxes = [&shown](const QString &start) {
            return int(shown.filter(QRegularExpression('^' + start)).size());
        };
        qInfo("%s: %d stations (+1 administrator), %d voters, %d races (each account offered to two stations at "
              "once), %d kills, %d server restarts, %d station restarts",
              db.onServer() ? "server" : "file", 2 * pairs, voters, voters, kills, serverRestarts, restarts);
        qInfo("let in %d, refused as already voted %d, double admissions %d, let in but not marked %d", admitted,
              refused, doubleAdmissions, unmarked);
        qInfo("votes acknowledged %d, counted %d, under way when a station ended %d, acknowledged but lost %d, "
              "invented %d",
              acked, counted, inFlight, lost, invented);
        qInfo("fatal boxes from conflicts %d (other failures %d), server lost %d; administrator's actions %d",
              boxes(fatal + "Another station"), boxes(fatal + "Error ") - boxes(serverLost), boxes(serverLost),
              adminActions);
        qInfo("%.1f votes/s over %.1f s; a vote (position chosen, candidate clicked, Vote) p50 %.1f ms, p99 %.1f ms; "
              "the Vote button alone p50 %.1f ms, p99 %.1f ms",
              double(voteNanos.size()) / seconds, seconds, quantile(voteNanos, 0.5), quantile(voteNanos, 0.99),
              quantile(handlerNanos, 0.5), quantile(handlerNanos, 0.99));

        QCOMPARE(unexpected, QStringList());
        QCOMPARE(QList<int>({doubleAdmissions, unmarked, lost, invented}), QList<int>({0, 0, 0, 0}));
        QVERIFY(acked > 0 && adminActions > 0 && (!faults || kills > 0));
        // Without faults every account is let in at one station, refused at the other, and votes everywhere.
        QVERIFY(faults || (refused == voters && acked == voters * positions));
    }
};

POLLARIS_TEST_MAIN(StationsTest)
#include "tst_stations.moc"
