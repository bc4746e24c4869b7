// pollaris-admin's password slips, as a separate process against elections in files and
// on a server, read back from their PDF; and slips and backups read as one moment while
// a station writes.

#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <atomic>
#include <memory>
#include <sys/stat.h>
#include <thread>

static const char *const kLongName = "Maria Fernanda de los Santos Villanueva Ocampo III"; // 50 characters

// Field i of each row.
static QStringList fieldOf(const QStringList &rows, int i)
{
    QStringList fields;
    for (const QString &row : rows)
        fields << row.section('|', i, i);
    return fields;
}

// The slips of an A4 PDF, as "name|student ID|password|where to vote". Each is read alone
// from its place (2 across, 4 down, inside a margin of 10 mm), so that no slip's text is
// mixed with its neighbour's; an empty place ends the slips.
static QStringList slipsIn(const QString &pdf)
{
    QStringList slips;
    const QString info = runProgram("pdfinfo", {pdf}).out;
    if (!info.contains(QRegularExpression("Page size:.*\\(A4\\)")))
        QTest::qFail(qPrintable("the page is not A4: " + info), __FILE__, __LINE__);
    const int pages = QRegularExpression("Pages:\\s+(\\d+)").match(info).captured(1).toInt();
    const double mm = 72 / 25.4, across = 95 * mm, down = 277 * mm / 4;
    bool ended = false;
    for (int place = 0; place < 8 * pages; ++place) {
        const QString page = QString::number(place / 8 + 1);
        const int x = 10 * mm + (place % 2) * across + 2, y = 10 * mm + (place % 8 / 2) * down + 2;
        QString text =
            runProgram("pdftotext", {"-f", page, "-l", page, "-x", QString::number(x), "-y", QString::number(y), "-W",
                                     QString::number(int(across - 4)), "-H", QString::number(int(down - 4)), pdf, "-"})
                .out.normalized(QString::NormalizationForm_KC);
        text.remove(QRegularExpression("[\\x{200E}\\x{200F}\\x{202A}-\\x{202E}\\x{2066}-\\x{2069}]"));
        QStringList lines;
        for (const QString &l : text.split('\n'))
            if (!l.trimmed().isEmpty())
                lines << l.simplified();
        const qsizetype id = lines.indexOf(QStringLiteral("Student ID (your user name)"));
        const qsizetype advice =
            lines.indexOf(QStringLiteral("Type both exactly as printed. Keep this slip to yourself."));
        if (lines.isEmpty()) {
            ended = true;
        } else if (ended || lines.value(0) != "Student election" || id < 2 || lines.value(id + 2) != "Password" ||
                   lines.value(id + 4) != "Where to vote" || advice < id + 6) {
            QTest::qFail(qPrintable(QStringLiteral("slip %1 is not whole: %2").arg(place + 1).arg(lines.join('/'))),
                         __FILE__, __LINE__);
            return slips;
        } else {
            slips << QStringList{lines.mid(1, id - 1).join(' '), lines.value(id + 1), lines.value(id + 3),
                                 lines.mid(id + 5, advice - id - 5).join(' ')}
                         .join('|');
        }
    }
    return slips;
}

class AdminToolPrepareTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    Run on(const QStringList &args) { return admin(args + db->toolArguments()); }

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

    // One slip per account, each with its own name, student ID and password as stored,
    // eight to a page, in the register's order or sorted; with --not-logged-in, only
    // the accounts that have not logged in (a NULL flag counts as not).
    void slipsCarryEveryVoterOnceWithThePasswordAsStored()
    {
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Voter 10', 's10', 'kq7m-Pw', false), ('bo Li', 'S2', "
                                "'0O1lI', NULL), ('Ana Cruz', 's1', 'p3', true), ('Voter 9', 's9', 'p4', false), ("
                                "'محمد علي', 'a7', 'p5', false), ('王小明', 'b3', 'p6', false), ('%1', 'c5', 'p7', "
                                "false), ('Émile Zola', 's11', 'p8', true), ('Reyes, Jo', 'd4', 'p9', false), ('Carl', "
                                "'e6', 'p10', false); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                "WHERE i < 10) INSERT INTO Users SELECT 'Gen ' || i, 'g' || i, 'x' || i, false FROM n")
                     .arg(QLatin1String(kLongName))); // ten more: three pages in all
        // The slips are as secret as the register, whatever the user's file mode mask.
        const mode_t mask = ::umask(0);
        const auto restoreMask = qScopeGuard([&] { ::umask(mask); });
        const QString dir = db->folder() + '/';
        Run r = on({"slips", "--out", dir + "all.pdf"});
        QVERIFY2(r.exitCode == 0 && r.out.contains("Wrote 20 slip(s) on 3 page(s)"), qPrintable(r.err + r.out));
        QCOMPARE(QFileInfo(dir + "all.pdf").permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
        const QString stored = "SELECT Name, Username, Password, '%1' FROM Users %2 ORDER BY rowid";
        QCOMPARE(slipsIn(dir + "all.pdf"), db->rows(stored.arg("Vote at any polling station of the school.", "")));

        // Only those not logged in, each once with its own password, sorted by name, with where to vote.
        const QString place = "Room 12 (library), 8:00 to 16:00, Friday";
        r = on({"slips", "--out", dir + "waiting.pdf", "--not-logged-in", "--sort", "name", "--where", place});
        QVERIFY2(r.exitCode == 0 && r.out.contains("Wrote 18 slip(s) on 3 page(s)"), qPrintable(r.err + r.out));
        QStringList got = slipsIn(dir + "waiting.pdf");
        QCOMPARE(fieldOf(got, 0),
                 QStringList({"bo Li", "Carl", "Gen 1", "Gen 2", "Gen 3", "Gen 4", "Gen 5", "Gen 6", "Gen 7", "Gen 8",
                              "Gen 9", "Gen 10", kLongName, "Reyes, Jo", "Voter 9", "Voter 10", "محمد علي", "王小明"}));
        QStringList expected = db->rows(stored.arg(place, "WHERE HasVoted IS NULL OR NOT HasVoted"));
        expected.sort();
        got.sort();
        QCOMPARE(got, expected);

        // By student ID, numbers by their value, letter case ignored.
        QCOMPARE(on({"slips", "--out", dir + "by-id.pdf", "--sort", "id"}).exitCode, 0);
        QCOMPARE(fieldOf(slipsIn(dir + "by-id.pdf"), 1),
                 QStringList({"a7", "b3", "c5", "d4", "e6",  "g1", "g2", "g3", "g4",  "g5",
                              "g6", "g7", "g8", "g9", "g10", "s1", "S2", "s9", "s10", "s11"}));
    }

    // Slips and backups are each one moment while a station writes as fast as it can, in one
    // unit: the passwords of the first and last of 20,000 accounts, the only ones not logged
    // in (a long register is read a thousand rows first), the position's name and the
    // administrator's password (the first table copied and the last).
    void slipsAndBackupsAreOneMomentWhileAStationWrites()
    {
        db->exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)"
                 " INSERT INTO Users SELECT 'Voter ' || i, 'u' || i, '0', i NOT IN (1, 20000) FROM n;"
                 "INSERT INTO CandInfo SELECT 'C' || Username, Name, 'S', 'P' FROM Users;"
                 "INSERT INTO Positions VALUES ('P', '0'); UPDATE Administrators SET AdminPassword = '0'");
        std::atomic<int> written{0}, stop{0};
        std::thread writer([&] {
            for (; !stop; ++written)
                db->exec("BEGIN; UPDATE Users SET Password = CAST(CAST(Password AS INTEGER) + 1 AS TEXT) WHERE "
                         "Username IN ('u1', 'u20000'); UPDATE Positions SET PosName = CAST(CAST(PosName AS INTEGER) "
                         "+ 1 AS TEXT); UPDATE Administrators SET AdminPassword = CAST(CAST(AdminPassword AS INTEGER) "
                         "+ 1 AS TEXT); COMMIT");
        });
        const auto joinWriter = qScopeGuard([&] { stop = 1, writer.join(); });
        ElectionFolder copy;
        for (int k = 0; k < 3; ++k) {
            const int before = written;
            QTRY_VERIFY_WITH_TIMEOUT(written > before + 2, 20000); // it goes on writing between the reads
            const QString pdf = db->folder() + QStringLiteral("/moment-%1.pdf").arg(k);
            Run r = on({"slips", "--out", pdf, "--not-logged-in"});
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            const QStringList passwords = fieldOf(slipsIn(pdf), 2);
            QCOMPARE(passwords, QStringList(2, passwords.value(0)));
            QVERIFY(passwords.value(0).toInt() > before);
            QVERIFY(QFile::remove(copy.file()));
            r = on({"backup", copy.file()});
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            QCOMPARE(copy.rows("SELECT PosName = (SELECT AdminPassword FROM Administrators), (SELECT count(*) FROM "
                               "CandInfo), (SELECT count(*) FROM Users), (SELECT * FROM pragma_integrity_check) "
                               "FROM Positions"),
                     QStringList{"1|20000|20000|ok"});
            QVERIFY(copy.value("SELECT CAST(PosName AS INTEGER) FROM Positions").toInt() > before);
        }
    }
};

POLLARIS_TEST_MAIN(AdminToolPrepareTest)
#include "tst_admintool_prepare.moc"
