#include "RawFile.h"

#include "Harness.h"

#include <QRegularExpression>
#include <libpq-fe.h>
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
    if (onServer()) {
        m_pg = PQconnectdb(serverFor(path.section(QLatin1Char('/'), 0, -2)).toUtf8().constData());
        if (PQstatus(m_pg) != CONNECTION_OK)
            throw std::runtime_error(std::string("floor: ") + PQerrorMessage(m_pg));
        return;
    }
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

RawFile::~RawFile()
{
    sqlite3_close_v2(m_db);
    PQfinish(m_pg);
}

void RawFile::exec(const char *sql)
{
    if (m_pg) {
        runOnServer(QByteArray(sql).replace("BEGIN IMMEDIATE", "BEGIN").constData(), {});
        return;
    }
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(m_db, sql);
}

qint64 RawFile::runOnServer(const char *sql, std::initializer_list<QVariant> values)
{
    // The file's statement as the server reads it: names unquoted (the server keeps
    // them in lower case), $n for ?n, and the election's collation for NOCASE.
    QString text = QString::fromUtf8(sql);
    text.replace(QRegularExpression(QStringLiteral("\"(\\w+)\"")), QStringLiteral("\\1"));
    text.replace(QRegularExpression(QStringLiteral("\\?(\\d+)")), QStringLiteral("$\\1"));
    for (int n = 1; text.contains(QLatin1Char('?')); ++n)
        text.replace(text.indexOf(QLatin1Char('?')), 1, QStringLiteral("$%1").arg(n));
    text.replace(QStringLiteral("COLLATE NOCASE"), QStringLiteral("COLLATE pollaris_nocase"));
    std::vector<QByteArray> texts;
    for (const QVariant &v : values)
        texts.push_back(v.toString().toUtf8());
    std::vector<const char *> params;
    for (const QByteArray &t : texts)
        params.push_back(t.constData());
    PGresult *r =
        PQexecParams(m_pg, text.toUtf8().constData(), int(params.size()), nullptr, params.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        const std::string message = std::string(sql) + ": " + PQerrorMessage(m_pg);
        PQclear(r);
        throw std::runtime_error(message);
    }
    const int rows = PQntuples(r), columns = PQnfields(r);
    if (rows > 0)
        m_firstRowid = std::atoll(PQgetvalue(r, 0, 0));
    for (int i = 0; i < rows; ++i)
        for (int c = 0; c < columns; ++c)
            m_bytes += PQgetlength(r, i, c);
    PQclear(r);
    return rows;
}

qint64 RawFile::run(const char *sql, std::initializer_list<QVariant> values)
{
    if (m_pg)
        return runOnServer(sql, values);
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
