// Faults of the election file, met by the real program in a child process: each
// ends in the critical box with the engine's number and text and a non-zero exit
// status, never a hang, a crash or a silent success, and leaves the file exactly
// as it was. Then a second copy of the program on the same file.

#include "SessionDriver.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <memory>
#include <optional>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Fault {
    Missing,
    Empty,
    RandomBytes,
    CutShort,
    TableMissing,
    FieldMissing,
    NotWritable,
    FolderNotWritable,
    RemovedWhileRunning,
    MadeReadOnlyWhileRunning,
    ReplacedWhileRunning,
    NoRoomToGrow,
    DiskFull,
};

// The bytes of a file, or nothing when there is no file.
std::optional<QByteArray> contents(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The owner of the files a run as another account may write, when the tests run
// as root (who may write any file whatever its permissions).
uid_t g_otherUid = 0;
gid_t g_otherGid = 0;
bool runAsOther() { return ::geteuid() == 0; }

// Whether a process sleeps, as the engine does between tries for a lock.
bool sleeping(qint64 pid)
{
    QFile wchan(QStringLiteral("/proc/%1/wchan").arg(pid));
    return wchan.open(QIODevice::ReadOnly) && wchan.readAll().contains("nanosleep");
}

} // namespace

Q_DECLARE_METATYPE(Fault)

class FaultsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;
    QString driver;
    QString mounted; // a small file system of the test's own, to be taken down

    void seed()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('PRES','President')"));
        db->exec(QStringLiteral("INSERT INTO CandInfo VALUES ('C1','Maria Santos','S1','PRES'),('C2','John Reyes','S2','PRES')"));
        db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('C1',4),('C2',9)"));
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Carla','v1','pw1',0),('Dan','v2','pw2',0),('Eve','v3','pw3',0)"));
    }

    // A run of the program as a user the file's permissions apply to, or with a
    // limit to the size of any file it writes.
    void confine(DriverRun &run, bool otherUser, rlim_t fileSizeLimit = RLIM_INFINITY)
    {
        const bool dropRoot = otherUser && runAsOther();
        const uid_t uid = g_otherUid;
        const gid_t gid = g_otherGid;
        run.process().setChildProcessModifier([=] {
            if (fileSizeLimit != RLIM_INFINITY) {
                // A write past the limit fails instead of killing the process.
                ::signal(SIGXFSZ, SIG_IGN);
                struct rlimit limit = {fileSizeLimit, fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (dropRoot && (::setgid(gid) != 0 || ::setuid(uid) != 0))
                ::_exit(120);
        });
        QProcessEnvironment env = run.process().processEnvironment();
        env.insert(QStringLiteral("HOME"), db->folder());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), db->folder());
        run.process().setProcessEnvironment(env);
    }

    void handOver(const QString &path, mode_t mode)
    {
        QVERIFY(::chmod(path.toLocal8Bit().constData(), mode) == 0);
        if (runAsOther())
            QVERIFY(::chown(path.toLocal8Bit().constData(), g_otherUid, g_otherGid) == 0);
    }

