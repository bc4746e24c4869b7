// Randomised record sources and values, with a fixed seed, on both engines: the
// cursor never crashes, runs nothing but its one query form with the value bound
// (every statement given to the engine is watched), and matches exactly the rows
// that the store's text equality says.

#include "TestSupport.h"

#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>

const QStringList kPieces = {
    "Select",   "select", "SELECT", "*",        "from",      "From",     "where",    "Where",
    "Order",    "by",     "Desc",   "Users",    "Positions", "CandInfo", "CandVote", "Administrators",
    "Username", "PosID",  "CandID", "Numvotes", "=",         "='",       "'",        "''",
    ";",        "--",     "/*",     "*/",       "DROP",      "TABLE",    "OR",       "1=1",
    "(",        ")",      ",",      "UNION",    "SELECT 1",  "\"",       "%",        "_",
    "\\",       " ",      "  ",     "\n",       "\t",        "é",        "Ä",        "😀",
    "\u0301",   "\u05D0"};
// Values for names and probes: quotes, patterns, and letters whose case folds unusually.
const QStringList kValueAlphabet = {"a",       "A", "b",  "ä", "Ä",      "'",  "''",           "\"",
                                    "%",       "_", "\\", " ", ";",      "--", "x' OR '1'='1", "é",
                                    "E\u0301", "ß", "SS", "K", "\u212A", "😀",  "\u05D0",       "0"};

// Letters that fold to another than ASCII's pairs do ("ß" has no one-letter capital).
const QHash<QChar, QChar> kFoldsTo = {{u'Ä', u'ä'}, {u'É', u'é'}, {QChar(0x212A), u'k'}};

// The store's text equality, computed apart from the engine: letter case ignored;
// on the server an accented letter also equals its two-character form.
static bool equal(const QString &a, const QString &b, bool server)
{
    const auto fold = [server](QString s) {
        if (server)
            s = s.normalized(QString::NormalizationForm_D);
        for (QChar &c : s)
            c = c >= u'A' && c <= u'Z' ? QChar(c.unicode() + 32) : kFoldsTo.value(c, c);
        return s;
    };
    return fold(a) == fold(b);
}

static QString pick(QRandomGenerator &rng, const QStringList &list)
{
    return list.at(int(rng.bounded(quint32(list.size()))));
}

static QString randomText(QRandomGenerator &rng, const QStringList &from, quint32 most, bool spaced = false)
{
    QString text;
    for (int k = int(rng.bounded(most + 1)); k > 0; --k)
        text += pick(rng, from) + (spaced && rng.bounded(3u) ? QStringLiteral(" ") : QString());
    return text;
}

// The one query form: one table, at most one condition with its value bound, at
// most one ordering; on the server the fields are named, the row number first.
const QRegularExpression kFileForm(QStringLiteral("^SELECT rowid, \\* FROM \"\\w+\"( WHERE textEq\\(\"\\w+\", \\?\\))?"
                                                  "( ORDER BY \"\\w+\" DESC, rowid| ORDER BY rowid LIMIT \\?)$"));
const QRegularExpression kServerForm(QStringLiteral(
    "^SELECT rowid(, \"\\w+\")* FROM \"\\w+\"( WHERE (\"\\w+\"(::text)? COLLATE pollaris_nocase = \\$1|false))?"
    "( ORDER BY \"\\w+\" DESC NULLS LAST, rowid| ORDER BY rowid LIMIT 1000)$"));

class FuzzTest : public QObject {
    Q_OBJECT

    Engine m_engine = Engine::File;

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init()
    {
        FETCH_ENGINE(engine);
        m_engine = engine;
    }
    void cleanup() { store::Connection::closeAll(), store::Connection::setStatementObserver(nullptr); }

    void randomSourcesRunOnlyTheOneBoundFormAndMatchExactly()
    {
        ElectionFolder db(m_engine);
        const bool server = db.onServer();
        QObject owner;
        QRandomGenerator rng(20261206);
        // Names unique by the server's equality, the same in either engine.
        QStringList names;
        for (int i = 0; i < 300; ++i) {
            const QString name = randomText(rng, kValueAlphabet, 4);
            if (std::none_of(names.begin(), names.end(), [&](const QString &n) { return equal(n, name, true); }))
                names << name;
        }
        for (const QString &name : names)
            db.exec(QStringLiteral("INSERT INTO Users VALUES ('n', '%1', 'p', false)")
                        .arg(QString(name).replace("'", "''")));
        const QStringList stored = db.rows(QStringLiteral("SELECT Username FROM Users ORDER BY rowid"));
        auto *dc = new store::RecordCursor(QStringLiteral("dcFuzz"), QStringLiteral("Users"), &owner);
        dc->setDatabaseName(db.target());
        dc->connection();
        QStringList run;
        store::Connection::setStatementObserver([&run](const QString &sql) { run << sql; });
        for (int i = 0; i < 8000; ++i) {
            run.clear();
            if (rng.bounded(2u)) {
                const QString source = randomText(rng, kPieces, 11, true);
                dc->setRecordSource(source);
                try {
                    dc->Refresh();
                } catch (const store::StoreError &e) {
                    // A source refused as malformed never reaches the engine.
                    QVERIFY2(run.size() <= int(e.number() != store::BadRecordSource), qPrintable(source));
                }
            } else {
                // The program's own form; half the values are stored names in another case.
                const QString value =
                    rng.bounded(2u) ? pick(rng, stored).toUpper() : randomText(rng, kValueAlphabet, 4);
                dc->setRecordSource("Select * From Users where Username ='" + value + "'");
                dc->Refresh();
                QStringList found, expected;
                for (; !dc->EOF_(); dc->MoveNext())
                    found << dc->FieldText(QStringLiteral("Username"));
                for (const QString &s : stored)
                    if (equal(s, value, server))
                        expected << s;
                QCOMPARE(found, expected);
            }
            QVERIFY(run.size() <= 1);
            for (const QString &sql : run)
                QVERIFY2((server ? kServerForm : kFileForm).match(sql).hasMatch(), qPrintable(sql));
        }
    }
};

POLLARIS_TEST_MAIN(FuzzTest)
#include "tst_fuzz.moc"
