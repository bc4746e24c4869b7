// Randomised values (quotes, SQL fragments, letters whose case folds unusually),
// with a fixed seed, on both engines: a look-up finds exactly the rows that the
// store's text equality says, and never more, whatever the value holds.

#include "TestSupport.h"

#include "store/Connection.h"
#include "store/RecordCursor.h"

#include <QHash>
#include <QRandomGenerator>

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

static QString randomText(QRandomGenerator &rng, const QStringList &from, quint32 most)
{
    QString text;
    for (int k = int(rng.bounded(most + 1)); k > 0; --k)
        text += pick(rng, from);
    return text;
}

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
    void cleanup() { store::Connection::closeAll(); }

    void randomValuesMatchExactlyTheRowsTheirEqualitySays()
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
        for (int i = 0; i < 4000; ++i) {
            // The program's own form; half the values are stored names in another case.
            const QString value = rng.bounded(2u) ? pick(rng, stored).toUpper() : randomText(rng, kValueAlphabet, 4);
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
    }
};

POLLARIS_TEST_MAIN(FuzzTest)
#include "tst_fuzz.moc"
