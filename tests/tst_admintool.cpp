// The companion tool pollaris-admin, run as a separate process against real
// election files: creating a file, importing voters, printing results and
// backing up while votes are being written.

#include "TestSupport.h"

#include "screens/frmCountVotes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QScopeGuard>
#include <atomic>
#include <memory>
#include <thread>

struct Run {
    int exitCode = -1;
    QString out, err;
};

static Run admin(const QStringList &args)
{
    QProcess p;
    p.start(qEnvironmentVariable("POLLARIS_ADMIN"), args);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

class AdminToolTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    QString csv(const QByteArray &bytes)
    {
        QFile f(db->folder() + QStringLiteral("/voters.csv"));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? f.fileName() : QString();
    }

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(qEnvironmentVariable("POLLARIS_ADMIN")), "POLLARIS_ADMIN not set"); }
    void init() { db = std::make_unique<ElectionFolder>(); }

    void newRefusesAnExistingFileAndNoCommandCreatesAMissingOne()
    {
        Run r = admin({"new", "--admin", "x", "--password", "y", db->file()});
        QVERIFY(r.exitCode > 0 && r.err.contains(QStringLiteral("already exists")));
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM Administrators")), QStringList{"admin|secret"});

        QVERIFY(QFile::remove(db->file()));
        QCOMPARE(admin({"new", "--admin", "boss", "--password", "pw", db->file()}).exitCode, 0);
        QCOMPARE(db->rows(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")),
                 QStringList({"Administrators", "CandInfo", "CandVote", "Positions", "Users"}));
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM Administrators")), QStringList{"boss|pw"});

        // No command creates a missing file; a new one with no administrator given and
        // nothing to read is refused too.
        const QString missing = db->folder() + "/missing.mdb", copy = db->folder() + "/c.mdb";
        const QString list = csv("Name,ID,Password\nAnn,1,p\n");
        for (const QStringList &args : {QStringList{"import-voters", list, missing}, QStringList{"results", missing},
                                        QStringList{"backup", copy, missing}, QStringList{"new", missing}})
            QVERIFY2(admin(args).exitCode > 0 && !QFile::exists(missing) && !QFile::exists(copy),
                     qPrintable(args.join(' ')));
    }

    void newThroughALinkMakesTheFileAtItsEndForOwnerAndGroupOnly()
    {
        // The installed tool's default file is a link into the data folder.
        const QString data = db->folder() + QStringLiteral("/data"), link = db->folder() + QStringLiteral("/link.mdb");
        QVERIFY(QDir().mkdir(data) && QFile::link(data + QStringLiteral("/candpos4.mdb"), link));
        const Run made = admin({"new", "--admin", "boss", "--password", "pw", link});
        QVERIFY2(made.exitCode == 0, qPrintable(made.err));
        const QFileInfo file(data + QStringLiteral("/candpos4.mdb"));
        QVERIFY(file.isFile() && !file.isSymLink() && QFileInfo(link).isSymLink());
        QCOMPARE(file.permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup);
        // A data folder that is missing: refused, and the link stays for the next try.
        QVERIFY(QDir(data).removeRecursively());
        QVERIFY(admin({"new", "--admin", "boss", "--password", "pw", link}).exitCode > 0);
        QVERIFY(QFileInfo(link).isSymLink());

        // The command line: no command is a usage fault, on standard error.
        Run r = admin({});
        QVERIFY(r.exitCode == 2 && r.out.isEmpty() && r.err.contains(QStringLiteral("Usage: pollaris-admin")));
        r = admin({"--version"});
        QVERIFY(r.exitCode == 0 && r.out.startsWith(QStringLiteral("pollaris-admin ")) && r.err.isEmpty());
    }

    void importsAGoodRowOrRefusesTheWholeFile_data()
    {
        QTest::addColumn<QByteArray>("row");
        QTest::addColumn<QString>("fault");
        QTest::newRow("good") << QByteArray("J\xC3\xBCrgen \xC3\x84rger,\xC3\x84"
                                            "B1,\xC3\xA9t\xC3\xA9")
                              << QString();
        QTest::newRow("empty name") << QByteArray(",2026201,pw") << QStringLiteral("name is empty");
        QTest::newRow("empty id") << QByteArray("Ann,,pw") << QStringLiteral("student ID is empty");
        QTest::newRow("empty password") << QByteArray("Ann,2026201,\"\"") << QStringLiteral("password is empty");
        QTest::newRow("long name") << (QByteArray(51, 'n') + ",2026201,pw") << QStringLiteral("longer than 50");
        QTest::newRow("long id") << QByteArray("Ann,123456789012345678901,pw") << QStringLiteral("longer than 20");
        QTest::newRow("two fields") << QByteArray("Ann,2026201") << QStringLiteral("2 fields");
        QTest::newRow("registered, non-ASCII case") << QByteArray("Ann,\xC3\xA4"
                                                                  "b,pw")
                                                    << QStringLiteral("already registered");
        QTest::newRow("repeated in file, other case")
            << QByteArray("Ann,GOOD-1,pw") << QStringLiteral("repeats the one on line 2");
        QTest::newRow("unclosed quote") << QByteArray("Ann,2026201,\"pw") << QStringLiteral("not closed");
        QTest::newRow("stray quote") << QByteArray("An\"n,2026201,pw") << QStringLiteral("quote");
    }

    void importsAGoodRowOrRefusesTheWholeFile()
    {
        QFETCH(QByteArray, row);
        QFETCH(QString, fault);
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Old', 'ÄB', 'x', 1)"));
        // Good rows around the row under test on line 5: a byte order mark, CRLF and LF
        // mixed, a quoted field with a comma and doubled quotes, one across a line break.
        const QString list = csv("\xEF\xBB\xBFName,ID,Password\r\n\"Reyes, Maria\",good-1,\"say \"\"hi\"\"\"\r\n"
                                 "\"Two\nLines\",good-2,p2\n" +
                                 row + "\r\nlast,good-3,p3\n");
        Run r = admin({"import-voters", list, db->file()});
        if (fault.isEmpty())
            QVERIFY2(r.exitCode == 0 && r.out.contains(QStringLiteral("Imported 4")), qPrintable(r.err));
        else
            QVERIFY2(r.exitCode > 0 && r.err.contains(QStringLiteral("line 5: ")) && r.err.contains(fault) &&
                         r.err.contains(QStringLiteral("nothing was imported")),
                     qPrintable(r.err));
        QCOMPARE(db->rows(QStringLiteral("SELECT Name, Username, Password, HasVoted FROM Users ORDER BY rowid")),
                 fault.isEmpty() ? QStringList({"Old|ÄB|x|1", "Reyes, Maria|good-1|say \"hi\"|0",
                                                "Two\nLines|good-2|p2|0", "Jürgen Ärger|ÄB1|été|0", "last|good-3|p3|0"})
                                 : QStringList{"Old|ÄB|x|1"});
    }

    void resultsEqualTheResultsScreenAndTheirCsv()
    {
        // Codes in either case, a tally twice, a negative tally, a position with no candidates.
        db->exec(QStringLiteral(
            "INSERT INTO Positions VALUES ('P1', 'Head, \"Chief\"'), ('p2', 'Secretary'), ('P3', 'Nobody');"
            "INSERT INTO CandInfo VALUES ('A', 'Ana Cruz', '1', 'P1'), ('B', 'Li, Bo', '2', 'p1'), ('F', 'Fay', '6', "
            "'P1'),"
            " ('C', 'Carla Villanueva de los Santos', '3', 'P1'), ('D', 'Dee', '4', 'P2'), ('E', 'Émile', '5', 'p2');"
            "INSERT INTO CandVote VALUES ('A', 12), ('B', 40), ('C', 12), ('D', 0), ('E', 33000), ('b', 7), ('F', "
            "-1);"));
        startProgramIn(db->folder());
        frmCountVotes &screen = Shell::Show<frmCountVotes>();
        QString shown;
        for (const QString &code : db->rows(QStringLiteral("SELECT PosID FROM Positions"))) {
            screen.GetnDisplay(code);
            shown += (shown.isEmpty() ? "" : "\n") + screen.lblTitle->text().remove("Voting Results for ") + "\n";
            for (int i = 0; i < screen.lstResults->count(); ++i)
                shown += screen.lstResults->item(i)->text() + "\n";
        }
        Shell::reset();
        QCOMPARE(admin({"results", db->file()}).out, shown);
        // The same ranking as comma-separated values, quoted where a text needs it.
        QCOMPARE(admin({"results", "--csv", db->file()}).out.split("\r\n").mid(0, 3),
                 QStringList({"PosID,PosName,CandID,CandName,NumVotes", "P1,\"Head, \"\"Chief\"\"\",B,\"Li, Bo\",40",
                              "P1,\"Head, \"\"Chief\"\"\",A,Ana Cruz,12"}));
    }

    void backupIsConsistentWhileVotesAreWrittenAndNeverOverwrites()
    {
        // A file of some size, so that copying it takes a while. Each vote marks a voter
        // and moves one vote from B to A in one unit: a torn copy breaks the sums. The
        // copies are made in the place of this test's own file, and read there.
        ElectionFolder live;
        live.exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40000)"
            " INSERT INTO Users SELECT 'Voter ' || i, 'S' || i, printf('%020d', i), 0 FROM n;"
            "INSERT INTO CandVote VALUES ('A', 0), ('B', 1000000); CREATE TRIGGER vote AFTER UPDATE OF HasVoted ON "
            "Users"
            " WHEN old.HasVoted = 0 BEGIN UPDATE CandVote SET NumVotes = NumVotes + 1 WHERE CandID = 'A';"
            " UPDATE CandVote SET NumVotes = NumVotes - 1 WHERE CandID = 'B'; END;"));
        std::atomic<int> written{0}, stop{0};
        // Votes by student ID, one after another, on a connection of their own.
        std::thread writer([&] {
            for (int i = 1; !stop; ++i, ++written)
                live.exec(QStringLiteral("UPDATE Users SET HasVoted = 1 WHERE Username = 'S%1'").arg(i % 40000 + 1));
        });
        const auto joinWriter = qScopeGuard([&] { stop = 1, writer.join(); });
        const QString tally = QStringLiteral("SELECT NumVotes FROM CandVote WHERE CandID = 'A'");
        for (int k = 0; k < 3; ++k) {
            const int before = written;
            QTRY_VERIFY_WITH_TIMEOUT(written > before + 2, 20000); // votes go on between the copies
            QFile::remove(db->file());
            const Run copied = admin({"backup", db->file(), live.file()});
            QVERIFY2(copied.exitCode == 0, qPrintable(copied.err));
            QCOMPARE(
                db->rows(QStringLiteral("SELECT (SELECT * FROM pragma_integrity_check), sum(NumVotes), (SELECT count(*)"
                                        " FROM Users), sum(CASE CandID WHEN 'A' THEN NumVotes END) = (SELECT count(*) "
                                        "FROM Users WHERE HasVoted = 1)"
                                        " FROM CandVote")),
                QStringList{"ok|1000000|40000|1"});
            QVERIFY(db->value(tally).toInt() > before);
        }
        // An existing copy is never overwritten.
        const int last = db->value(tally).toInt();
        Run r = admin({"backup", db->file(), live.file()});
        QVERIFY(r.exitCode > 0 && r.err.contains(QStringLiteral("already exists")));
        QCOMPARE(db->value(tally).toInt(), last);
        QCOMPARE(live.value(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
    }
};

POLLARIS_TEST_MAIN(AdminToolTest)
#include "tst_admintool.moc"
