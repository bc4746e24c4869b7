// Faults of the election file or server, met by the real program in a child
// process: each ends in the critical box with the engine's number and text and a
// non-zero exit status, never a hang, a crash or a silent success, and leaves the
// election exactly as it was. Then two administrators on one election.

#include "SessionDriver.h"
#include "TestSupport.h"

#include <QDir>
#include <QThread>
#include <csignal>
#include <memory>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

class FaultsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;
    QString driver, mounted; // mounted: a small file system of the test's own, to be taken down

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init()
    {
        FETCH_ENGINE(engine);
        db = std::make_unique<ElectionFolder>(engine);
        driver = installDriver(db->folder());
        db->exec("INSERT INTO Positions VALUES ('PRES','President'); INSERT INTO CandVote VALUES ('C1',4),('C2',9);"
                 "INSERT INTO CandInfo VALUES ('C1','Maria Santos','S1','PRES'),('C2','John Reyes','S2','PRES');"
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 69) "
                 "INSERT INTO Users SELECT 'Voter ' || i, 'v' || i, 'pw' || i, false FROM n");
    }
    void cleanup()
    {
        if (!mounted.isEmpty())
            ::umount2(QFile::encodeName(std::exchange(mounted, QString())), MNT_DETACH);
        ::chmod(QFile::encodeName(db->folder()), 0700);
        db.reset();
    }

    void aFaultOfTheFileIsReportedAndChangesNothing_data()
    {
        QTest::addColumn<QStringList>("before"); // actions that must still work
        QTest::addColumn<QStringList>("after");  // actions that meet the fault
        QTest::addColumn<QString>("expected");   // the box's text, up to its end or a ':'
        QTest::addColumn<int>("status");
        // When set, the modes of the folder and the file, and the program runs as their owner.
        QTest::addColumn<QString>("modes");
        const QStringList none, login{"login\tv1\tpw1"}, vote{"vote\tPRES\tC1"}, admin{"admin\tadmin\tsecret"};
        const QString cannotOpen = "Error 14: unable to open database file:",
                      readOnly = ": attempt to write a readonly database";
        QTest::newRow("missing") << none << login << cannotOpen << 14 << "";
        QTest::newRow("random bytes") << none << login << "Error 26: file is not a database" << 26 << "";
        QTest::newRow("table missing") << none << admin << "Error 1: no such table: CandInfo" << 1 << "";
        // Each names what cannot be written: the file, or the folder where the journal goes.
        QTest::newRow("not writable") << none << login << "Error 8" + readOnly + ": /" << 8 << "755 444";
        // No journal can be made beside the file, so no write could be undone.
        QTest::newRow("folder not writable")
            << none << login << "Error 1544" + readOnly + ": the folder /" << 8 << "555 644";
        QTest::newRow("removed while running") << login + QStringList{"done"} << admin << cannotOpen << 14 << "";
        QTest::newRow("read-only while running") << login << vote << "Error 8" + readOnly << 8 << "755 644";
        QTest::newRow("disk full") << none << login << "Error 13: database or disk is full" << 13 << "";
        QTest::newRow("file-size limit") << none << login << "Error 778: disk I/O error" << 10 << "";
        QTest::newRow("locked too long") << none << login << "Error 5: database is locked" << 5 << "";
    }
    void aFaultOfTheFileIsReportedAndChangesNothing()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QString, expected);
        QFETCH(int, status);
        QFETCH(QString, modes);
        if (db->onServer())
            QSKIP("faults of the file");
        const QByteArray fault = QTest::currentDataTag();
        QString folder = db->folder(), file = db->file();
        if (fault == "disk full") {
            // A file system just big enough for the program and its file, then filled to the last byte.
            mounted = folder += "/small";
            const qint64 size = QFile(driver).size() + QFile(file).size() + 256 * 1024;
            if (!QDir().mkdir(folder) ||
                ::mount("tmpfs", QFile::encodeName(folder), "tmpfs", 0, "size=" + QByteArray::number(size)) != 0)
                QSKIP("no small file system can be made here (mounting needs privileges)");
            QVERIFY(QFile::copy(driver, folder + "/sessiondriver") && QFile::copy(file, folder + "/candpos4.mdb"));
            driver = folder + "/sessiondriver", file = folder + "/candpos4.mdb";
            QFile filler(folder + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
                    filler.write(QByteArray(size, 'f')) > 0);
        }
        DriverRun run(driver);
        if (fault == "missing")
            QVERIFY(QFile::remove(file));
        if (fault == "random bytes") {
            QFile noise(file);
            QVERIFY(noise.open(QIODevice::WriteOnly | QIODevice::Truncate));
            for (quint32 x = 99; noise.pos() < 64 * 1024; x = x * 1664525 + 1013904223) // a fixed sequence
                noise.putChar(char(x >> 24));
        }
        if (fault == "table missing")
            db->exec("DROP TABLE CandInfo");
        if (fault == "file-size limit") // a write past the limit fails instead of killing the process
            run.p.setChildProcessModifier([] {
                rlimit limit{4096, 4096};
                ::signal(SIGXFSZ, SIG_IGN), ::setrlimit(RLIMIT_FSIZE, &limit);
            });
        if (!modes.isEmpty()) { // root may write any file: as root, the program runs as nobody
            const passwd *nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
            for (const auto &[path, mode] : {std::pair(folder, modes.left(3)), std::pair(file, modes.right(3))})
                QVERIFY(::chmod(QFile::encodeName(path), mode.toUInt(nullptr, 8)) == 0 &&
                        (!nobody || ::chown(QFile::encodeName(path), nobody->pw_uid, nobody->pw_gid) == 0));
            if (nobody)
                run.p.setChildProcessModifier(
                    [u = nobody->pw_uid, g = nobody->pw_gid] { ::setgid(g) || ::setuid(u) ? ::_exit(120) : void(); });
        }
        if (fault == "locked too long") {
            // The program waits for the lock as long as it changes hands; one never let go is
            // a failure once the wait is over (shortened here from its half a minute).
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("POLLARIS_LOCK_WAIT_MS", "1500");
            run.p.setProcessEnvironment(env);
        }
        run.start();
        run.send(before);
        QVERIFY(run.waitUntil([&] { return run.acknowledged().size() >= before.size(); }));

        // The fault strikes while the program runs.
        if (fault.endsWith("while running"))
            QVERIFY(fault.startsWith("removed") ? QFile::remove(file) : ::chmod(QFile::encodeName(file), 0444) == 0);
        // Read before locking: closing any handle on a file drops this process's locks on it.
        auto contents = [&file] {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(no file)");
        };
        const QByteArray kept = contents();
        const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        sqlite3 *holder = nullptr; // another copy holding the file
        if (fault == "locked too long")
            QVERIFY(sqlite3_open_v2(QFile::encodeName(file), &holder, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                    sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK);
        run.send(after, true);
        QCOMPARE(run.finish(), status);
        sqlite3_close_v2(holder);
        // The box was the last thing: the action that met the fault never finished.
        QCOMPARE(run.boxes().filter(QRegularExpression("^Critical")).size(), 1);
        QVERIFY2(run.lines().last().startsWith("box\tCritical\tPollaris\t" + expected), qPrintable(run.lines().last()));
        if (expected.endsWith(": the folder /"))
            QVERIFY2(run.lines().last().contains(folder + " cannot be written"), qPrintable(run.lines().last()));
        QCOMPARE(run.acknowledged(), before);
        QCOMPARE(contents(), kept);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), files);
    }

    // The server out of reach at start, a connection string with a password or none at all, the
    // session ended by the server while the program runs: the critical box at once
    // (before the main menu, or at the next action), nothing acknowledged lost.
    void aFaultOfTheServerIsReportedAndLosesNothing_data()
    {
        QTest::addColumn<QString>("expected");
        QTest::newRow("unreachable at start") << "Error 3151: Cannot reach the election server:";
        QTest::newRow("not a connection string") << "Error 3151: --server takes a connection string";
        QTest::newRow("password given") << "Error 3151: The connection string holds a password. Put the password in "
                                           "~/.pgpass";
        QTest::newRow("session ended while running") << "Error 3151: The connection to the election server was lost:";
    }
    void aFaultOfTheServerIsReportedAndLosesNothing()
    {
        QFETCH(QString, expected);
        if (!db->onServer())
            QSKIP("faults of the server");
        const QByteArray fault = QTest::currentDataTag();
        const QString all = "SELECT 'U', Username, CAST(HasVoted AS INTEGER) FROM Users UNION ALL SELECT 'T', CandID, "
                            "NumVotes FROM CandVote ORDER BY 1, 2";
        QString server = db->server();
        if (fault == "unreachable at start")
            server += " host=" + db->folder() + "/nowhere";
        if (fault == "password given")
            server += " password=secret";
        if (fault == "not a connection string")
            server = "candpos4.mdb";
        DriverRun run(driver, {"--server", server});
        const bool started = run.start();
        QCOMPARE(started, fault.startsWith("session"));
        QStringList done;
        if (started) {
            run.send({"login\tv1\tpw1", "vote\tPRES\tC1", "done"});
            QVERIFY(run.waitUntil([&] { return run.acknowledged().size() >= 3; }));
            done = db->rows(all);
            const QString others = "FROM pg_stat_activity WHERE datname = current_database() AND application_name = "
                                   "'pollaris'";
            db->exec("SELECT pg_terminate_backend(pid) " + others);
            QTRY_COMPARE(db->value("SELECT count(*) " + others).toInt(), 0);
            run.send({"login\tv2\tpw2"}, true);
        }
        QCOMPARE(run.finish(), 3151 & 0xff);
        QCOMPARE(run.boxes().filter(QRegularExpression("^Critical")).size(), 1);
        QVERIFY2(run.lines().last().startsWith("box\tCritical\tPollaris\t" + expected), qPrintable(run.lines().last()));
        QCOMPARE(run.acknowledged().size(), started ? 3 : 0);
        if (started)
            QCOMPARE(db->rows(all), done); // the voter and the vote acknowledged, nothing after
    }

    // Two administrators at once: the same new code given on both, then the same candidate
    // deleted on both. One adds it and the other is told it is taken; the delete is done
    // once; neither copy ends, and nothing is written twice.
    void twoAdministratorsAtOnceWriteEverythingOnce()
    {
        const QString duplicate = "Critical\tError!\tDuplicate Position ID Found!";
        for (const QString &action : QStringList{"addpos\tQ1\tFirst", "addpos\tQ2\tSecond", "delpicked"}) {
            DriverRun runs[2] = {DriverRun(driver, db->programArguments()), DriverRun(driver, db->programArguments())};
            const QStringList before = action == "delpicked" ? QStringList{"admin\tadmin\tsecret", "pickcand\tPRES\tC1"}
                                                             : QStringList{"admin\tadmin\tsecret"};
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
        QCOMPARE(db->rows("SELECT PosID FROM Positions ORDER BY PosID"), (QStringList{"PRES", "Q1", "Q2"}));
        QCOMPARE(db->rows("SELECT CandID FROM CandInfo UNION ALL SELECT CandID FROM CandVote"),
                 (QStringList{"C2", "C2"}));
    }

    // A copy that holds the file for longer than a moment (here four seconds) is waited
    // for, and then the log-in and the vote go through.
    void aLockHeldForSecondsIsWaitedFor()
    {
        if (db->onServer())
            QSKIP("the file's lock");
        DriverRun run(driver);
        QVERIFY(run.start());
        sqlite3 *holder = nullptr;
        QVERIFY(sqlite3_open_v2(QFile::encodeName(db->file()), &holder, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK);
        run.send({"login\tv1\tpw1", "vote\tPRES\tC1", "done"}, true);
        QThread::sleep(4);
        const bool waiting = run.acknowledged().isEmpty() && run.p.state() == QProcess::Running;
        sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close_v2(holder);
        QVERIFY(waiting);
        QCOMPARE(run.finish(), 0);
        QCOMPARE(run.acknowledged().size(), 3);
        QCOMPARE(db->rows("SELECT NumVotes FROM CandVote WHERE CandID = 'C1'"), QStringList{"5"});
    }
};

POLLARIS_TEST_MAIN(FaultsTest)
#include "tst_reliability_faults.moc"
