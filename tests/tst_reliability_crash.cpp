// The program killed with SIGKILL at random moments (fixed seed) while voters log
// in and vote, and while the ballot is set up: after every kill the file is
// reopened and must be sound, hold every action whose handler had returned, and
// hold the one action under way either whole or not at all.

#include "SessionDriver.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRandomGenerator>
#include <QSet>
#include <QThread>
#include <memory>

namespace {

const QStringList kPositions = {QStringLiteral("PRES"), QStringLiteral("VP"), QStringLiteral("SEC")};

QString voter(int i) { return QStringLiteral("v%1").arg(i, 4, 10, QLatin1Char('0')); }
QString password(int i) { return QStringLiteral("pw%1").arg(i, 4, 10, QLatin1Char('0')); }

// What the killed run got through: the actions acknowledged and the one that was
// under way when it died (empty when it died between actions or had finished).
struct Outcome {
    QStringList done;
    QString underWay;
    bool killed = false;
    qint64 micros = 0; // from the main menu being up to the end
    bool insideWrite = false; // a journal was left: the kill came while the engine wrote
};

// Runs a script and kills the program a random moment into action number
// killIn (counted from 0), or lets it run to the end when killIn is negative.
Outcome runAndKill(const QString &driver, const QStringList &script, int killIn, qint64 delayMicros, QString *problem)
{
    DriverRun run(driver);
    Outcome outcome;
    if (!run.start()) {
        *problem = QStringLiteral("the program did not start: ") + run.errors();
        return outcome;
    }
    QElapsedTimer clock;
    clock.start();
    run.send(script);
    run.endInput();
    if (killIn >= 0) {
        run.waitForAcknowledged(killIn);
        QThread::usleep(quint64(delayMicros));
        outcome.killed = run.killNow();
    }
    if (!outcome.killed && run.finish() != 0)
        *problem = QStringLiteral("the program ended with %1: %2").arg(run.process().exitCode()).arg(run.lines().join('\n'));
    outcome.micros = clock.nsecsElapsed() / 1000;
    const QFileInfo journal(QFileInfo(driver).absolutePath() + QStringLiteral("/candpos4.mdb-journal"));
    outcome.insideWrite = journal.exists() && journal.size() > 0;
    outcome.done = run.acknowledged();
    for (const QString &line : run.lines())
        if (!line.startsWith(QLatin1String("ok\t")) && !line.startsWith(QLatin1String("box\t")) && line != QLatin1String("ready"))
            *problem = QStringLiteral("unexpected output: ") + line;
    // Only the voter's warning and thanks may appear; any other box is a failure.
    for (const QString &shown : run.boxes())
        if (shown != QLatin1String("Exclamation\tPollaris\tWarning! Users can only login once") &&
            shown != QLatin1String("Information\tYour vote has been added\tThank you for voting!") &&
            !shown.startsWith(QLatin1String("Question\t")))
            *problem = QStringLiteral("unexpected box: ") + shown;
    for (int i = 0; i < outcome.done.size() && i < script.size(); ++i)
        if (outcome.done[i] != script[i])
            *problem = QStringLiteral("acknowledged out of order: ") + outcome.done[i];
    if (outcome.done.size() < script.size())
        outcome.underWay = script[outcome.done.size()];
    return outcome;
}

// The ballot set-up as the file holds it.
struct Ballot {
    QMap<QString, QString> positions;  // PosID -> PosName
    QMap<QString, QString> candidates; // CandID -> "name|student|PosID"
    QMap<QString, qint64> tallies;     // CandID -> NumVotes
    bool operator==(const Ballot &o) const
    {
        return positions == o.positions && candidates == o.candidates && tallies == o.tallies;
    }
    QString describe() const
    {
        QStringList parts;
        for (auto it = positions.begin(); it != positions.end(); ++it)
            parts << it.key() + QLatin1Char('=') + it.value();
        for (auto it = candidates.begin(); it != candidates.end(); ++it)
            parts << it.key() + QLatin1Char('=') + it.value() + QLatin1Char('#') + QString::number(tallies.value(it.key(), -1));
        return parts.join(QLatin1Char(' '));
    }
    void apply(const QStringList &f)
    {
        if (f[0] == QLatin1String("addpos")) {
            positions.insert(f[1], f[2]);
        } else if (f[0] == QLatin1String("addcand")) {
            candidates.insert(f[1], f[2] + QLatin1Char('|') + f[3] + QLatin1Char('|') + f[4]);
            tallies.insert(f[1], 0);
        } else if (f[0] == QLatin1String("delcand")) {
            candidates.remove(f[2]);
            tallies.remove(f[2]);
        } else if (f[0] == QLatin1String("delpos")) {
            for (const QString &c : candidatesOf(f[1])) {
                candidates.remove(c);
                tallies.remove(c);
            }
            positions.remove(f[1]);
        }
    }
    QStringList candidatesOf(const QString &pos) const
    {
        QStringList found;
        for (auto it = candidates.begin(); it != candidates.end(); ++it)
            if (it.value().section(QLatin1Char('|'), 2) == pos)
                found << it.key();
        return found;
    }
};

} // namespace

class CrashTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;
    QString driver;

    // The rules that hold after any kill, whatever was under way.
    void checkSound()
    {
        QCOMPARE(db->rows(QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
        QCOMPARE(db->rows(QStringLiteral("SELECT CandID FROM CandInfo WHERE CandID NOT IN (SELECT CandID FROM CandVote)")),
                 QStringList());
        QCOMPARE(db->rows(QStringLiteral("SELECT CandID FROM CandVote WHERE CandID NOT IN (SELECT CandID FROM CandInfo)")),
                 QStringList());
        QCOMPARE(db->rows(QStringLiteral("SELECT CandID FROM CandInfo WHERE PosID NOT IN (SELECT PosID FROM Positions)")),
                 QStringList());
        QCOMPARE(db->rows(QStringLiteral("SELECT CandID FROM CandVote GROUP BY CandID HAVING count(*) > 1")), QStringList());
        // No position holds more votes than there are accounts that were let in.
        const qint64 admitted = db->value(QStringLiteral("SELECT count(*) FROM Users WHERE HasVoted")).toLongLong();
        const QStringList sums = db->rows(QStringLiteral(
            "SELECT i.PosID, sum(v.NumVotes) FROM CandInfo i JOIN CandVote v ON v.CandID = i.CandID GROUP BY i.PosID"));
        for (const QString &sum : sums)
            QVERIFY2(sum.section(QLatin1Char('|'), 1).toLongLong() <= admitted,
                     qPrintable(sum + QStringLiteral(" votes, %1 accounts let in").arg(admitted)));
    }

    Ballot ballotInFile() const
    {
        Ballot b;
        for (const QString &row : db->rows(QStringLiteral("SELECT PosID, PosName FROM Positions")))
            b.positions.insert(row.section(QLatin1Char('|'), 0, 0), row.section(QLatin1Char('|'), 1));
        for (const QString &row : db->rows(QStringLiteral("SELECT CandID, CandName, StudentNum, PosID FROM CandInfo")))
            b.candidates.insert(row.section(QLatin1Char('|'), 0, 0), row.section(QLatin1Char('|'), 1));
        for (const QString &row : db->rows(QStringLiteral("SELECT CandID, NumVotes FROM CandVote")))
            b.tallies.insert(row.section(QLatin1Char('|'), 0, 0), row.section(QLatin1Char('|'), 1).toLongLong());
        return b;
    }

private slots:
    void init()
    {
        db = std::make_unique<ElectionFolder>();
        driver = installDriver(db->folder());
        QVERIFY(!driver.isEmpty());
    }
    void cleanup() { db.reset(); }

    void votingKilledAtRandomMomentsLosesAndInventsNothing()
    {
        const int rounds = 80, votersPerRound = 4;
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('PRES','President'),('VP','Vice President'),"
                                "('SEC','Secretary')"));
        QHash<QString, QString> positionOf;
        for (int c = 1; c <= 9; ++c) {
            const QString id = QStringLiteral("C%1").arg(c);
            positionOf.insert(id, kPositions[(c - 1) / 3]);
            db->exec(QStringLiteral("INSERT INTO CandInfo VALUES ('%1','Candidate %1','S%1','%2')").arg(id, positionOf[id]));
            db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('%1',0)").arg(id));
        }
        db->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                "INSERT INTO Users SELECT 'Voter ' || i, printf('v%04d', i), printf('pw%04d', i), 0 FROM n")
                     .arg(rounds * votersPerRound));

        QRandomGenerator rng(20261207);
        QMap<QString, qint64> tallies;
        for (const QString &c : positionOf.keys())
            tallies.insert(c, 0);
        QSet<QString> admitted;
        int nextVoter = 1;
        qint64 actionMicros = 0;
        int killed = 0, beforeFirstAction = 0, betweenActions = 0, underWayKept = 0, underWayDropped = 0,
            votesAcknowledged = 0, insideWrite = 0;

        for (int round = 0; round < rounds; ++round) {
            QStringList script;
            for (int v = 0; v < votersPerRound; ++v, ++nextVoter) {
                script << QStringLiteral("login\t%1\t%2").arg(voter(nextVoter), password(nextVoter));
                QStringList order = kPositions;
                for (int k = order.size() - 1; k > 0; --k)
                    order.swapItemsAt(k, int(rng.bounded(quint32(k + 1))));
                for (const QString &pos : order) {
                    if (rng.bounded(5u) == 0)
                        continue; // not every voter votes in every position
                    const int first = kPositions.indexOf(pos) * 3 + 1;
                    script << QStringLiteral("vote\t%1\tC%2").arg(pos).arg(first + int(rng.bounded(3u)));
                }
                script << QStringLiteral("done");
            }

            // The first round runs to its end, to learn how long an action takes;
            // every later one is killed somewhere within a random action.
            QString problem;
            const int killIn = round == 0 ? -1 : int(rng.bounded(quint32(script.size())));
            const qint64 delay = round == 0 ? 0 : qint64(rng.bounded(quint32(actionMicros)));
            const Outcome outcome = runAndKill(driver, script, killIn, delay, &problem);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
            if (round == 0) {
                QVERIFY(!outcome.killed);
                QCOMPARE(outcome.done.size(), script.size());
                actionMicros = qMax<qint64>(outcome.micros / script.size(), 1000);
            }

            // Everything acknowledged is in the file, and at most the action under
            // way besides.
            for (const QString &line : outcome.done) {
                const QStringList f = line.split(QLatin1Char('\t'));
                if (f[0] == QLatin1String("login"))
                    admitted.insert(f[1]);
                if (f[0] == QLatin1String("vote")) {
                    ++tallies[f[2]];
                    ++votesAcknowledged;
                }
            }
            const QStringList inFlight = outcome.underWay.split(QLatin1Char('\t'));
            bool keptUnderWay = false;
            for (auto it = tallies.begin(); it != tallies.end(); ++it) {
                const qint64 inFile = db->value(QStringLiteral("SELECT NumVotes FROM CandVote WHERE CandID='%1'").arg(it.key())).toLongLong();
                const bool mayBeOneMore = outcome.killed && inFlight[0] == QLatin1String("vote") && inFlight[2] == it.key();
                QVERIFY2(inFile == it.value() || (mayBeOneMore && inFile == it.value() + 1),
                         qPrintable(QStringLiteral("round %1: %2 has %3 votes, %4 acknowledged")
                                        .arg(round).arg(it.key()).arg(inFile).arg(it.value())));
                if (inFile != it.value()) {
                    keptUnderWay = true;
                    it.value() = inFile;
                }
            }
            QSet<QString> marked;
            for (const QString &u : db->rows(QStringLiteral("SELECT Username FROM Users WHERE HasVoted")))
                marked.insert(u);
            if (outcome.killed && inFlight[0] == QLatin1String("login") && marked.contains(inFlight[1]) &&
                !admitted.contains(inFlight[1])) {
                admitted.insert(inFlight[1]);
                keptUnderWay = true;
            }
            QCOMPARE(marked, admitted);
            checkSound();
            if (QTest::currentTestFailed())
                return;

            if (outcome.killed) {
                ++killed;
                insideWrite += outcome.insideWrite ? 1 : 0;
                if (outcome.done.isEmpty() && !keptUnderWay)
                    ++beforeFirstAction;
                else if (keptUnderWay)
                    ++underWayKept;
                else if (inFlight[0] == QLatin1String("vote") || inFlight[0] == QLatin1String("login"))
                    ++underWayDropped;
                else
                    ++betweenActions;
            }
        }
        QVERIFY(killed >= rounds / 3);
        QVERIFY(votesAcknowledged > 0);
        qInfo("%d runs, %d killed (%d of them while the engine was writing): %d before the first action, %d with a "
              "log-in or vote pending that was not in the file, %d with one pending that was, %d otherwise; "
              "%d votes acknowledged, every one found",
              rounds, killed, insideWrite, beforeFirstAction, underWayDropped, underWayKept, betweenActions,
              votesAcknowledged);
    }

    void ballotSetUpKilledAtRandomMomentsIsWholeOrUndone()
    {
        const int rounds = 50;
        Ballot model;
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('P1','President'),('P2','Vice'),('P3','Secretary')"));
        QRandomGenerator rng(8);
        int candidateNumber = 0, positionNumber = 0;
        for (int c = 0; c < 9; ++c, ++candidateNumber) {
            const QString id = QStringLiteral("K%1").arg(candidateNumber, 4, 10, QLatin1Char('0'));
            db->exec(QStringLiteral("INSERT INTO CandInfo VALUES ('%1','Name %1','S%1','P%2')").arg(id).arg(c % 3 + 1));
            db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('%1',%2)").arg(id).arg(rng.bounded(100u)));
        }
        // The votes already cast came from accounts that were let in.
        db->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                                "INSERT INTO Users SELECT 'Voter ' || i, 'v' || i, 'pw', 1 FROM n"));
        model = ballotInFile();

        qint64 actionMicros = 0;
        int killed = 0, wholeUnderWay = 0, undoneUnderWay = 0, actionsAcknowledged = 0, insideWrite = 0;
        for (int round = 0; round < rounds; ++round) {
            QStringList script{QStringLiteral("admin\tadmin\tsecret")};
            Ballot planned = model;
            for (int a = 0; a < 5; ++a) {
                const quint32 kind = rng.bounded(10u);
                QStringList f;
                if (kind < 2 || planned.positions.isEmpty()) {
                    const QString pos = QStringLiteral("Q%1").arg(++positionNumber);
                    f = QStringList{QStringLiteral("addpos"), pos, QStringLiteral("Position ") + pos};
                } else if (kind < 6) {
                    const QStringList positions = planned.positions.keys();
                    const QString pos = positions[int(rng.bounded(quint32(positions.size())))];
                    const QString id = QStringLiteral("K%1").arg(++candidateNumber, 4, 10, QLatin1Char('0'));
                    f = QStringList{QStringLiteral("addcand"), id, QStringLiteral("Name ") + id, QStringLiteral("S") + id, pos};
                } else if (kind < 9 && !planned.candidates.isEmpty()) {
                    const QStringList ids = planned.candidates.keys();
                    const QString id = ids[int(rng.bounded(quint32(ids.size())))];
                    f = QStringList{QStringLiteral("delcand"), planned.candidates[id].section(QLatin1Char('|'), 2), id};
                } else {
                    const QStringList positions = planned.positions.keys();
                    f = QStringList{QStringLiteral("delpos"), positions[int(rng.bounded(quint32(positions.size())))]};
                }
                planned.apply(f);
                script << f.join(QLatin1Char('\t'));
            }

            QString problem;
            const int killIn = round == 0 ? -1 : int(rng.bounded(quint32(script.size())));
            const qint64 delay = round == 0 ? 0 : qint64(rng.bounded(quint32(actionMicros)));
            const Outcome outcome = runAndKill(driver, script, killIn, delay, &problem);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
            if (round == 0) {
                QVERIFY(!outcome.killed);
                actionMicros = qMax<qint64>(outcome.micros / script.size(), 1000);
            }

            Ballot acknowledged = model;
            for (const QString &line : outcome.done) {
                acknowledged.apply(line.split(QLatin1Char('\t')));
                ++actionsAcknowledged;
            }
            const Ballot inFile = ballotInFile();
            Ballot withUnderWay = acknowledged;
            if (!outcome.underWay.isEmpty())
                withUnderWay.apply(outcome.underWay.split(QLatin1Char('\t')));
            QVERIFY2(inFile == acknowledged || (outcome.killed && inFile == withUnderWay),
                     qPrintable(QStringLiteral("round %1, under way \"%2\"\nfile:     %3\nexpected: %4")
                                    .arg(round)
                                    .arg(outcome.underWay, inFile.describe(), acknowledged.describe())));
            checkSound();
            if (QTest::currentTestFailed())
                return;
            if (outcome.killed) {
                ++killed;
                insideWrite += outcome.insideWrite ? 1 : 0;
                const bool changing = !outcome.underWay.isEmpty() && !(withUnderWay == acknowledged);
                if (changing && inFile == withUnderWay)
                    ++wholeUnderWay;
                else if (changing)
                    ++undoneUnderWay;
            }
            model = inFile;
        }
        QVERIFY(killed >= rounds / 3);
        qInfo("%d runs, %d killed (%d of them while the engine was writing), %d set-up actions acknowledged, every one "
              "found; of the changes pending at the kill %d were found whole and %d not at all",
              rounds, killed, insideWrite, actionsAcknowledged, wholeUnderWay, undoneUnderWay);
    }
};

POLLARIS_TEST_MAIN(CrashTest)
#include "tst_reliability_crash.moc"
