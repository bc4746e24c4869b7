// pollaris-admin's report read back from its PDF, the status on election day, and
// the refusal of a file whose tallies cannot be counted.

#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <memory>

// The text of a PDF as pdftotext gives it, in the form a reader searches it:
// compatibility forms folded (ligatures, Arabic presentation forms), direction
// marks dropped, runs of blanks one space.
static QString pdfText(const QString &pdf, bool layout)
{
    QStringList args;
    if (layout)
        args << QStringLiteral("-layout");
    QString text = runProgram(QStringLiteral("pdftotext"), args << pdf << QStringLiteral("-")).out;
    text = text.normalized(QString::NormalizationForm_KC);
    text.remove(QRegularExpression(QStringLiteral("[\\x{200E}\\x{200F}\\x{202A}-\\x{202E}\\x{2066}-\\x{2069}]")));
    text.replace(QRegularExpression(QStringLiteral("[ \\t]+")), QStringLiteral(" "));
    return text;
}

static QStringList lines(const QString &text)
{
    QStringList out;
    for (const QString &l : text.split(QLatin1Char('\n')))
        if (!l.trimmed().isEmpty())
            out << l.simplified();
    return out;
}

static QString sha256(const QString &path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return f.open(QIODevice::ReadOnly) && hash.addData(&f) ? QString::fromLatin1(hash.result().toHex()) : QString();
}

static const char *const kLongName = "Maria Fernanda de los Santos Villanueva Ocampo III"; // 50 characters

class AdminReportTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(qEnvironmentVariable("POLLARIS_ADMIN")), "POLLARIS_ADMIN not set"); }
    void initTestCase_data() { addEngineRows(); }
    void init()
    {
        FETCH_ENGINE(engine);
        db = std::make_unique<ElectionFolder>(engine);
    }

    // 100,000 accounts, 61,234 logged in; ties below and at the top, a position without
    // candidates, long, Arabic and Chinese names; tallies added out of order, so ties show.
    void statusAndReportShowEveryFigureOfAKnownElection()
    {
        db->exec(
            QStringLiteral(
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000)"
                " INSERT INTO Users SELECT 'Voter ' || i, 'u' || i, 'p' || i, i <= 61234 FROM n;"
                "INSERT INTO Positions VALUES ('PRES', 'President'), ('VP', 'Vice President'), ('TRS', 'Treasurer'),"
                " ('CLUB', 'Club 王 🎉 représentant');"
                "INSERT INTO CandInfo VALUES ('A', 'Ana Cruz', '1', 'PRES'), ('B', 'Bo Li', '2', 'pres'),"
                " ('C', 'Carla Villanueva', '3', 'PRES'), ('D', 'Dee', '4', 'VP'), ('E', 'Émile Zola', '5', 'VP'),"
                " ('F', 'Fay', '6', 'VP'), ('G', '%1', '7', 'CLUB'), ('H', 'محمد علي', '8', 'CLUB'),"
                " ('I', '王小明', '9', 'CLUB');"
                "INSERT INTO CandVote VALUES ('C', 12), ('B', 40), ('A', 12), ('F', 5), ('E', 30), ('D', 30),"
                " ('I', 0), ('H', 3), ('G', 7);")
                .arg(QLatin1String(kLongName)));
        // Failed log-ins as the stations counted them.
        db->exec("INSERT INTO pollaris_counts (what, count) VALUES ('administrator log-ins failed', 3),"
                 " ('voter log-ins failed', 1234)");
        // The status: turnout, failed log-ins and each position's total, aligned; no candidate
        // and no voter named.
        const Run once = admin(QStringList{"status"} + db->toolArguments());
        QCOMPARE(once.exitCode, 0);
        QCOMPARE(
            once.out.split('\n').mid(2),
            QStringList({"", "Accounts registered:  100,000", "Logged in to vote:     61,234 (61.2%)",
                         "Not yet logged in:     38,766 (38.8%)", "Failed log-ins:       3 administrator, 1,234 voter",
                         "", "Votes cast so far, by position:", "  PRES         64  President",
                         "  VP           65  Vice President", "  TRS           0  Treasurer",
                         "  CLUB         10  Club 王 🎉 représentant", ""}));

        // Watching: a new block after each pause, with what changed in between.
        QProcess watch;
        watch.start(qEnvironmentVariable("POLLARIS_ADMIN"),
                    QStringList{"status", "--watch", "1"} + db->toolArguments());
        QString seen;
        QTRY_VERIFY_WITH_TIMEOUT((seen += QString::fromUtf8(watch.readAllStandardOutput())).contains("61,234"), 30000);
        db->exec("UPDATE Users SET HasVoted = true WHERE Username = 'u99999'");
        QTRY_VERIFY_WITH_TIMEOUT((seen += QString::fromUtf8(watch.readAllStandardOutput())).contains("61,235"), 30000);
        watch.kill();
        watch.waitForFinished();

        // The report, once one more voter has logged in.
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is needed to read the report back");
        const auto counts = [this] {
            return db->rows("SELECT Username, HasVoted FROM Users ORDER BY 1") +
                   db->rows("SELECT CandID, NumVotes FROM CandVote ORDER BY 1");
        };
        const QStringList counted = counts();
        const QString pdf = db->folder() + "/report.pdf";
        const Run r = admin(QStringList{"report", "--out", pdf, "--title", "Consejo 学生会 مجلس 🗳"} +
                            db->toolArguments());
        QCOMPARE(r.exitCode, 0);
        // The report goes on the election's record and changes nothing else; of a file,
        // the hash it names is the file's as it stays afterwards.
        const QString before = db->onServer() ? QString() : sha256(db->file());
        QCOMPARE(counts(), counted);
        QCOMPARE(db->rows("SELECT what FROM pollaris_log"), QStringList{"results report written to report.pdf"});

        const QString text = pdfText(pdf, false);
        const QString flat = QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '));
        QVERIFY(flat.contains("Consejo 学生会 مجلس") && flat.contains("Results report"));
        // What it counted: the server, or the file by its path and its hash.
        if (db->onServer())
            QVERIFY(text.contains("Election server"));
        else
            QVERIFY(text.contains("SHA-256") && text.contains(before) &&
                    text.contains(QDir(db->file()).absolutePath()));
        QVERIFY(flat.contains(QLatin1String(kLongName)));

        // Row by row, as printed: the rank, the name, the code, the votes and the share.
        const QStringList rows = lines(pdfText(pdf, true));
        const auto after = [&](const QString &first, int count) {
            const qsizetype at = rows.indexOf(first);
            return at < 0 ? QStringList() : rows.mid(at + 1, count);
        };
        // The emoji is a picture, not text.
        for (const char *row :
             {"Club 王 représentant Code: CLUB", "Accounts registered 100,000",
              "Accounts that have logged in to vote 61,235 61.2%", "Accounts not yet logged in 38,765 38.8%",
              "2 محمد علي H 3 30.0%", "3 王小明 I 0 0.0%", "Total 10 100.0%",
              // the accounts let in that left the position blank, and the day on the record
              "Logged in, no vote here 61,171", "Logged in, no vote here 61,170", "After the zero report",
              "No zero report of this election is on its record.",
              "Failed log-ins in all: 3 administrator, 1,234 voter"})
            QVERIFY2(rows.contains(QString::fromUtf8(row)), row);
        QCOMPARE(after(QStringLiteral("Votes cast in this position: 64"), 5),
                 QStringList({"Rank Candidate Code Votes Share 0 to 100% of the votes", "1 Bo Li B 40 62.5%",
                              "2 Carla Villanueva C 12 18.8%", "2 Ana Cruz A 12 18.8%", "Total 64 100.0%"}));
        QCOMPARE(after(QStringLiteral("Votes cast in this position: 65"), 5),
                 QStringList({"Tie at the top: 2 candidates have 30 votes each (Émile Zola, Dee).",
                              "Rank Candidate Code Votes Share 0 to 100% of the votes", "1 Émile Zola E 30 46.2%",
                              "1 Dee D 30 46.2%", "3 Fay F 5 7.7%"}));
        QCOMPARE(after(QStringLiteral("Votes cast in this position: 0"), 1),
                 QStringList({"No candidate stands for this position."}));
        QCOMPARE(text.count("Tie at the top"), 1);

        // The report carries its fonts, so that it prints the same on any computer.
        const QStringList fonts = lines(runProgram(QStringLiteral("pdffonts"), {pdf}).out).mid(2);
        QVERIFY(!fonts.isEmpty());
        for (const QString &font : fonts)
            QVERIFY2(font.contains(" yes "), qPrintable(font)); // embedded
    }

    void zeroReportOnlyWhileNothingIsCast()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is needed to read the report back");
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('V1', 'u1', 'p', false), ('V2', 'u2', 'p', false);"
                                "INSERT INTO Positions VALUES ('P', 'President');"
                                "INSERT INTO CandInfo VALUES ('A', 'Ana', '1', 'P'), ('B', 'Bo', '2', 'P');"
                                "INSERT INTO CandVote VALUES ('A', 0), ('B', 0);"));
        // 1: a zero report, 0: a results report, -1: no report at all.
        const auto zero = [&](const QString &name) {
            const QString pdf = db->folder() + QLatin1Char('/') + name + ".pdf";
            if (admin(QStringList{"report", "--out", pdf} + db->toolArguments()).exitCode != 0)
                return -1;
            const QString text = pdfText(pdf, false);
            return text.contains("Zero report") ? 1 : text.contains("Results report") ? 0 : -1;
        };
        QCOMPARE(zero(QStringLiteral("before")), 1);
        db->exec("UPDATE Users SET HasVoted = true WHERE Username = 'u1'");
        QCOMPARE(zero(QStringLiteral("logged-in")), 0);
        db->exec("UPDATE Users SET HasVoted = false; UPDATE CandVote SET NumVotes = 1 WHERE CandID = 'B'");
        QCOMPARE(zero(QStringLiteral("one-vote")), 0);
    }

    void damagedTalliesAreRefusedByEveryCommand_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("message");
        const QString ana = QStringLiteral("candidate 'A' (Ana Cruz)"), tally = "the tally of " + ana + " is ";
        const QString set = QStringLiteral("UPDATE CandVote SET NumVotes = %1 WHERE CandID = 'A'");
        QTest::newRow("text") << set.arg("'abc'") << tally + "the text 'abc', not a whole number of votes";
        QTest::newRow("fraction") << set.arg("3.7") << tally + "the number 3.7, not a whole number of votes";
        QTest::newRow("too large") << set.arg("3000000000") << tally + "3000000000, beyond what a tally can hold";
        QTest::newRow("empty") << set.arg("NULL") << tally + "empty, not a whole number of votes";
        QTest::newRow("no tally") << "DELETE FROM CandVote WHERE CandID = 'A'" << ana + " has no tally";
        QTest::newRow("two tallies") << "INSERT INTO CandVote VALUES ('A', 1)" << ana + " has 2 tallies";
    }

    void damagedTalliesAreRefusedByEveryCommand()
    {
        QFETCH(QString, damage);
        QFETCH(QString, message);
        if (db->onServer())
            QSKIP("a tally of any type is the file's: the server's table holds whole numbers only");
        // A tally table as other tools write it: no type and no check on the count.
        db->exec(QStringLiteral("DROP TABLE CandVote; CREATE TABLE CandVote (CandID, NumVotes);"
                                "INSERT INTO Positions VALUES ('P', 'President');"
                                "INSERT INTO CandInfo VALUES ('A', 'Ana Cruz', '1', 'P'), ('B', 'Bo', '2', 'P');"
                                "INSERT INTO CandVote VALUES ('A', 7), ('B', 10);"));
        const QString pdf = db->folder() + "/report.pdf";
        QCOMPARE(admin({"results", db->file()}).exitCode, 0);
        db->exec(damage);
        const QString before = sha256(db->file());
        for (const QStringList &command : {QStringList{"results"}, QStringList{"results", "--csv"},
                                           QStringList{"report", "--out", pdf}, QStringList{"status"}}) {
            const Run r = admin(QStringList(command) << db->file());
            QVERIFY2(r.exitCode == 1 && r.out.isEmpty() && r.err.contains(message),
                     qPrintable(command.join(' ') + ": " + r.out + r.err));
        }
        QVERIFY(!QFile::exists(pdf));
        QCOMPARE(sha256(db->file()), before);
    }
};

POLLARIS_TEST_MAIN(AdminReportTest)
#include "tst_adminreport.moc"
