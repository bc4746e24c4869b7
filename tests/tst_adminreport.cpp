// pollaris-admin's report read back from its PDF, the status, and damaged tallies refused.

#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <memory>

// A PDF's text as a reader searches it: compatibility forms folded (ligatures, Arabic
// presentation forms), direction marks dropped, runs of blanks one space.
static QString pdfText(const QString &pdf, const QStringList &options = {})
{
    QString text =
        runProgram("pdftotext", options + QStringList{pdf, "-"}).out.normalized(QString::NormalizationForm_KC);
    text.remove(QRegularExpression(QStringLiteral("[\\x{200E}\\x{200F}\\x{202A}-\\x{202E}\\x{2066}-\\x{2069}]")));
    return text.replace(QRegularExpression(QStringLiteral("[ \\t]+")), QStringLiteral(" "));
}

// The lines of a text that hold anything, each simplified.
static QStringList lines(const QString &text)
{
    QStringList out = text.split('\n');
    for (QString &line : out)
        line = line.simplified();
    out.removeAll(QString());
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

    Run tool(const QStringList &args) const { return admin(args + db->toolArguments()); }

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init()
    {
        FETCH_ENGINE(engine);
        db = std::make_unique<ElectionFolder>(engine);
    }

    // 100,000 accounts, 61,234 logged in; ties below and at the top, a position without
    // candidates, long, Arabic and Chinese names; tallies added out of order, so ties show;
    // failed log-ins as the stations counted them.
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
                " ('I', 0), ('H', 3), ('G', 7);"
                "INSERT INTO pollaris_counts (what, count) VALUES ('administrator log-ins failed', 3),"
                " ('voter log-ins failed', 1234)")
                .arg(QLatin1String(kLongName)));
        // The status: turnout, failed log-ins and each position's total, aligned; no one named.
        const Run once = tool({"status"});
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
        const auto shows = [&](const char *figure) { return (seen += watch.readAllStandardOutput()).contains(figure); };
        QTRY_VERIFY_WITH_TIMEOUT(shows("61,234"), 30000);
        db->exec("UPDATE Users SET HasVoted = true WHERE Username = 'u99999'");
        QTRY_VERIFY_WITH_TIMEOUT(shows("61,235"), 30000);
        watch.kill();

        // The report, once one more voter has logged in.
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is needed to read the report back");
        const auto counts = [this] {
            return db->rows("SELECT Username, CAST(HasVoted AS INTEGER) FROM Users UNION ALL "
                            "SELECT CandID, NumVotes FROM CandVote ORDER BY 1");
        };
        const QStringList counted = counts();
        const QString pdf = db->folder() + "/report.pdf";
        QCOMPARE(tool({"report", "--out", pdf, "--title", "Consejo 学生会 مجلس 🗳"}).exitCode, 0);
        // The report goes on the record and changes nothing else (a file keeps the hash it names).
        const QString before = db->onServer() ? QString() : sha256(db->file());
        QCOMPARE(counts(), counted);
        QCOMPARE(db->rows("SELECT what FROM pollaris_log"), QStringList{"results report written to report.pdf"});

        const QString text = pdfText(pdf), flat = QString(text).replace('\n', ' ');
        QVERIFY(flat.contains("Consejo 学生会 مجلس") && flat.contains("Results report") && flat.contains(kLongName));
        // What it counted: the server, or the file by its path and its hash.
        if (db->onServer())
            QVERIFY(text.contains("Election server"));
        else
            QVERIFY(text.contains("SHA-256") && text.contains(before) &&
                    text.contains(QDir(db->file()).absolutePath()));

        // Rows as printed (rank, name, code, votes, share; the emoji is a picture), blocks together.
        const QString rows = "\n" + lines(pdfText(pdf, {"-layout"})).join('\n') + "\n";
        for (const char *block :
             {"Club 王 représentant Code: CLUB", "Accounts registered 100,000",
              "Accounts that have logged in to vote 61,235 61.2%", "Accounts not yet logged in 38,765 38.8%",
              "2 محمد علي H 3 30.0%", "3 王小明 I 0 0.0%", "Total 10 100.0%",
              // the accounts let in that left the position blank, and the day on the record
              "Logged in, no vote here 61,171", "Logged in, no vote here 61,170", "After the zero report",
              "No zero report of this election is on its record.",
              "Failed log-ins in all: 3 administrator, 1,234 voter",
              "Votes cast in this position: 64\nRank Candidate Code Votes Share 0 to 100% of the votes\n"
              "1 Bo Li B 40 62.5%\n2 Carla Villanueva C 12 18.8%\n2 Ana Cruz A 12 18.8%\nTotal 64 100.0%",
              "Votes cast in this position: 65\nTie at the top: 2 candidates have 30 votes each (Émile Zola, Dee).\n"
              "Rank Candidate Code Votes Share 0 to 100% of the votes\n1 Émile Zola E 30 46.2%\n1 Dee D 30 46.2%\n"
              "3 Fay F 5 7.7%",
              "Votes cast in this position: 0\nNo candidate stands for this position."})
            QVERIFY2(rows.contains("\n" + QString::fromUtf8(block) + "\n"), block);
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
            const QString pdf = db->folder() + '/' + name + ".pdf";
            const QString text = tool({"report", "--out", pdf}).exitCode ? QString() : pdfText(pdf);
            return text.contains("Zero report") ? 1 : text.contains("Results report") ? 0 : -1;
        };
        QCOMPARE(zero("before"), 1);
        db->exec("UPDATE Users SET HasVoted = true WHERE Username = 'u1'");
        QCOMPARE(zero("logged-in"), 0);
        db->exec("UPDATE Users SET HasVoted = false; UPDATE CandVote SET NumVotes = 1 WHERE CandID = 'B'");
        QCOMPARE(zero("one-vote"), 0);
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
