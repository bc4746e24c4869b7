// The program killed with SIGKILL at random moments (fixed seed) while the ballot
// is set up, on the file and on a server: after every kill the election is read
// again and must be sound, hold every action whose handler had returned, and hold
// the one action under way either whole or not at all. Voting stations killed at
// random: the stations test.

#include "SessionDriver.h"

#include <QMap>
#include <QRandomGenerator>
#include <QThread>

namespace {

// What the file holds, or should: "P|PosID" -> name, "C|CandID" -> "name|student|PosID",
// "T|CandID" -> its votes.
struct Model : QMap<QString, QString> {
    QStringList candidatesOf(const QString &pos) const
    {
        QStringList found;
        for (auto it = begin(); it != end(); ++it)
            if (it.key().startsWith("C|") && it.value().section('|', 2) == pos)
                found << it.key().mid(2);
        return found;
    }
    QStringList positions() const { return keys().filter(QRegularExpression("^P\\|")).replaceInStrings("P|", ""); }
    void apply(const QString &line)
    {
        const QStringList f = line.split('\t');
        if (f[0] == "addpos")
            insert("P|" + f[1], f[2]);
        else if (f[0] == "addcand")
            insert("C|" + f[1], f.mid(2).join('|')), insert("T|" + f[1], "0");
        else if (f[0] == "delpos")
            remove("P|" + f[1]);
        for (const QString &c : f[0] == "delpos" ? candidatesOf(f[1]) : f[0] == "delcand" ? f.mid(2) : QStringList())
            remove("C|" + c), remove("T|" + c);
    }
    QStringList rows() const
    {
        QStringList all;
        for (auto it = begin(); it != end(); ++it)
            all << it.key() + '=' + it.value();
        return all;
    }
};

} // namespace

class CrashTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init() { FETCH_ENGINE(engine); }

    void killedAtRandomMomentsLosesAndInventsNothing()
    {
        QFETCH_GLOBAL(Engine, engine);
        ElectionFolder db(engine);
        QRandomGenerator rng(20261207);
        auto pick = [&rng](const QStringList &from) { return from[int(rng.bounded(quint32(from.size())))]; };
        Model model;
        qint64 actionMicros = 0;
        const int rounds = 60;
        int killed = 0, pos = 0, cand = 0;
        for (int round = 0; round < rounds; ++round) {
            // Round 0 sets up a ballot to its end, to learn how long an action takes; later
            // rounds change it and are killed.
            QStringList script;
            Model planned = model;
            auto add = [&](const QString &line) { script << line, planned.apply(line); };
            for (int a = 0; a < (round == 0 ? 12 : 6); ++a) {
                const quint32 kind = round == 0 ? (a < 4 ? 0 : 5) : rng.bounded(10u);
                const QStringList positions = planned.positions(),
                                  ids = planned.keys().filter(QRegularExpression("^C\\|"));
                if (a == 0)
                    add("admin\tadmin\tsecret");
                else if (kind < 2 || positions.isEmpty())
                    add(QStringLiteral("addpos\tQ%1\tPosition Q%1").arg(++pos));
                else if (kind < 6)
                    add(QStringLiteral("addcand\tK%1\tName K%1\tS%1\t%2").arg(++cand).arg(pick(positions)));
                else if (kind < 9 && !ids.isEmpty()) {
                    const QString id = pick(ids);
                    add("delcand\t" + planned[id].section('|', 2) + '\t' + id.mid(2));
                } else
                    add("delpos\t" + pick(positions));
            }

            DriverRun run(db);
            QVERIFY2(run.start(), run.p.readAllStandardError().constData());
            QElapsedTimer took;
            took.start();
            run.send(script, true);
            bool wasKilled = false;
            if (round > 0) {
                const int killIn = int(rng.bounded(quint32(script.size())));
                run.waitUntil([&] { return run.acknowledged().size() >= killIn; });
                QThread::usleep(rng.bounded(quint32(actionMicros)));
                wasKilled = run.killNow();
            }
            if (!wasKilled)
                QCOMPARE(run.finish(), 0);
            // A server finishes the statement a killed program last sent before it notices
            // the program is gone: the election is read once its session has ended.
            if (db.onServer())
                QTRY_COMPARE_WITH_TIMEOUT(db.value("SELECT count(*) " + kSessions).toInt(), 0, 20000);
            if (round == 0)
                actionMicros = qMax<qint64>(took.nsecsElapsed() / 1000 / script.size(), 1000);
            for (const QString &shown : run.boxes())
                QVERIFY2(everyday(shown), qPrintable(shown));
            const QStringList done = run.acknowledged();

            // Everything acknowledged is in the file, once, and the action under way whole or not
            // at all: so no candidate without its one tally.
            Model acked = model, inFile;
            for (const QString &line : done)
                acked.apply(line);
            Model withPending = acked;
            withPending.apply(script.value(done.size(), "none"));
            for (const QString &row :
                 db.rows("SELECT 'P|' || PosID, PosName FROM Positions UNION ALL "
                         "SELECT 'C|' || CandID, CandName || '|' || StudentNum || '|' || PosID FROM CandInfo UNION ALL "
                         "SELECT 'T|' || CandID, CAST(NumVotes AS TEXT) FROM CandVote"))
                inFile.insert(row.section('|', 0, 1),
                              inFile.contains(row.section('|', 0, 1)) ? "twice" : row.section('|', 2));
            if (!wasKilled || inFile != withPending)
                QCOMPARE(inFile.rows(), acked.rows());
            if (!db.onServer())
                QCOMPARE(db.rows("PRAGMA integrity_check"), QStringList{"ok"});
            killed += wasKilled, model = inFile;
        }
        QVERIFY(killed >= rounds / 3);
    }
};

POLLARIS_TEST_MAIN(CrashTest)
#include "tst_reliability_crash.moc"