private slots:
    void initTestCase()
    {
        if (runAsOther()) {
            const passwd *nobody = ::getpwnam("nobody");
            QVERIFY2(nobody, "no account nobody to run the program as");
            g_otherUid = nobody->pw_uid;
            g_otherGid = nobody->pw_gid;
        }
    }
    void init()
    {
        db = std::make_unique<ElectionFolder>();
        driver = installDriver(db->folder());
        QVERIFY(!driver.isEmpty());
        seed();
    }
    void cleanup()
    {
        if (!mounted.isEmpty())
            ::umount2(QFile::encodeName(mounted).constData(), MNT_DETACH);
        mounted.clear();
        if (db)
            ::chmod(QFile::encodeName(db->folder()).constData(), 0700);
        db.reset();
    }

    void aFaultOfTheFileIsReportedAndChangesNothing_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QStringList>("before"); // actions that must still work
        QTest::addColumn<QStringList>("after");  // actions that meet the fault
        QTest::addColumn<QString>("expected");   // the box's text, up to its end or a ':'
        QTest::addColumn<int>("status");

        const QStringList voterLogIn{QStringLiteral("login\tv1\tpw1")};
        const QStringList vote{QStringLiteral("vote\tPRES\tC1")};
        const QStringList adminLogIn{QStringLiteral("admin\tadmin\tsecret")};
        QTest::newRow("missing") << Fault::Missing << QStringList() << voterLogIn
                                 << QStringLiteral("Error 14: unable to open database file:") << 14;
        QTest::newRow("empty") << Fault::Empty << QStringList() << voterLogIn
                               << QStringLiteral("Error 1: no such table: Users") << 1;
        QTest::newRow("random bytes") << Fault::RandomBytes << QStringList() << voterLogIn
                                      << QStringLiteral("Error 26: file is not a database") << 26;
        QTest::newRow("cut short") << Fault::CutShort << QStringList() << voterLogIn
                                   << QStringLiteral("Error 11: database disk image is malformed") << 11;
        QTest::newRow("table missing") << Fault::TableMissing << QStringList() << adminLogIn
                                       << QStringLiteral("Error 1: no such table: CandInfo") << 1;
        QTest::newRow("field missing") << Fault::FieldMissing << QStringList() << voterLogIn
                                       << QStringLiteral("Error 3265: Item not found in this collection: HasVoted (dcVoter)")
                                       << (3265 & 0xff);
        QTest::newRow("not writable") << Fault::NotWritable << QStringList() << voterLogIn
                                      << QStringLiteral("Error 8: attempt to write a readonly database") << 8;
        QTest::newRow("folder not writable") << Fault::FolderNotWritable << QStringList() << voterLogIn
                                             << QStringLiteral("Error 1544: attempt to write a readonly database")
                                             << (1544 & 0xff);
        QTest::newRow("removed while running") << Fault::RemovedWhileRunning
                                               << (voterLogIn + QStringList{QStringLiteral("done")}) << adminLogIn
                                               << QStringLiteral("Error 14: unable to open database file:") << 14;
        QTest::newRow("made read-only while running") << Fault::MadeReadOnlyWhileRunning << voterLogIn << vote
                                                      << QStringLiteral("Error 8: attempt to write a readonly database") << 8;
        QTest::newRow("replaced while running") << Fault::ReplacedWhileRunning << voterLogIn << vote
                                                << QStringLiteral("Error 14: unable to open database file:") << 14;
        QTest::newRow("no room to grow") << Fault::NoRoomToGrow << adminLogIn
                                         << QStringList{QStringLiteral("addcand\tC3\t") + QString(50, QLatin1Char('N')) +
                                                        QStringLiteral("\tS3\tPRES")}
                                         << QStringLiteral("Error 778: disk I/O error") << (778 & 0xff);
        QTest::newRow("disk full") << Fault::DiskFull << QStringList() << voterLogIn
                                   << QStringLiteral("Error 13: database or disk is full") << 13;
    }

    void aFaultOfTheFileIsReportedAndChangesNothing()
    {
        QFETCH(Fault, fault);
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QString, expected);
        QFETCH(int, status);

        QString folder = db->folder();
        QString file = db->file();
        if (fault == Fault::DiskFull) {
            // A file system just big enough for the program and its file, then
            // filled to the last byte.
            const QString small = folder + QStringLiteral("/small");
            QVERIFY(QDir(folder).mkdir(QStringLiteral("small")));
            const qint64 size = QFileInfo(driver).size() + QFileInfo(file).size() + 256 * 1024;
            if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0,
                        QStringLiteral("size=%1").arg(size).toLatin1().constData()) != 0)
                QSKIP("no small file system can be made here (mounting needs privileges)");
            mounted = small;
            QVERIFY(QFile::copy(driver, small + QStringLiteral("/sessiondriver")));
            QVERIFY(QFile::copy(file, small + QStringLiteral("/candpos4.mdb")));
            QFile filler(small + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(512, 'f');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
            filler.close();
            folder = small;
            file = small + QStringLiteral("/candpos4.mdb");
            driver = small + QStringLiteral("/sessiondriver");
        }
        DriverRun run(driver);
        switch (fault) {
        case Fault::Missing:
            QVERIFY(QFile::remove(file));
            break;
        case Fault::Empty:
            QVERIFY(writeBytes(file, QByteArray()));
            break;
        case Fault::RandomBytes: {
            QByteArray noise(64 * 1024, '\0');
            QRandomGenerator rng(99);
            for (char &c : noise)
                c = char(rng.bounded(256u));
            QVERIFY(writeBytes(file, noise));
            break;
        }
        case Fault::CutShort: {
            // Enough pages to reach the list of tables, not the tables themselves.
            db->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                                    "INSERT INTO Users SELECT 'Name ' || i, 'u' || i, 'p', 0 FROM n"));
            const QByteArray whole = *contents(file);
            QVERIFY(writeBytes(file, whole.left(whole.size() / 2)));
            break;
        }
        case Fault::TableMissing:
            db->exec(QStringLiteral("DROP TABLE CandInfo"));
            break;
        case Fault::FieldMissing:
            db->exec(QStringLiteral("ALTER TABLE Users DROP COLUMN HasVoted"));
            break;
        case Fault::NotWritable:
            QVERIFY(::chmod(QFile::encodeName(db->folder()).constData(), 0755) == 0);
            QVERIFY(::chmod(QFile::encodeName(file).constData(), 0444) == 0);
            confine(run, true);
            break;
        case Fault::FolderNotWritable:
            // No journal can be made beside the file, so no write can be undone.
            handOver(file, 0644);
            QVERIFY(::chmod(QFile::encodeName(db->folder()).constData(), 0555) == 0);
            confine(run, true);
            break;
        case Fault::MadeReadOnlyWhileRunning:
            handOver(db->folder(), 0755);
            handOver(file, 0644);
            confine(run, true);
            break;
        case Fault::NoRoomToGrow: {
            // Fill the candidates' page to its last row, then let no file grow.
            int n = 0;
            for (qint64 pages = db->value(QStringLiteral("PRAGMA page_count")).toLongLong();;) {
                db->exec(QStringLiteral("INSERT INTO CandInfo VALUES ('F%1','%2','S','PRES')").arg(++n).arg(QString(40, 'x')));
                db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('F%1',0)").arg(n));
                if (db->value(QStringLiteral("PRAGMA page_count")).toLongLong() != pages) {
                    db->exec(QStringLiteral("DELETE FROM CandInfo WHERE CandID='F%1'").arg(n));
                    db->exec(QStringLiteral("DELETE FROM CandVote WHERE CandID='F%1'").arg(n));
                    db->exec(QStringLiteral("VACUUM"));
                    if (db->value(QStringLiteral("PRAGMA page_count")).toLongLong() == pages)
                        break;
                    pages = db->value(QStringLiteral("PRAGMA page_count")).toLongLong();
                }
            }
            confine(run, false, rlim_t(QFileInfo(file).size()));
            break;
        }

        default:
            break;
        }

        std::optional<QByteArray> kept = contents(file);
        const bool otherAccount = runAsOther() && (fault == Fault::NotWritable || fault == Fault::FolderNotWritable ||
                                                   fault == Fault::MadeReadOnlyWhileRunning);
        if (!run.start() && otherAccount && run.lines().isEmpty())
            QSKIP("the program cannot be run as another account here");
        QVERIFY2(!run.lines().isEmpty(), qPrintable(run.errors()));
        run.send(before);
        for (const QString &line : before)
            QVERIFY2(run.waitForLine(QStringLiteral("ok\t") + line), qPrintable(run.lines().join('\n') + run.errors()));

        // The fault strikes while the program runs.
        switch (fault) {
        case Fault::RemovedWhileRunning:
            QVERIFY(QFile::remove(file));
            break;
        case Fault::MadeReadOnlyWhileRunning:
            QVERIFY(::chmod(QFile::encodeName(file).constData(), 0444) == 0);
            break;
        case Fault::ReplacedWhileRunning: {
            // The file set aside and an older copy put in its place.
            const QByteArray current = *contents(file);
            QVERIFY(QFile::rename(file, file + QStringLiteral(".set-aside")));
            QVERIFY(writeBytes(file, current));
            break;
        }
        default:
            break;
        }
        kept = contents(file);
        const QStringList filesBefore = QDir(folder).entryList(QDir::Files | QDir::Hidden);

        run.send(after);
        run.endInput();
        const int exitStatus = run.finish();
        const QStringList boxes = run.boxes();
        const QStringList fatal = boxes.filter(QRegularExpression(QStringLiteral("^Critical\\t")));
        QVERIFY2(fatal.size() == 1, qPrintable(run.lines().join('\n') + run.errors()));
        QVERIFY2(fatal[0].startsWith(QStringLiteral("Critical\tPollaris\t") + expected), qPrintable(fatal[0]));
        QCOMPARE(exitStatus, status);
        // The box was the last thing: the action that met the fault never finished.
        QVERIFY(run.lines().last().startsWith(QLatin1String("box\tCritical")));
        QCOMPARE(run.acknowledged(), before);

        QCOMPARE(contents(file), kept);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), filesBefore);
        qInfo("%s", qPrintable(fatal[0].section(QLatin1Char('\t'), 2)));
    }

    // Two copies of the program at once, each with its own voters: every vote
    // acknowledged by either is in the file.
    void twoCopiesVotingAtOnceLoseNoVote()
    {
        db->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 10 UNION ALL SELECT i + 1 FROM n WHERE i < 69) "
                                "INSERT INTO Users SELECT 'Voter ' || i, 'v' || i, 'pw' || i, 0 FROM n"));
        DriverRun first(driver), second(driver);
        QVERIFY(first.start());
        QVERIFY(second.start());
        QStringList scripts[2];
        for (int i = 10; i < 70; ++i) {
            scripts[i % 2] << QStringLiteral("login\tv%1\tpw%1").arg(i)
                           << QStringLiteral("vote\tPRES\tC%1").arg(i % 3 == 0 ? 1 : 2) << QStringLiteral("done");
        }
        first.send(scripts[0]);
        second.send(scripts[1]);
        first.endInput();
        second.endInput();
        QCOMPARE(first.finish(), 0);
        QCOMPARE(second.finish(), 0);
        QCOMPARE(first.acknowledged(), scripts[0]);
        QCOMPARE(second.acknowledged(), scripts[1]);
        int forC1 = 0;
        for (int i = 10; i < 70; ++i)
            forC1 += i % 3 == 0 ? 1 : 0;
        QCOMPARE(db->rows(QStringLiteral("SELECT CandID, NumVotes FROM CandVote ORDER BY CandID")),
                 (QStringList{QStringLiteral("C1|%1").arg(4 + forC1), QStringLiteral("C2|%1").arg(9 + 60 - forC1)}));
        QCOMPARE(db->value(QStringLiteral("SELECT count(*) FROM Users WHERE HasVoted")).toInt(), 60);
        QCOMPARE(db->rows(QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
    }

    // Two copies offered the same accounts at the same moment: no account lets
    // in two voters.
    void twoCopiesNeverAdmitOneAccountTwice()
    {
        db->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 10 UNION ALL SELECT i + 1 FROM n WHERE i < 49) "
                                "INSERT INTO Users SELECT 'Voter ' || i, 'v' || i, 'pw' || i, 0 FROM n"));
        QStringList script;
        for (int i = 10; i < 50; ++i)
            script << QStringLiteral("login\tv%1\tpw%1").arg(i) << QStringLiteral("done");
        DriverRun first(driver), second(driver);
        QVERIFY(first.start());
        QVERIFY(second.start());
        first.send(script);
        second.send(script);
        first.endInput();
        second.endInput();
        const int statuses[2] = {first.finish(), second.finish()};
        int admitted = 0;
        for (DriverRun *run : {&first, &second}) {
            for (const QString &shown : run->boxes()) {
                if (shown.startsWith(QLatin1String("Exclamation\tPollaris\tWarning!")))
                    ++admitted;
                else
                    QVERIFY2(shown == QLatin1String("Critical\tError!\tUser has already voted!") ||
                                 shown.startsWith(QLatin1String("Information\t")) ||
                                 shown.startsWith(QLatin1String("Critical\tPollaris\tError 3197:")),
                             qPrintable(shown));
            }
        }
        // A copy that found the account taken between its read and its write
        // reports it and ends; otherwise both run to the end.
        for (int i = 0; i < 2; ++i)
            QVERIFY2(statuses[i] == 0 || statuses[i] == (3197 & 0xff), qPrintable(QString::number(statuses[i])));
        const int marked = db->value(QStringLiteral("SELECT count(*) FROM Users WHERE HasVoted")).toInt();
        QCOMPARE(admitted, marked);
        QVERIFY(marked <= 40);
        if (statuses[0] == 0 && statuses[1] == 0)
            QCOMPARE(marked, 40);
        qInfo("40 accounts offered to both copies at once, %d admitted once each, statuses %d and %d", marked,
              statuses[0], statuses[1]);
    }

    // A file held by another copy is waited for; held too long, it is reported.
    void aLockedFileIsWaitedForThenReported()
    {
        sqlite3 *holder = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(db->file()).constData(), &holder, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        // Read before locking: closing any other handle on the file would drop this
        // process's locks on it.
        const QByteArray kept = *contents(db->file());
        QCOMPARE(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

        // Released while the program waits: the log-in goes through.
        DriverRun run(driver);
        QVERIFY(run.start());
        run.send({QStringLiteral("login\tv1\tpw1")});
        // The engine waits for a lock by sleeping a little at a time.
        QTRY_VERIFY_WITH_TIMEOUT(sleeping(run.process().processId()), 2500);
        QVERIFY(run.acknowledged().isEmpty());
        QCOMPARE(sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
        QVERIFY(run.waitForLine(QStringLiteral("ok\tlogin\tv1\tpw1")));
        QCOMPARE(db->value(QStringLiteral("SELECT HasVoted FROM Users WHERE Username='v1'")).toInt(), 1);

        // Held for good: the vote is reported as a locked file and not counted.
        const QByteArray held = *contents(db->file());
        QCOMPARE(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        run.send({QStringLiteral("vote\tPRES\tC1")});
        run.endInput();
        QCOMPARE(run.finish(), 5);
        QCOMPARE(run.boxes().filter(QStringLiteral("Critical")),
                 QStringList{QStringLiteral("Critical\tPollaris\tError 5: database is locked")});
        QCOMPARE(sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close_v2(holder);
        QCOMPARE(*contents(db->file()), held);
        QVERIFY(kept != held);
        QCOMPARE(db->rows(QStringLiteral("SELECT NumVotes FROM CandVote ORDER BY CandID")),
                 (QStringList{QStringLiteral("4"), QStringLiteral("9")}));
    }
};

POLLARIS_TEST_MAIN(FaultsTest)
#include "tst_reliability_faults.moc"
