// pollaris-admin preparing an election, as a separate process against elections in
// files and on a server: the ballot from a spreadsheet, voters' accounts with
// generated passwords, and the password slips read back from their PDF.

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QStandardPaths>
#include <atomic>
#include <memory>
#include <sys/stat.h>
#include <thread>

// Every row of every table, in the order the rows were added.
static QStringList everything(const ElectionFolder &e)
{
    QStringList all;
    for (const char *table : {"Positions", "CandInfo", "CandVote", "Users", "Administrators"})
        all << table + e.rows(QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(table)).join("\n");
    return all;
}

static const char *const kLongName = "Maria Fernanda de los Santos Villanueva Ocampo III"; // 50 characters

// The characters a generated password may hold: lower-case letters and digits
// without the ones read as another (0 o, 1 l i, 2 z, 5 s, 6 8 b, 9 g q).
static const QString kEasyToType = QStringLiteral("acdefhjkmnprtuvwxy34679");

// The slips of a PDF, page by page, each as its name, student ID, password and
// where to vote. Each slip is read alone from its place on the page (2 across,
// 4 down, inside a margin of 10 mm), so that what one slip says is never mixed
// with its neighbour's; an empty place ends the slips.
static QList<QStringList> slipsIn(const QString &pdf, QString *fault)
{
    QList<QStringList> slips;
    const QString info = runProgram(QStringLiteral("pdfinfo"), {pdf}).out;
    const int pages = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info).captured(1).toInt();
    const QString size = QRegularExpression(QStringLiteral("Page size:\\s+(.*)")).match(info).captured(1);
    if (!size.contains(QLatin1String("(A4)")))
        *fault = QStringLiteral("the page is not A4: ") + size;
    const double mm = 72 / 25.4, margin = 10 * mm, across = (210 - 20) * mm / 2, down = (297 - 20) * mm / 4;
    bool ended = false;
    for (int page = 1; page <= pages; ++page) {
        for (int place = 0; place < 8; ++place) {
            const double x = margin + (place % 2) * across, y = margin + (place / 2) * down;
            QString text =
                runProgram(QStringLiteral("pdftotext"),
                           {"-f", QString::number(page), "-l", QString::number(page), "-x", QString::number(int(x + 2)),
                            "-y", QString::number(int(y + 2)), "-W", QString::number(int(across - 4)), "-H",
                            QString::number(int(down - 4)), pdf, "-"})
                    .out.normalized(QString::NormalizationForm_KC);
            text.remove(
                QRegularExpression(QStringLiteral("[\\x{200E}\\x{200F}\\x{202A}-\\x{202E}\\x{2066}-\\x{2069}]")));
            QStringList lines;
            for (const QString &l : text.split(QLatin1Char('\n')))
                if (!l.trimmed().isEmpty())
                    lines << l.simplified();
            if (lines.isEmpty()) {
                ended = true;
                continue;
            }
            const qsizetype id = lines.indexOf(QStringLiteral("Student ID (your user name)"));
            const qsizetype advice =
                lines.indexOf(QStringLiteral("Type both exactly as printed. Keep this slip to yourself."));
            if (ended || lines.value(0) != QLatin1String("Student election") || id < 2 ||
                lines.value(id + 2) != QLatin1String("Password") ||
                lines.value(id + 4) != QLatin1String("Where to vote") || advice < id + 6) {
                *fault = QStringLiteral("page %1, slip %2 is not a whole slip: %3")
                             .arg(page)
                             .arg(place + 1)
                             .arg(lines.join('/'));
                return slips;
            }
            slips << QStringList{lines.mid(1, id - 1).join(' '), lines.value(id + 1), lines.value(id + 3),
                                 lines.mid(id + 5, advice - id - 5).join(' ')};
        }
    }
    return slips;
}

class AdminToolPrepareTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    QString csv(const QByteArray &bytes, const QString &name = QStringLiteral("input.csv"))
    {
        QFile f(db->folder() + '/' + name);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? f.fileName() : QString();
    }

    // A ballot begun on the panel: a position, a candidate with a tally, and a
    // tally that belongs to no candidate.
    void ballotBegunOnThePanel()
    {
        db->exec("INSERT INTO Positions VALUES ('SEC', 'Secretary');"
                 "INSERT INTO CandInfo VALUES ('OLD', 'Old Timer', '2020-1', 'SEC');"
                 "INSERT INTO CandVote VALUES ('OLD', 0), ('GHOST', 0)");
    }

    // The slips of pdf as "name|id|password" and the where-to-vote lines, or a failure.
    QStringList printed(const QString &pdf, QStringList *where = nullptr)
    {
        QString fault;
        const QList<QStringList> slips = slipsIn(pdf, &fault);
        if (!fault.isEmpty())
            QTest::qFail(qPrintable(fault), __FILE__, __LINE__);
        QStringList out;
        for (const QStringList &s : slips) {
            out << s.mid(0, 3).join('|');
            if (where)
                *where << s.value(3);
        }
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(qEnvironmentVariable("POLLARIS_ADMIN")), "POLLARIS_ADMIN not set");
        for (const char *tool : {"pdftotext", "pdfinfo"})
            QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(),
                     "poppler-utils is needed to read the slips back");
    }
    void initTestCase_data() { addEngineRows(); }
    void init()
    {
        FETCH_ENGINE(engine);
        db = std::make_unique<ElectionFolder>(engine);
    }

    void theNewCommandsAreListedAndExplained()
    {
        const Run list = admin({"--help"});
        QVERIFY(list.exitCode == 0 && list.out.contains("import-ballot") && list.out.contains("slips"));
        for (const char *command : {"import-ballot", "slips"}) {
            const Run help = admin({command, "--help"});
            QVERIFY2(help.exitCode == 0 &&
                         help.out.contains(QStringLiteral("pollaris-admin %1 [options]").arg(command)),
                     qPrintable(help.out + help.err));
        }
        QVERIFY(admin({"import-voters", "--help"}).out.contains("--passwords <column|generate>"));
    }

    // Positions and candidates in the file's order; columns by other names, in another
    // order, separated by semicolons; a position repeated for each candidate, in either
    // letter case; a position alone; a candidate for a position begun on the panel.
    void importBallotAddsPositionsAndCandidatesEachWithATallyOfZero()
    {
        ballotBegunOnThePanel();
        const QString file = csv("\xEF\xBB\xBF"
                                 "Candidate; Position ID ;STUDENT_NUMBER;Position;Candidate ID\r\n"
                                 "Ana Cruz;PRES;2026-01;President;A1\r\n"
                                 "\"Li; Bo\";pres;2026-02;President;b1\r\n"
                                 " محمد علي ;VP;2026-03;Vice President;C1\r\n"
                                 ";;;;\r\n"
                                 "王小明;sec;2026-04;Secretary;D1\r\n"
                                 ";TRS;;Treasurer;\r\n"
                                 "Émile Zola;VP; 2026-05;Vice President; E1\r\n");
        const Run r = admin(QStringList{"import-ballot", file} + db->toolArguments());
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(r.out.contains("Added 3 position(s) and 5 candidate(s)") &&
                     r.out.contains("took new candidates: SEC") && r.out.contains("outer blanks of 3 field(s)"),
                 qPrintable(r.out));
        QCOMPARE(db->rows("SELECT PosID, PosName FROM Positions ORDER BY rowid"),
                 QStringList({"SEC|Secretary", "PRES|President", "VP|Vice President", "TRS|Treasurer"}));
        // Each candidate on the position's code as stored, whatever the case of the row.
        QCOMPARE(db->rows("SELECT CandID, CandName, StudentNum, PosID FROM CandInfo ORDER BY rowid"),
                 QStringList({"OLD|Old Timer|2020-1|SEC", "A1|Ana Cruz|2026-01|PRES", "b1|Li; Bo|2026-02|PRES",
                              "C1|محمد علي|2026-03|VP", "D1|王小明|2026-04|SEC", "E1|Émile Zola|2026-05|VP"}));
        QCOMPARE(db->rows("SELECT CandID, NumVotes FROM CandVote ORDER BY rowid"),
                 QStringList({"OLD|0", "GHOST|0", "A1|0", "b1|0", "C1|0", "D1|0", "E1|0"}));
        // The results read the new ballot as the results screen would.
        const Run results = admin(QStringList{"results"} + db->toolArguments());
        QVERIFY2(results.exitCode == 0 && results.out.contains("President") && results.out.contains("Émile Zola"),
                 qPrintable(results.out + results.err));

        // The same file again: every candidate's code is taken now, and nothing changes.
        const QStringList before = everything(*db);
        const Run again = admin(QStringList{"import-ballot", file} + db->toolArguments());
        QVERIFY2(refused(again, file + " line 2: candidate code 'A1' is already taken by 'Ana Cruz'") &&
                     again.err.contains("5 fault(s)"),
                 qPrintable(again.err));
        QCOMPARE(everything(*db), before);
    }

    // A ballot is taken whole or not at all; each fault is named by its line.
    void importBallotNamesEveryFaultByLineAndWritesNothing_data()
    {
        QTest::addColumn<QByteArray>("row");
        QTest::addColumn<QString>("fault");
        const auto fault = [](const char *name, const QByteArray &row, const QString &words) {
            QTest::newRow(name) << row << words;
        };
        // The row goes on line 4, after PRES/President with A and B (lines 2, 3).
        fault("position code of 6", "ABCDEF,Head,X1,Xi,1", "4: the position code is longer than 5 characters");
        fault("candidate code of 9", "PRES,President,ABCDEFGHI,Xi,1",
              "4: the candidate code is longer than 8 characters");
        fault("name of 51", "PRES,President,X1," + QByteArray(kLongName) + "I,1",
              "4: the candidate name is longer than 50 characters");
        fault("position name of 51", "P9," + QByteArray(kLongName) + "I,X1,Xi,1",
              "4: the position name is longer than 50 characters");
        fault("student ID of 21", "PRES,President,X1,Xi,123456789012345678901",
              "4: the student ID is longer than 20 characters");
        fault("another name for a code", "pres,Chief,X1,Xi,1",
              "4: position 'pres' is named 'Chief' here but 'President' on line 2");
        fault("another name for a position on the ballot", "sec,Clerk,X1,Xi,1",
              "4: position 'sec' is on the ballot already, named 'Secretary', not 'Clerk'");
        fault("candidate code twice, other case", "PRES,President,a,Xi,1",
              "4: candidate code 'a' repeats the one on line 2");
        fault("candidate code on the ballot", "PRES,President,old,Xi,1",
              "4: candidate code 'old' is already taken by 'Old Timer'");
        fault("candidate code of a stray tally", "PRES,President,Ghost,Xi,1",
              "4: candidate code 'Ghost' already has a tally on the ballot");
        fault("candidate without a name", "PRES,President,X1,,1", "4: the candidate name is empty");
        fault("candidate without a student ID", "PRES,President,X1,Xi, ", "4: the student ID is empty");
        fault("no position code", ",President,X1,Xi,1", "4: the position code is empty");
        fault("four fields", "PRES,President,X1,Xi", "4: 4 fields, expected 5");
        fault("a tab", "PRES,President,X1,\"X\ti\",1", "4: the candidate name holds a control character (U+0009)");
        fault("unclosed quote", "PRES,President,X1,\"Xi,1", "4: a quoted field is not closed");
    }

    void importBallotNamesEveryFaultByLineAndWritesNothing()
    {
        QFETCH(QByteArray, row);
        QFETCH(QString, fault);
        ballotBegunOnThePanel();
        const QByteArray head = "Position Code,Position Name,Candidate Code,Candidate Name,Student ID\n"
                                "PRES,President,A,Ana,1\nPRES,President,B,Bo,2\n";
        const QStringList before = everything(*db);
        const QString file = csv(head + row + "\nVP,Vice President,C,Cy,3\n");
        const Run r = admin(QStringList{"import-ballot", file} + db->toolArguments());
        QVERIFY2(refused(r, file + " line " + fault) && r.err.contains("1 fault(s)") &&
                     r.err.contains("nothing was imported"),
                 qPrintable(r.err));
        QCOMPARE(r.out, QString());
        QCOMPARE(everything(*db), before);
        // Without that row the same file is taken whole: the row alone was at fault.
        const Run ok =
            admin(QStringList{"import-ballot", csv(head + "VP,Vice President,C,Cy,3\n")} + db->toolArguments());
        QVERIFY2(ok.exitCode == 0 && ok.out.contains("Added 2 position(s) and 3 candidate(s)"), qPrintable(ok.err));
    }

    void importBallotRefusesAHeaderItCannotRead_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("fault");
        QTest::newRow("no student ID") << QByteArray(
                                              "Position Code,Position Name,Candidate Code,Candidate Name\nP,Q,R,S\n")
                                       << "line 1: the first row must be the header naming the columns Position Code, "
                                          "Position Name, Candidate Code, Candidate Name and Student ID, in any order "
                                          "(no column Student ID)";
        QTest::newRow("a column of no use")
            << QByteArray("Position Code,Position Name,Candidate Code,Candidate Name,Student ID,Notes\n")
            << "line 1: the first row must be the header naming the columns" + QString(" ") +
                   "Position Code, Position Name, Candidate Code, Candidate Name and Student ID, in any order (the "
                   "column 'Notes' is none of the ballot's)";
        QTest::newRow("a column twice")
            << QByteArray("PosID,Position ID,Position Name,Candidate Code,Candidate Name,Student ID\n")
            << "(two columns are the Position Code)";
        QTest::newRow("not UTF-8") << QByteArray("Position Code,Position Name,Candidate Code,Candidate Name,Student "
                                                 "ID\nP,Caf\xE9,R,S,1\n")
                                   << "line 2: the file is not UTF-8 text";
        // Below its header, nothing: refused rather than taken for an empty ballot.
        QTest::newRow("no rows") << QByteArray(
                                        "Position Code,Position Name,Candidate Code,Candidate Name,Student ID\n,,,,\n")
                                 << "holds no position below its header";
    }

    void importBallotRefusesAHeaderItCannotRead()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, fault);
        const QStringList before = everything(*db);
        const QString file = csv(bytes);
        const Run r = admin(QStringList{"import-ballot", file} + db->toolArguments());
        QVERIFY2(refused(r, fault) && r.err.contains(file) && r.err.contains("nothing was imported"),
                 qPrintable(r.err));
        QCOMPARE(everything(*db), before);
    }

    // Many faults: the first 20 are listed, then how many more; none is written.
    void importBallotListsTwentyFaultsThenCountsTheRest()
    {
        QByteArray bytes = "Position Code,Position Name,Candidate Code,Candidate Name,Student ID\n";
        for (int i = 0; i < 25; ++i)
            bytes += "P,Head,C" + QByteArray::number(i) + ",,1\n";
        const QString file = csv(bytes);
        const Run r = admin(QStringList{"import-ballot", file} + db->toolArguments());
        QVERIFY2(refused(r, "... and 5 more") && r.err.contains("25 fault(s)") && r.err.contains(file + " line 21:") &&
                     !r.err.contains(file + " line 22:"),
                 qPrintable(r.err));
        QCOMPARE(db->count("Positions") + db->count("CandInfo") + db->count("CandVote"), 0);
    }

    // Once any vote is cast the ballot stays as the voters saw it.
    void importBallotRefusedOnceAVoteIsCast_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("nothing cast") << "INSERT INTO Users VALUES ('V1', 'u1', 'p', false), ('V2', 'u2', 'p', NULL)"
                                      << QString();
        QTest::newRow("a tally") << "UPDATE CandVote SET NumVotes = 1 WHERE CandID = 'OLD'"
                                 << "already holds votes (1 tally(ies) not 0, 0 account(s) logged in)";
        QTest::newRow("a voter logged in")
            << "INSERT INTO Users VALUES ('V1', 'u1', 'p', false), ('V2', 'u2', 'p', true)"
            << "already holds votes (0 tally(ies) not 0, 1 account(s) logged in)";
    }

    void importBallotRefusedOnceAVoteIsCast()
    {
        QFETCH(QString, sql);
        QFETCH(QString, refusal);
        ballotBegunOnThePanel();
        db->exec(sql);
        const QStringList before = everything(*db);
        const QString file = csv("Position Code,Position Name,Candidate Code,Candidate Name,Student ID\n"
                                 "PRES,President,A,Ana,1\nSEC,Secretary,B,Bo,2\n");
        const Run r = admin(QStringList{"import-ballot", file} + db->toolArguments());
        if (refusal.isEmpty()) {
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            QCOMPARE(db->count("CandInfo"), 3);
            return;
        }
        QVERIFY2(refused(r, refusal) && r.err.contains("the ballot cannot change once voting has begun") &&
                     r.err.contains("nothing was imported"),
                 qPrintable(r.err));
        QCOMPARE(everything(*db), before);
    }

    // Every new account gets its own password of 10 characters, each from the easy
    // alphabet, drawn evenly enough that 2,500 characters use every one of its 23
    // symbols; the accounts already there keep theirs, and no password is shown.
    void importVotersGeneratesPasswordsThatAreEasyToType()
    {
        db->exec("INSERT INTO Users VALUES ('Old', 'old1', 'kept', false)");
        QByteArray bytes = "Name;Student ID\r\n";
        for (int i = 0; i < 250; ++i)
            bytes += "Voter " + QByteArray::number(i) + ";s" + QByteArray::number(i) + "\r\n";
        const QString file = csv(bytes);
        const Run r = admin(QStringList{"import-voters", "--passwords", "generate", file} + db->toolArguments());
        QVERIFY2(r.exitCode == 0 && r.out.contains("Imported 250 voter(s)") && r.out.contains("pollaris-admin slips"),
                 qPrintable(r.err));
        const QStringList users = db->rows("SELECT Name, Username, Password, HasVoted FROM Users ORDER BY rowid");
        QCOMPARE(users.size(), 251);
        QCOMPARE(users.first(), QStringLiteral("Old|old1|kept|0"));
        const QRegularExpression easy(QStringLiteral("^[%1]{10}$").arg(kEasyToType));
        QSet<QString> passwords;
        QSet<QChar> used;
        for (int i = 1; i < users.size(); ++i) {
            const QStringList f = users.at(i).split('|');
            QCOMPARE(f.value(0), QStringLiteral("Voter %1").arg(i - 1));
            QCOMPARE(f.value(1), QStringLiteral("s%1").arg(i - 1));
            QCOMPARE(f.value(3), QStringLiteral("0"));
            const QString password = f.value(2);
            QVERIFY2(easy.match(password).hasMatch(), qPrintable(password));
            QVERIFY2(!r.out.contains(password) && !r.err.contains(password), "a password was shown");
            passwords.insert(password);
            for (const QChar c : password)
                used.insert(c);
        }
        QCOMPARE(passwords.size(), 250);
        QCOMPARE(used.size(), kEasyToType.size());
    }

    void importVotersTakesPasswordsFromOnePlaceOnly_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("generate, with a Password column")
            << QStringList{"--passwords", "generate"} << QByteArray("Name,Student ID,Password\nAnn,1,pw\n") << 1
            << "line 1: the register has a Password column, but --passwords generate makes the passwords";
        QTest::newRow("no Password column, none generated")
            << QStringList() << QByteArray("Name,Student ID\nAnn,1\n") << 1
            << "line 1: the first row must be the header naming the columns Name, Student ID (or Username) and "
               "Password (or give --passwords generate to make the passwords)";
        QTest::newRow("generate, a row with a password")
            << QStringList{"--passwords", "generate"} << QByteArray("Name,Student ID\nAnn,1\nBo,2,pw\n") << 1
            << "line 3: 3 fields, expected 2 (name, student ID)";
        QTest::newRow("another source") << QStringList{"--passwords", "random"}
                                        << QByteArray("Name,Student ID\nAnn,1\n") << 2
                                        << "--passwords takes 'column' or 'generate', not 'random'";
    }

    void importVotersTakesPasswordsFromOnePlaceOnly()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        QFETCH(QString, refusal);
        const Run r = admin(QStringList{"import-voters"} + options + QStringList{csv(bytes)} + db->toolArguments());
        QCOMPARE(r.exitCode, status);
        QVERIFY2(r.err.contains(refusal), qPrintable(r.err));
        QCOMPARE(db->count("Users"), 0);
    }

    // One slip per account, each with its own name, student ID and password as stored,
    // eight to a page, in the register's order or sorted; with --not-logged-in, only
    // the accounts that have not logged in (a NULL flag counts as not).
    void slipsCarryEveryVoterOnceWithThePasswordAsStored()
    {
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Voter 10', 's10', 'kq7m-Pw', false), ('bo Li', 'S2', "
                                "'0O1lI', NULL), ('Ana Cruz', 's1', 'p3', true), ('Voter 9', 's9', 'p4', false), ("
                                "'محمد علي', 'a7', 'p5', false), ('王小明', 'b3', 'p6', false), ('%1', 'c5', 'p7', "
                                "false), ('Émile Zola', 's11', 'p8', true), ('Reyes, Jo', 'd4', 'p9', false), ('Carl', "
                                "'e6', 'p10', false)")
                     .arg(QLatin1String(kLongName)));
        // Ten more accounts with generated passwords: three pages in all.
        QByteArray more = "Name,Student ID\n";
        for (int i = 1; i <= 10; ++i)
            more += "Gen " + QByteArray::number(i) + ",g" + QByteArray::number(i) + "\n";
        QCOMPARE(
            admin(QStringList{"import-voters", "--passwords", "generate", csv(more)} + db->toolArguments()).exitCode,
            0);
        // The slips are as secret as the register, whatever the user's file mode mask.
        const mode_t mask = ::umask(0);
        const auto restoreMask = qScopeGuard([&] { ::umask(mask); });
        const QString all = db->folder() + "/all.pdf";
        const Run r = admin(QStringList{"slips", "--out", all} + db->toolArguments());
        QVERIFY2(r.exitCode == 0 && r.out.contains("Wrote 20 slip(s) on 3 page(s)"), qPrintable(r.err + r.out));
        QCOMPARE(QFileInfo(all).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
        QStringList where;
        const QStringList stored = db->rows("SELECT Name, Username, Password FROM Users ORDER BY rowid");
        QCOMPARE(stored.size(), 20);
        QCOMPARE(printed(all, &where), stored);
        QCOMPARE(where, QStringList(20, QStringLiteral("Vote at any polling station of the school.")));

        // Only those not logged in, sorted by name, with where to vote.
        const QString waiting = db->folder() + "/waiting.pdf";
        const QString place = QStringLiteral("Room 12 (library), 8:00 to 16:00, Friday");
        const Run w =
            admin(QStringList{"slips", "--out", waiting, "--not-logged-in", "--sort", "name", "--where", place} +
                  db->toolArguments());
        QVERIFY2(w.exitCode == 0 && w.out.contains("Wrote 18 slip(s) on 3 page(s)"), qPrintable(w.err + w.out));
        where.clear();
        const QStringList byName = printed(waiting, &where);
        QCOMPARE(where, QStringList(18, place));
        QStringList names;
        for (const QString &slip : byName)
            names << slip.section('|', 0, 0);
        QCOMPARE(names,
                 QStringList({"bo Li", "Carl", "Gen 1", "Gen 2", "Gen 3", "Gen 4", "Gen 5", "Gen 6", "Gen 7", "Gen 8",
                              "Gen 9", "Gen 10", kLongName, "Reyes, Jo", "Voter 9", "Voter 10", "محمد علي", "王小明"}));
        // Every account not logged in, each once, with its own password.
        QStringList expected = db->rows("SELECT Name, Username, Password FROM Users WHERE HasVoted IS NULL OR NOT "
                                        "HasVoted ORDER BY rowid");
        QStringList got = byName;
        expected.sort();
        got.sort();
        QCOMPARE(got, expected);

        // By student ID, numbers by their value, letter case ignored.
        const QString byId = db->folder() + "/by-id.pdf";
        QCOMPARE(admin(QStringList{"slips", "--out", byId, "--sort", "id"} + db->toolArguments()).exitCode, 0);
        QStringList ids;
        for (const QString &slip : printed(byId))
            ids << slip.section('|', 1, 1);
        QCOMPARE(ids, QStringList({"a7", "b3", "c5", "d4", "e6",  "g1", "g2", "g3", "g4",  "g5",
                                   "g6", "g7", "g8", "g9", "g10", "s1", "S2", "s9", "s10", "s11"}));
    }

    // The PDF never goes over anything: a file, a link (not followed) or a folder at
    // its place is left as it was, and nothing is left behind.
    void slipsNeverOverwriteAnything()
    {
        db->exec("INSERT INTO Users VALUES ('Ann', 'u1', 'secret-1', false)");
        const QString dir = db->folder() + '/';
        QFile kept(dir + "kept.pdf");
        QVERIFY(kept.open(QIODevice::WriteOnly) && kept.write("kept") == 4);
        kept.close();
        QVERIFY(QFile::link(dir + "pointed.pdf", dir + "link.pdf") && QDir(dir).mkdir("sub.pdf"));
        for (const char *name : {"kept.pdf", "link.pdf", "sub.pdf"}) {
            const Run r = admin(QStringList{"slips", "--out", dir + name} + db->toolArguments());
            QVERIFY2(refused(r, dir + name) && r.out.isEmpty(), qPrintable(r.err));
        }
        QFile again(dir + "kept.pdf");
        QVERIFY(again.open(QIODevice::ReadOnly));
        QCOMPARE(again.readAll(), QByteArray("kept"));
        QVERIFY(!QFileInfo::exists(dir + "pointed.pdf"));
        QCOMPARE(QDir(dir + "sub.pdf").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
        QCOMPARE(QDir(dir).entryList({".*partial*"}, QDir::Files | QDir::Hidden), QStringList());
        // Without an account to print, nothing is written either.
        db->exec("UPDATE Users SET HasVoted = true");
        const Run none =
            admin(QStringList{"slips", "--out", dir + "none.pdf", "--not-logged-in"} + db->toolArguments());
        QVERIFY2(refused(none, "no account that has not logged in yet; nothing was written"), qPrintable(none.err));
        QVERIFY(!QFileInfo::exists(dir + "none.pdf"));
    }

    // The register is read as one moment while a station writes as fast as it can:
    // the first and the last of 1,500 accounts change together, in one unit, and
    // their slips always agree. (The last is read well after the first: the store
    // reads a long register a thousand rows first, the rest as it moves on.)
    void slipsAreOneMomentOfTheRegister()
    {
        db->exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1500)"
                 " INSERT INTO Users SELECT 'Voter ' || i, 'u' || i, '0', i NOT IN (1, 1500) FROM n");
        std::atomic<int> written{0}, stop{0};
        std::thread writer([&] {
            for (; !stop; ++written)
                db->exec("BEGIN; UPDATE Users SET Password = CAST(CAST(Password AS INTEGER) + 1 AS TEXT) WHERE "
                         "Username IN ('u1', 'u1500'); COMMIT");
        });
        const auto joinWriter = qScopeGuard([&] { stop = 1, writer.join(); });
        for (int k = 0; k < 3; ++k) {
            const int before = written;
            QTRY_VERIFY_WITH_TIMEOUT(written > before + 2, 20000);
            const QString pdf = db->folder() + QStringLiteral("/moment-%1.pdf").arg(k);
            const Run r = admin(QStringList{"slips", "--out", pdf, "--not-logged-in"} + db->toolArguments());
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            const QStringList slips = printed(pdf);
            QCOMPARE(slips.size(), 2);
            QCOMPARE(slips.value(0).section('|', 2), slips.value(1).section('|', 2));
            QVERIFY(slips.value(0).section('|', 2).toInt() > before);
        }
    }
};

POLLARIS_TEST_MAIN(AdminToolPrepareTest)
#include "tst_admintool_prepare.moc"
