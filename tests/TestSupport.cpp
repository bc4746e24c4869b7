#include "TestSupport.h"

#include "store/Connection.h"
#include "store/ElectionFile.h"

#include <QLineEdit>
#include <QListWidget>
#include <sqlite3.h>
#include <stdexcept>

namespace {

struct RawDb {
    explicit RawDb(const QString &path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open test database");
        sqlite3_busy_timeout(db, 5000);
    }
    ~RawDb() { sqlite3_close_v2(db); }
    sqlite3 *db = nullptr;
};

QVariant column(sqlite3_stmt *stmt, int c)
{
    switch (sqlite3_column_type(stmt, c)) {
    case SQLITE_INTEGER: return qlonglong(sqlite3_column_int64(stmt, c));
    case SQLITE_NULL: return QVariant();
    default:
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, c)),
                                 sqlite3_column_bytes(stmt, c));
    }
}

} // namespace

ElectionFolder::ElectionFolder()
{
    store::createElectionFile(file(), QStringLiteral("admin"), QStringLiteral("secret"), false);
}

void ElectionFolder::exec(const QString &sql) const
{
    RawDb raw(file());
    char *error = nullptr;
    if (sqlite3_exec(raw.db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
        QString text = QString::fromUtf8(error);
        sqlite3_free(error);
        QTest::qFail(qPrintable(QStringLiteral("SQL failed: %1: %2").arg(sql, text)), __FILE__, __LINE__);
    }
}

QList<QVariantList> ElectionFolder::query(const QString &sql) const
{
    RawDb raw(file());
    sqlite3_stmt *stmt = nullptr;
    QList<QVariantList> result;
    if (sqlite3_prepare_v2(raw.db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
        QTest::qFail(qPrintable(QStringLiteral("SQL failed: %1").arg(sql)), __FILE__, __LINE__);
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
        QVariantList fields;
        for (int c = 0; c < sqlite3_column_count(stmt); ++c)
            fields << column(stmt, c);
        result << fields;
    }
    sqlite3_finalize(stmt);
    return result;
}

QStringList ElectionFolder::rows(const QString &sql) const
{
    QStringList result;
    for (const QVariantList &fields : query(sql)) {
        QStringList texts;
        for (const QVariant &v : fields)
            texts << (v.isNull() ? QStringLiteral("NULL") : v.toString());
        result << texts.join(QLatin1Char('|'));
    }
    return result;
}

void startProgramIn(const QString &folder)
{
    Shell::reset();
    Shell::setTestMode(folder);
}

QString box(Msg::Icon icon, const QString &title, const QString &text)
{
    static const char *names[] = {"Critical", "Exclamation", "Question", "Information"};
    return QStringLiteral("%1|%2|%3").arg(QString::fromLatin1(names[int(icon)]), title, text);
}

QStringList shownBoxes()
{
    QStringList result;
    for (const auto &shown : Msg::takeShown())
        result << box(shown.icon, shown.title, shown.text);
    return result;
}

QStringList entries(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

void click(QWidget *widget) { QTest::mouseClick(widget, Qt::LeftButton); }

QStringList press(QWidget *widget)
{
    click(widget);
    return shownBoxes();
}

QStringList critical(const QString &text, const QString &title) { return {box(Msg::Icon::Critical, title, text)}; }

void type(QWidget *field, const QString &text)
{
    auto *edit = qobject_cast<QLineEdit *>(field);
    if (edit)
        edit->clear();
    QTest::keyClicks(field, text);
}

void ScreenTest::init()
{
    db = std::make_unique<ElectionFolder>();
    startProgramIn(db->folder());
}

void ScreenTest::cleanup()
{
    const QStringList unread = shownBoxes();
    const bool unusedAnswer = Msg::hasUnusedAnswer();
    store::Connection::failWriteAfter(0);
    Shell::reset();
    QCOMPARE(unread, QStringList());
    QVERIFY2(!unusedAnswer, "a preset answer was left unused");
}
