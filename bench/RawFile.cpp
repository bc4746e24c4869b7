#include "RawFile.h"

#include <sqlite3.h>
#include <stdexcept>
#include <string>

namespace {

[[noreturn]] void fail(sqlite3 *db, const char *what)
{
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

QString pragma(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *stmt = nullptr;
    QString value;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
        value = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    return value;
}

} // namespace

RawFile::RawFile(const QString &path)
{
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK)
        fail(m_db, "open");
    sqlite3_busy_timeout(m_db, 3000);
    if (pragma(m_db, "PRAGMA journal_mode=DELETE").compare(QLatin1String("delete"), Qt::CaseInsensitive) != 0)
        fail(m_db, "journal_mode");
    pragma(m_db, "PRAGMA synchronous=FULL");
    // The same page cache as the program's own connection.
    pragma(m_db, "PRAGMA cache_size=-32768");
    if (pragma(m_db, "PRAGMA synchronous") != QLatin1String("2"))
        fail(m_db, "synchronous");
}

RawFile::~RawFile() { sqlite3_close_v2(m_db); }

void RawFile::exec(const char *sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(m_db, sql);
}

qint64 RawFile::run(const char *sql, std::initializer_list<QVariant> values)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        fail(m_db, sql);
    int index = 1;
    for (const QVariant &v : values) {
        if (v.typeId() == QMetaType::QString) {
            const QByteArray utf8 = v.toString().toUtf8();
            sqlite3_bind_text(stmt, index++, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        } else {
            sqlite3_bind_int64(stmt, index++, v.toLongLong());
        }
    }
    qint64 rows = 0;
    int rc;
    const int columns = sqlite3_column_count(stmt);
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        if (rows == 0)
            m_firstRowid = sqlite3_column_int64(stmt, 0);
        for (int c = 0; c < columns; ++c) {
            if (sqlite3_column_type(stmt, c) == SQLITE_TEXT) {
                sqlite3_column_text(stmt, c);
                m_bytes += sqlite3_column_bytes(stmt, c);
            } else {
                m_bytes += sqlite3_column_int64(stmt, c) & 1;
            }
        }
        ++rows;
    }
    if (rc != SQLITE_DONE) {
        sqlite3_finalize(stmt);
        fail(m_db, sql);
    }
    sqlite3_finalize(stmt);
    return rows;
}
