// Randomised record sources and values, with a fixed seed: the cursor never
// crashes, never runs anything but its one query form (every statement the
// engine runs is watched), never changes the file while reading, and never
// matches a row that the store's text equality would not.

#include "TestSupport.h"

#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <memory>
#include <sqlite3.h>

namespace {

const QStringList kPieces = {
    "Select", "select", "SELECT", "*", "from", "From", "where", "Where", "Order", "by", "Desc", "Users",
    "Positions", "CandInfo", "CandVote", "Administrators", "Username", "PosID", "CandID", "Numvotes",
    "=", "='", "'", "''", ";", "--", "/*", "*/", "DROP", "TABLE", "OR", "1=1", "(", ")", ",", "UNION",
    "SELECT 1", "\"", "%", "_", "\\", " ", "  ", "\n", "\t", "é", "Ä", "😀", "\u0301", "\u05D0"};

const QStringList kValueAlphabet = {"a", "A", "b", "ä", "Ä", "'", "''", "\"", "%", "_", "\\", " ", ";",
                                    "--", "x' OR '1'='1", "é", "E\u0301", "ß", "SS", "K", "\u212A",
                                    "😀", "\u05D0", "0"};

QString randomFrom(QRandomGenerator &rng, const QStringList &list)
{
    return list.at(int(rng.bounded(quint32(list.size()))));
}

// Every statement the engine is asked to run, as the text it was prepared from.
int traceStatement(unsigned, void *context, void *, void *sql)
{
    static_cast<QStringList *>(context)->append(QString::fromUtf8(static_cast<const char *>(sql)));
    return 0;
}

// The one query form: all fields of one table, at most one condition whose value
// is bound rather than written into the text, at most one ordering.
const QRegularExpression kQueryForm(QStringLiteral(
    "^SELECT rowid, \\* FROM \"\\w+\"( WHERE textEq\\(\"\\w+\", \\?1\\))?( ORDER BY \"\\w+\" DESC, rowid| ORDER BY rowid)$"));

// The store's text equality, computed independently of the engine.
bool textEqual(const QString &a, const QString &b) { return a.toCaseFolded() == b.toCaseFolded(); }

} // namespace

class FuzzTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    QByteArray fileDigest() const
    {
        QFile f(db->file());
        f.open(QIODevice::ReadOnly);
        return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
    }

private slots:
    void init()
    {
        db = std::make_unique<ElectionFolder>();
        QStringList values;
        QRandomGenerator rng(7);
        for (int i = 0; i < 300; ++i) {
            QString name;
            const int length = 1 + int(rng.bounded(4u));
            for (int k = 0; k < length; ++k)
                name += randomFrom(rng, kValueAlphabet);
            values << name;
            db->exec(QStringLiteral("INSERT INTO Users VALUES ('n%1', '%2', 'p', 0)")
                         .arg(i)
                         .arg(QString(name).replace(QLatin1String("'"), QLatin1String("''"))));
        }
    }
    void cleanup()
    {
        store::Connection::closeAll();
        db.reset();
    }

    void randomRecordSourcesNeverCrashNorWrite()
    {
        QObject owner;
        store::RecordCursor dc(QStringLiteral("dcFuzz"), QStringLiteral("Users"), &owner);
        dc.setDatabaseName(db->file());
        const QByteArray before = fileDigest();
        QStringList run;
        sqlite3_trace_v2(dc.connection().handle(), SQLITE_TRACE_STMT, traceStatement, &run);
        QRandomGenerator rng(20261206);
        int accepted = 0, refused = 0;
        for (int i = 0; i < 5000; ++i) {
            QString source;
            bool mustWork = false;
            if (rng.bounded(2u)) {
                // The program's own form, with any table, field and value.
                static const QStringList tables = {"Users", "users", "CandVote", "Voters"};
                static const QStringList fields = {"Username", "USERNAME", "CandID", "Nickname"};
                const QString table = randomFrom(rng, tables), field = randomFrom(rng, fields);
                QString value;
                for (int k = int(rng.bounded(6u)); k > 0; --k)
                    value += randomFrom(rng, kPieces);
                source = QStringLiteral("Select * from %1 where %2 ='").arg(table, field) + value + "'";
                mustWork = (table.compare("Users", Qt::CaseInsensitive) == 0 &&
                            field.compare("Username", Qt::CaseInsensitive) == 0) ||
                           (table == "CandVote" && field == "CandID");
            } else {
                const int pieces = int(rng.bounded(1u, 12u));
                for (int k = 0; k < pieces; ++k)
                    source += randomFrom(rng, kPieces) + (rng.bounded(3u) ? QStringLiteral(" ") : QString());
            }
            dc.setRecordSource(source);
            run.clear();
            try {
                dc.Refresh();
            } catch (const store::StoreError &e) {
                QVERIFY2(!mustWork, qPrintable(source + " : " + e.text()));
                QVERIFY2(run.size() <= 1, qPrintable(run.join('\n')));
                if (e.number() == store::BadRecordSource)
                    QVERIFY2(run.isEmpty(), qPrintable(source));
                for (const QString &sql : run)
                    QVERIFY2(kQueryForm.match(sql).hasMatch(), qPrintable(source + " ran " + sql));
                ++refused;
                continue;
            }
            QCOMPARE(run.size(), 1);
            QVERIFY2(kQueryForm.match(run[0]).hasMatch(), qPrintable(source + " ran " + run[0]));
            ++accepted;
            int rows = 0;
            for (; !dc.EOF_(); dc.MoveNext())
                ++rows;
            QCOMPARE(rows, dc.RecordCount());
        }
        QCOMPARE(accepted + refused, 5000);
        QCOMPARE(fileDigest(), before);
        QCOMPARE(db->count(QStringLiteral("Users")), 300);
        qInfo("%d record sources accepted, %d refused", accepted, refused);
    }

    void conditionsMatchExactlyTheRowsOfTheTextEquality()
    {
        const QStringList stored = db->rows(QStringLiteral("SELECT Username FROM Users ORDER BY rowid"));
        QObject owner;
        store::RecordCursor dc(QStringLiteral("dcFuzz"), QStringLiteral("Users"), &owner);
        dc.setDatabaseName(db->file());
        QRandomGenerator rng(42);
        int withMatches = 0;
        for (int i = 0; i < 3000; ++i) {
            QString value;
            // Half the probes are stored names in another case, half are random.
            if (rng.bounded(2u)) {
                value = stored.at(int(rng.bounded(quint32(stored.size())))).toUpper();
            } else {
                const int length = int(rng.bounded(5u));
                for (int k = 0; k < length; ++k)
                    value += randomFrom(rng, kValueAlphabet);
            }
            dc.setRecordSource(QStringLiteral("Select * From Users where Username ='") + value + "'");
            dc.Refresh();
            QStringList found;
            for (; !dc.EOF_(); dc.MoveNext())
                found << dc.FieldText(QStringLiteral("Username"));
            QStringList expected;
            for (const QString &s : stored)
                if (textEqual(s, value))
                    expected << s;
            QCOMPARE(found, expected);
            withMatches += found.isEmpty() ? 0 : 1;
        }
        QVERIFY(withMatches > 1000);
        qInfo("3000 probes, %d with matching rows", withMatches);
    }
};

POLLARIS_TEST_MAIN(FuzzTest)
#include "tst_fuzz.moc"
