// Faults of the election file or server met by the real program in a child process: each
// ends in the critical box with the engine's number and text and a non-zero exit status, and
// leaves the election as it was. Then a station losing its server, and two administrators.

#include "SessionDriver.h"

#include <QDir>
#include <csignal>
#include <memory>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

class FaultsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init()
    {
        FETCH_ENGINE(engine);
        db = std::make_unique<ElectionFolder>(engine);
        db->exec("INSERT INTO Positions VALUES ('PRES','President'); INSERT INTO CandVote VALUES ('C1',4),('C2',9);"
                 "INSERT INTO CandInfo VALUES ('C1','Maria Santos','S1','PRES'),('C2','John Reyes','S2','PRES')");
        addVoters(*db, 69);
    }
    void cleanup()
    {
        ::chmod(QFile::encodeName(db->folder()), 0700);
        db.reset();
    }

    void aFaultIsReportedAndChangesNothing_data()
    {
        QTest::addColumn<Engine>("where");
        QTest::addColumn<QStringList>("before"); // actions that must still work
        QTest::addColumn<QStringList>("after");  // actions that meet the fault; none when it strikes at start
        // Of a file, the modes of the folder and the file, the program running as their owner;
        // of a server, the program's --server (%1 the election's).
        QTest::addColumn<QString>("setting");
        // The box's text, up to its end or a ':'; the exit status is the low byte of its number.
        QTest::addColumn<QString>("expected");
        const QStringList none, login{"login\tv1\tpw1"};
        const QString cannotOpen = "Error 14: unable to open database file:",
                      readOnly = ": attempt to write a readonly database", unreached = "Error 3151: ", plain;
        const Engine file = Engine::File, server = Engine::Server;
        QTest::newRow("missing") << file << none << login << plain << cannotOpen;
        QTest::newRow("random bytes") << file << none << login << plain << "Error 26: file is not a database";
        // Each names what cannot be written: the file, or the folder where the journal goes.
        QTest::newRow("not writable") << file << none << login << QString("755 444") << "Error 8" + readOnly + ": /";
        // No journal can be made beside the file, so no write could be undone.
        QTest::newRow("folder not writable")
            << file << none << login << QString("555 644") << "Error 1544" + readOnly + ": the folder /";
        QTest::newRow("removed while running")
            << file << login + QStringList{"done"} << QStringList{"admin\tadmin\tsecret"} << plain << cannotOpen;
        QTest::newRow("file-size limit") << file << none << login << plain << "Error 778: disk I/O error";
        // No connection string, or a database the server lacks: waiting mends neither.
        QTest::newRow("not a connection string")
            << server << none << none << QString("candpos4.mdb") << unreached + "--server takes a connection string";
        QTest::newRow("no such database") << server << none << none << QString("%1 dbname=nowhere")
                                          << unreached + "Cannot reach the election server:";
        // A server over a network, asked for without TLS and a verified server: never tried.
        QTest::newRow("not encrypted")
            << server << none << none << QString("%1 host=127.0.0.1")
            << unreached + "The connection to the election server at 127.0.0.1 would not be encrypted with the "
                           "server's identity verified (sslmode is prefer)";
        // A server whose log would keep every voter's log-in beside the votes after it.
        QTest::newRow("a log of statements")
            << server << none << none << plain
            << "Error 3146: The election server writes the statements it runs to its log (log_statement = mod)";
    }
    void aFaultIsReportedAndChangesNothing()
    {
        QFETCH(Engine, where);
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QString, setting);
        QFETCH(QString, expected);
        if ((where == Engine::Server) != db->onServer())
            QSKIP("a fault of the other engine");
        const QByteArray fault = QTest::currentDataTag();
        const QString folder = db->folder(), file = db->file();
        DriverRun run(*db);
        if (db->onServer() && !setting.isEmpty())
            run.p.setArguments({"--server", QString(setting).replace("%1", db->server())});
        if (fault == "a log of statements")
            db->exec("DO $$ BEGIN EXECUTE format('ALTER DATABASE %I SET log_statement = %L', current_database(), "
                     "'mod'); END $$");
        if (fault == "missing")
            QVERIFY(QFile::remove(file));
        if (fault == "random bytes") { // a fixed sequence, no header of any kind
            QFile noise(file);
            QVERIFY(noise.open(QIODevice::WriteOnly | QIODevice::Truncate));
            for (quint32 x = 99; noise.pos() < 64 * 1024; x = x * 1664525 + 1013904223)
                noise.putChar(char(x >> 24));
        }
        if (fault == "file-size limit") // a write past the limit fails instead of killing the process
            run.p.setChildProcessModifier([] {
                rlimit limit{4096, 4096};
                ::signal(SIGXFSZ, SIG_IGN), ::setrlimit(RLIMIT_FSIZE, &limit);
            });
        if (!db->onServer() && !setting.isEmpty()) { // root may write any file: as root, the program runs as nobody
            const passwd *nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
            for (const auto &[path, mode] : {std::pair(folder, setting.left(3)), std::pair(file, setting.right(3))})
                QVERIFY(::chmod(QFile::encodeName(path), mode.toUInt(nullptr, 8)) == 0 &&
                        (!nobody || ::chown(QFile::encodeName(path), nobody->pw_uid, nobody->pw_gid) == 0));
            if (nobody)
                run.p.setChildProcessModifier(
                    [u = nobody->pw_uid, g = nobody->pw_gid] { ::setgid(g) || ::setuid(u) ? ::_exit(120) : void(); });
        }
        const bool started = run.start();
        QCOMPARE(started, !after.isEmpty());
        run.send(before);
        QVERIFY(run.waitUntil([&] { return run.acknowledged().size() >= before.size(); }));
        if (fault == "removed while running") // the fault strikes while the program runs
            QVERIFY(QFile::remove(file));
        // The election as the program left it: the server's rows, or the file's bytes.
        const auto contents = [&] {
            if (db->onServer())
                return db->rows("SELECT 'U', Username, CAST(HasVoted AS INTEGER) FROM Users UNION ALL "
                                "SELECT 'T', CandID, NumVotes FROM CandVote ORDER BY 1, 2");
            QFile f(file);
            return QStringList{f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().toHex()) : "(no file)"};
        };
        const QStringList kept = contents(), files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        if (started)
            run.send(after, true);
        QCOMPARE(run.finish(), expected.section(' ', 1, 1).section(':', 0, 0).toInt() & 0xff);
        // The box was the last thing: the action that met the fault never finished.
        QCOMPARE(run.boxes().filter(QRegularExpression("^Critical")).size(), 1);
        QVERIFY2(run.lines().last().startsWith("box\tCritical\tPollaris\t" + expected), qPrintable(run.lines().last()));
        QCOMPARE(run.acknowledged(), before);
        QCOMPARE(contents(), kept);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), files);
    }

    // A station waits for a server out of reach at its start, and for one that ends its
    // session mid-ballot, and goes on: each vote counted once, no box but the everyday ones.
    void aStationWaitsForItsServerAndGoesOn()
    {
        if (!db->onServer())
            QSKIP("the file has no server to lose");
        // The server's socket is reached through a folder that does not exist yet.
        const QString socketDir = db->server().section("host=", 1).section(' ', 0, 0).remove('\''),
                      later = db->folder() + "/later";
        DriverRun run(*db);
        run.p.setArguments({"--server", db->server() + " host=" + later});
        run.p.start();
        QVERIFY(run.waitUntil([&] { return !run.tagged("waiting\t").isEmpty(); }) && !run.lines().contains("ready"));
        QVERIFY2(run.tagged("waiting\t").first().startsWith("Cannot reach the election server:"),
                 qPrintable(run.lines().join('\n')));
        QVERIFY(QFile::link(socketDir, later));
        QElapsedTimer waited; // it tries again every second, saying so each time
        waited.start();
        run.waitUntil([&] { return run.lines().contains("ready") || waited.elapsed() > 30000; });
        QVERIFY2(run.lines().contains("ready"), qPrintable(run.lines().join('\n')));

        const QStringList road{"login\tv1\tpw1"};
        run.send(road);
        QVERIFY(run.waitUntil([&] { return run.acknowledged().size() == road.size(); }));
        const int waitsBefore = int(run.tagged("waiting\t").size());
        db->exec("SELECT pg_terminate_backend(pid) " + kSessions);
        run.send({"vote\tPRES\tC2", "done"}, true);
        QCOMPARE(run.finish(), 0);
        QVERIFY2(run.tagged("waiting\t").size() > waitsBefore, qPrintable(run.lines().join('\n')));
        QCOMPARE(run.acknowledged(), (road + QStringList{"vote\tPRES\tC2", "done"}));
        QCOMPARE(run.boxes(), (QStringList{kAdmitted, kThanks}));
        QCOMPARE(db->rows("SELECT CandID, NumVotes FROM CandVote ORDER BY CandID"), (QStringList{"C1|4", "C2|10"}));
        QCOMPARE(db->rows("SELECT Username FROM Users WHERE HasVoted"), QStringList{"v1"});
        // The record: the station's start, the server found again twice, its end; no voter.
        const QStringList record = db->rows("SELECT what FROM pollaris_log ORDER BY seq");
        const QRegularExpression again("^station reached the election server again after \\d+ s without it \\(");
        QVERIFY2(record.first() == "station started" && record.filter(again).size() == 2 &&
                     record.last() == "station ended (status 0)" && record.filter("v1").isEmpty(),
                 qPrintable(record.join('\n')));
    }

    // Two administrators add the same code, then delete the same candidate: one is told the
    // code is taken, the delete is done once, neither copy ends.
    void twoAdministratorsAtOnceWriteEverythingOnce()
    {
        const QString duplicate = "Critical\tError!\tDuplicate Position ID Found!";
        for (const QString &action : QStringList{"addpos\tQ1\tFirst", "delpicked"}) {
            DriverRun runs[2] = {DriverRun(*db), DriverRun(*db)};
            const QStringList before = QStringList{"admin\tadmin\tsecret"} +
                                       (action == "delpicked" ? QStringList{"pickcand\tPRES\tC1"} : QStringList());
            for (DriverRun &run : runs) {
                QVERIFY(run.start());
                run.send(before);
                QVERIFY(run.waitUntil([&] { return run.acknowledged().size() == before.size(); }));
            }
            for (DriverRun &run : runs)
                run.send({action}, true);
            QStringList refusals;
            for (DriverRun &run : runs) {
                QCOMPARE(run.finish(), 0);
                refusals << run.boxes().filter(QRegularExpression("^Critical"));
            }
            QCOMPARE(refusals, action.startsWith("add") ? QStringList{duplicate} : QStringList());
        }
        QCOMPARE(db->rows("SELECT PosID FROM Positions ORDER BY PosID"), (QStringList{"PRES", "Q1"}));
        QCOMPARE(db->rows("SELECT CandID FROM CandInfo UNION ALL SELECT CandID FROM CandVote"),
                 (QStringList{"C2", "C2"}));
    }
};

POLLARIS_TEST_MAIN(FaultsTest)
#include "tst_reliability_faults.moc"
