// The companion tool pollaris-admin, run as a separate process against real
// election files: creating a file, importing voters, printing results and
// backing up while votes are being written.

#include "TestSupport.h"

#include "screens/frmCountVotes.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <atomic>
#include <memory>
#include <sqlite3.h>
#include <thread>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run admin(const QStringList &args, const QByteArray &input = QByteArray())
{
    QProcess p;
    p.start(qEnvironmentVariable("POLLARIS_ADMIN"), args);
    if (!p.waitForStarted(10000))
        return {};
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    Run r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QString dashes(int n) { return QString(n, QLatin1Char('-')); }

// The file as a plain SQLite database: its own integrity verdict.
QString integrity(const QString &path)
{
    sqlite3 *db = nullptr;
    QString result;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK)
            while (sqlite3_step(stmt) == SQLITE_ROW)
                result += QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return result;
}

qint64 scalar(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    qint64 v = -1;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
            v = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return v;
}

} // namespace

class AdminToolTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    QString csv(const QByteArray &bytes)
    {
        const QString path = db->folder() + QStringLiteral("/voters.csv");
        writeFile(path, bytes);
        return path;
    }

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(qEnvironmentVariable("POLLARIS_ADMIN")), "POLLARIS_ADMIN not set"); }
    void init() { db = std::make_unique<ElectionFolder>(); }
    void cleanup() { db.reset(); }

    void newRefusesAnExistingFileAndCreatesTheFiveTables()
    {
        const QByteArray before = readAll(db->file());
        Run r = admin({QStringLiteral("new"), QStringLiteral("--admin"), QStringLiteral("x"),
                       QStringLiteral("--password"), QStringLiteral("y"), db->file()});
        QVERIFY(r.exitCode != 0);
        QVERIFY(r.err.contains(QStringLiteral("already exists")));
        QCOMPARE(readAll(db->file()), before);

        const QString fresh = db->folder() + QStringLiteral("/fresh.mdb");
        r = admin({QStringLiteral("new"), QStringLiteral("--admin"), QStringLiteral("boss"),
                   QStringLiteral("--password"), QStringLiteral("pw"), fresh});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(scalar(fresh, "SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN "
                               "('Positions','CandInfo','CandVote','Users','Administrators')"),
                 qint64(5));
        QCOMPARE(scalar(fresh, "SELECT count(*) FROM Administrators WHERE AdminUsername='boss' AND AdminPassword='pw'"),
                 qint64(1));
        QCOMPARE(integrity(fresh), QStringLiteral("ok"));

        // No options and nothing to read: a clean refusal, no file left behind.
        const QString none = db->folder() + QStringLiteral("/none.mdb");
        r = admin({QStringLiteral("new"), none});
        QVERIFY(r.exitCode > 0);
        QVERIFY(!r.err.isEmpty());
        QVERIFY(!QFile::exists(none));
    }

    void commandsNeverCreateAMissingFile()
    {
        const QString missing = db->folder() + QStringLiteral("/missing.mdb");
        const QString list = csv("Name,ID,Password\nAnn,1,p\n");
        for (const QStringList &args : {QStringList{QStringLiteral("import-voters"), list, missing},
                                        QStringList{QStringLiteral("results"), missing},
                                        QStringList{QStringLiteral("backup"), db->folder() + QStringLiteral("/c.mdb"), missing}}) {
            Run r = admin(args);
            QVERIFY2(r.exitCode > 0, qPrintable(args.join(' ')));
            QVERIFY(!r.err.isEmpty());
            QVERIFY(!QFile::exists(missing));
            QVERIFY(!QFile::exists(db->folder() + QStringLiteral("/c.mdb")));
        }
        Run help = admin({QStringLiteral("import-voters"), QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains(QStringLiteral("import-voters")));
    }

    void importsAGoodRegister()
    {
        // Quoted fields with commas, doubled quotes and a line break; CRLF and LF
        // mixed; a byte order mark; non-ASCII names.
        const QString list = csv("\xEF\xBB\xBFName,Student ID,Password\r\n"
                                 "\"Reyes, Maria\",2026101,\"say \"\"hi\"\"\"\r\n"
                                 "\"Two\nLines\",2026102,pw2\n"
                                 "J\xC3\xBCrgen \xC3\x84rger,\xC3\x84" "B1,\xC3\xA9t\xC3\xA9\n");
        Run r = admin({QStringLiteral("import-voters"), list, db->file()});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(QStringLiteral("Imported 3")), qPrintable(r.out));
        QCOMPARE(db->rows(QStringLiteral("SELECT Name, Username, Password, HasVoted FROM Users ORDER BY rowid")),
                 QStringList({QStringLiteral("Reyes, Maria|2026101|say \"hi\"|0"),
                              QStringLiteral("Two\nLines|2026102|pw2|0"),
                              QStringLiteral("Jürgen Ärger|ÄB1|été|0")}));
    }

    void refusesEachKindOfBadRowAndImportsNothing_data()
    {
        QTest::addColumn<QByteArray>("row");
        QTest::addColumn<QString>("fault");
        QTest::newRow("empty name") << QByteArray(",2026201,pw") << QStringLiteral("name is empty");
        QTest::newRow("empty id") << QByteArray("Ann,,pw") << QStringLiteral("student ID is empty");
        QTest::newRow("empty password") << QByteArray("Ann,2026201,\"\"") << QStringLiteral("password is empty");
        QTest::newRow("long name") << (QByteArray(51, 'n') + ",2026201,pw") << QStringLiteral("longer than 50");
        QTest::newRow("long id") << QByteArray("Ann,123456789012345678901,pw") << QStringLiteral("longer than 20");
        QTest::newRow("long password") << QByteArray("Ann,2026201,123456789012345678901") << QStringLiteral("longer than 20");
        QTest::newRow("two fields") << QByteArray("Ann,2026201") << QStringLiteral("2 fields");
        QTest::newRow("four fields") << QByteArray("Ann,2026201,pw,x") << QStringLiteral("4 fields");
        QTest::newRow("registered, other case") << QByteArray("Ann,ab-7,pw") << QStringLiteral("already registered");
        QTest::newRow("registered, non-ASCII case") << QByteArray("Ann,\xC3\xA4" "b,pw") << QStringLiteral("already registered");
        QTest::newRow("repeated in file") << QByteArray("Ann,GOOD-1,pw") << QStringLiteral("repeats the one on line 2");
        QTest::newRow("unclosed quote") << QByteArray("Ann,2026201,\"pw") << QStringLiteral("not closed");
        QTest::newRow("stray quote") << QByteArray("An\"n,2026201,pw") << QStringLiteral("quote");
    }

    void refusesEachKindOfBadRowAndImportsNothing()
    {
        QFETCH(QByteArray, row);
        QFETCH(QString, fault);
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Old', 'AB-7', 'x', 1), ('Older', 'ÄB', 'y', 0)"));
        // The bad row sits on line 5, after a good row and a good row spanning two lines.
        const QString list = csv("Name,ID,Password\ngood one,good-1,p1\n\"good\ntwo\",good-2,p2\n" + row + "\nlast,good-3,p3\n");
        Run r = admin({QStringLiteral("import-voters"), list, db->file()});
        QVERIFY(r.exitCode > 0);
        QVERIFY2(r.err.contains(QStringLiteral("line 5: ")), qPrintable(r.err));
        QVERIFY2(r.err.contains(fault), qPrintable(r.err));
        QVERIFY(r.err.contains(QStringLiteral("nothing was imported")));
        for (int line : {2, 3, 4, 6})
            QVERIFY(!r.err.contains(QStringLiteral("line %1:").arg(line)));
        QCOMPARE(db->rows(QStringLiteral("SELECT Username, HasVoted FROM Users ORDER BY rowid")),
                 QStringList({QStringLiteral("AB-7|1"), QStringLiteral("ÄB|0")}));
    }

    void namesEveryBadRowAtOnce()
    {
        const QString list = csv("Name,ID,Password\r\nAnn,1,p\r\n,2,p\r\nBob,3\r\n\"C\"\"x\nD\",4,p\r\nEve,1,p\r\nab,\xC3\x84Q,p\r\ncd,\xC3\xA4q,p\r\n");
        Run r = admin({QStringLiteral("import-voters"), list, db->file()});
        QVERIFY(r.exitCode > 0);
        for (int line : {3, 4, 7, 9})
            QVERIFY2(r.err.contains(QStringLiteral("line %1: ").arg(line)), qPrintable(r.err));
        for (int line : {2, 5, 6, 8})
            QVERIFY2(!r.err.contains(QStringLiteral("line %1: ").arg(line)), qPrintable(r.err));
        QCOMPARE(db->count(QStringLiteral("Users")), qint64(0));
    }

    void resultsPrintsTheRankedLines()
    {
        const QString fifty = QString(50, QLatin1Char('N'));
        db->exec(QStringLiteral(
            "INSERT INTO Positions VALUES ('P1', 'President'), ('P2', 'Secretary'), ('P3', 'Treasurer');"
            "INSERT INTO CandInfo VALUES ('A', 'Abcdefghi', '1', 'P1'), ('B', 'Bea', '2', 'P1'),"
            " ('C', 'Cid', '3', 'p1'), ('D', 'Dee', '4', 'P1'), ('E', '%1', '5', 'P2'),"
            " ('F', 'Fay', '6', 'P2'), ('G', 'Gus', '7', 'P2'), ('H', 'Hal', '8', 'P2');"
            "INSERT INTO CandVote VALUES ('A', 12), ('B', 5), ('C', 0), ('D', 5), ('E', 25),"
            " ('f', 99), ('F', 40000), ('G', -3), ('Z', 70), ('', 1);").arg(fifty));
        Run r = admin({QStringLiteral("results"), db->file()});
        QCOMPARE(r.exitCode, 0);
        const QStringList expected = {
            QStringLiteral("President"),
            QStringLiteral("Abcdefghi") + dashes(49) + QStringLiteral(" 12"),
            QStringLiteral("Bea") + dashes(62) + QStringLiteral(" 5"),
            QStringLiteral("Dee") + dashes(62) + QStringLiteral(" 5"),
            QStringLiteral("Cid") + dashes(67) + QStringLiteral(" 0"),
            QString(),
            QStringLiteral("Secretary"),
            QStringLiteral("Fay 40000"),
            fifty + QStringLiteral(" 25"),
            QStringLiteral("Gus") + dashes(70) + QStringLiteral("-3"),
            QString(),
            QStringLiteral("Treasurer"),
            QString()};
        QCOMPARE(r.out.split(QLatin1Char('\n')), expected);
        // A name of 9 with 12 votes makes a line of 61 characters.
        QCOMPARE(expected.at(1).size(), 61);
    }

    void resultsEqualTheResultsScreen()
    {
        db->exec(QStringLiteral(
            "INSERT INTO Positions VALUES ('P1', 'President'), ('p2', 'Secretary'), ('P3', 'Nobody');"
            "INSERT INTO CandInfo VALUES ('A', 'Ana Cruz', '1', 'P1'), ('B', 'Bo', '2', 'p1'),"
            " ('C', 'Carla Villanueva de los Santos', '3', 'P1'), ('D', 'Dee', '4', 'P2'), ('E', 'Émile', '5', 'p2'),"
            " ('F', 'Fay', '6', 'P1');"
            "INSERT INTO CandVote VALUES ('A', 12), ('B', 40), ('C', 12), ('D', 0), ('E', 33000), ('b', 7), ('F', -1);"));
        Run r = admin({QStringLiteral("results"), db->file()});
        QCOMPARE(r.exitCode, 0);
        const QStringList blocks = r.out.split(QStringLiteral("\n\n"));
        QCOMPARE(blocks.size(), 3);

        startProgramIn(db->folder());
        Shell::Show<frmCountVotes>();
        frmCountVotes &screen = Shell::Get<frmCountVotes>();
        const QStringList codes = {QStringLiteral("P1"), QStringLiteral("p2"), QStringLiteral("P3")};
        for (int p = 0; p < codes.size(); ++p) {
            screen.GetnDisplay(codes.at(p));
            QStringList shown;
            for (int i = 0; i < screen.lstResults->count(); ++i)
                shown << screen.lstResults->item(i)->text();
            QStringList printed = blocks.at(p).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            const QString name = printed.takeFirst();
            QCOMPARE(screen.lblTitle->text(), QStringLiteral("Voting Results for ") + name);
            QCOMPARE(printed, shown);
        }
        QCOMPARE(screen.lstResults->count(), 0);
        QVERIFY(blocks.at(0).contains(QStringLiteral("\nBo") + dashes(28) + QStringLiteral(" 40\n")));
        QCOMPARE(shownBoxes(), QStringList());
        Shell::reset();
    }

    void resultsAsCsv()
    {
        db->exec(QStringLiteral(
            "INSERT INTO Positions VALUES ('P1', 'Head, \"Chief\"'), ('P2', 'Clerk');"
            "INSERT INTO CandInfo VALUES ('A', 'Ann', '1', 'P1'), ('B', 'Li, Bo', '2', 'P1'), ('C', 'Cy', '3', 'P2');"
            "INSERT INTO CandVote VALUES ('A', 1), ('B', 3), ('C', 0);"));
        Run r = admin({QStringLiteral("results"), QStringLiteral("--csv"), db->file()});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("PosID,PosName,CandID,CandName,NumVotes\r\n"
                                       "P1,\"Head, \"\"Chief\"\"\",B,\"Li, Bo\",3\r\n"
                                       "P1,\"Head, \"\"Chief\"\"\",A,Ann,1\r\n"
                                       "P2,Clerk,C,Cy,0\r\n"));
    }

    void backupMakesAWholeCopyAndNeverOverwrites()
    {
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Ann', '1', 'p', 0), ('Bob', '2', 'q', 1);"
                                "INSERT INTO CandVote VALUES ('A', 7);"));
        const QString copy = db->folder() + QStringLiteral("/copy.mdb");
        Run r = admin({QStringLiteral("backup"), copy, db->file()});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(integrity(copy), QStringLiteral("ok"));
        QCOMPARE(scalar(copy, "SELECT count(*) FROM Users"), qint64(2));
        QCOMPARE(scalar(copy, "SELECT NumVotes FROM CandVote"), qint64(7));
        QCOMPARE(QDir(db->folder()).entryList(QDir::Files | QDir::NoDotAndDotDot),
                 QStringList({QStringLiteral("candpos4.mdb"), QStringLiteral("copy.mdb")}));

        const QByteArray before = readAll(copy);
        db->exec(QStringLiteral("UPDATE CandVote SET NumVotes = 8"));
        r = admin({QStringLiteral("backup"), copy, db->file()});
        QVERIFY(r.exitCode > 0);
        QVERIFY(r.err.contains(QStringLiteral("already exists")));
        QCOMPARE(readAll(copy), before);
    }

    void backupWhileVotesAreWritten()
    {
        // A file of some size, so that copying it takes a while.
        db->exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40000)"
            " INSERT INTO Users SELECT 'Voter ' || i, 'S' || i, printf('%020d', i), 0 FROM n;"
            "INSERT INTO CandVote VALUES ('A', 0), ('B', 1000000);"));
        // Another connection keeps casting votes, each one unit that moves one
        // vote from B to A and marks a voter: a torn copy breaks the sums.
        std::atomic<bool> stop{false};
        std::atomic<int> written{0};
        const QByteArray path = db->file().toUtf8();
        std::thread writer([&] {
            sqlite3 *w = nullptr;
            if (sqlite3_open_v2(path.constData(), &w, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
                return;
            sqlite3_busy_timeout(w, 10000);
            for (int i = 1; !stop; ++i) {
                const QByteArray sql = QStringLiteral(
                    "BEGIN IMMEDIATE; UPDATE CandVote SET NumVotes = NumVotes + 1 WHERE CandID = 'A';"
                    " UPDATE Users SET HasVoted = 1 WHERE Username = 'S%1';"
                    " UPDATE CandVote SET NumVotes = NumVotes - 1 WHERE CandID = 'B'; COMMIT;")
                                           .arg(i % 40000 + 1)
                                           .toUtf8();
                if (sqlite3_exec(w, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK)
                    ++written;
                else
                    sqlite3_exec(w, "ROLLBACK", nullptr, nullptr, nullptr);
            }
            sqlite3_close_v2(w);
        });
        QTRY_VERIFY_WITH_TIMEOUT(written > 3, 20000);
        QList<qint64> taken;
        for (int k = 0; k < 3; ++k) {
            const int before = written;
            const QString copy = db->folder() + QStringLiteral("/copy%1.mdb").arg(k);
            Run r = admin({QStringLiteral("backup"), copy, db->file()});
            QCOMPARE(r.exitCode, 0);
            QCOMPARE(integrity(copy), QStringLiteral("ok"));
            const qint64 a = scalar(copy, "SELECT NumVotes FROM CandVote WHERE CandID = 'A'");
            QCOMPARE(scalar(copy, "SELECT sum(NumVotes) FROM CandVote"), qint64(1000000));
            QCOMPARE(scalar(copy, "SELECT count(*) FROM Users WHERE HasVoted = 1"), a);
            QCOMPARE(scalar(copy, "SELECT count(*) FROM Users"), qint64(40000));
            QVERIFY(a >= before);
            taken << a;
            QTRY_VERIFY_WITH_TIMEOUT(written > before + 2, 20000); // votes go on between the copies
        }
        stop = true;
        writer.join();
        QVERIFY(taken.at(0) < taken.at(2));
        QCOMPARE(integrity(db->file()), QStringLiteral("ok"));
    }
};

POLLARIS_TEST_MAIN(AdminToolTest)
#include "tst_admintool.moc"
