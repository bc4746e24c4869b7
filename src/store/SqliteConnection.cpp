#include "SqliteConnection.h"

#include "StoreError.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

bool isAscii(const unsigned char *s, int n)
{
    for (int i = 0; i < n; ++i)
        if (s[i] >= 0x80)
            return false;
    return true;
}

unsigned char asciiLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// textEq(a, b): the store's text equality, true when the two texts are equal
// without regard to letter case, for every letter and not only ASCII. It is
// registered on each connection and used in queries only, never in the schema,
// so that the stock sqlite3 shell still reads and writes the file.
void textEq(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    auto a = sqlite3_value_text(argv[0]);
    int na = sqlite3_value_bytes(argv[0]);
    auto b = sqlite3_value_text(argv[1]);
    int nb = sqlite3_value_bytes(argv[1]);
    if (isAscii(a, na) && isAscii(b, nb)) {
        bool equal = na == nb;
        for (int i = 0; equal && i < na; ++i)
            equal = asciiLower(a[i]) == asciiLower(b[i]);
        sqlite3_result_int(ctx, equal);
        return;
    }
    QString qa = QString::fromUtf8(reinterpret_cast<const char *>(a), na);
    QString qb = QString::fromUtf8(reinterpret_cast<const char *>(b), nb);
    sqlite3_result_int(ctx, qa.toCaseFolded() == qb.toCaseFolded());
}

QString quoted(const QString &identifier) { return QLatin1Char('"') + identifier + QLatin1Char('"'); }

// Sets a pragma (or reads one) and gives back the value the engine answers with.
QString readPragma(SqliteConnection &conn, const char *sql)
{
    Statement stmt(conn, QString::fromLatin1(sql));
    return stmt.step() ? stmt.text(0) : QString();
}

// The engine says only "attempt to write a readonly database" when it cannot
// make its journal beside the file: say which folder is in the way.
// The engine follows a link to the file and keeps the journal beside the file it
// reaches, so that is the folder that must be writable.
QFileInfo realFile(const QString &path)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    return QFileInfo(real.isEmpty() ? path : real);
}

QString readonlyFolder(const QString &path)
{
    const QFileInfo file = realFile(path);
    return QString::fromUtf8(sqlite3_errstr(SQLITE_READONLY_DIRECTORY)) +
           QStringLiteral(": the folder %1 cannot be written (the journal of each save is kept there beside %2)")
               .arg(file.absolutePath(), file.fileName());
}

// The file that cannot be opened and why, in this computer's words: the file a
// link leads to is named (the installed program's file is a link into the data
// folder), and a file that is not there is told from one this account may not use.
QString cannotOpen(const QString &path)
{
    const QFileInfo given(path);
    QString text = path;
    QString file = path;
    if (given.isSymLink()) {
        file = given.symLinkTarget();
        text += QStringLiteral(" (a link to %1)").arg(file);
    }
    const QByteArray native = QFile::encodeName(file);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return text + (errno == ENOENT ? QStringLiteral(": there is no such file")
                                       : QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno)));
    if (::access(native.constData(), R_OK | W_OK) != 0)
        return text + QStringLiteral(": this account may not read and write it (%1)")
                          .arg(QString::fromLocal8Bit(std::strerror(errno)));
    return text;
}

} // namespace

std::shared_ptr<SqliteConnection> SqliteConnection::open(const QString &path, bool create)
{
    sqlite3 *db = nullptr;
    // Each connection is used by the one user-interface thread only.
    int rc = sqlite3_open_v2(path.toUtf8().constData(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0), nullptr);
    if (rc != SQLITE_OK) {
        QString text = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        throw StoreError(rc, text + QStringLiteral(": ") + cannotOpen(path), outcomeOfSqlite(rc));
    }
    std::shared_ptr<SqliteConnection> conn(new SqliteConnection(db, path));
    sqlite3_extended_result_codes(db, 1);
    // A second copy of the program may hold the file for a moment: wait for it,
    // and report the lock as a failure only when it is never let go.
    sqlite3_busy_handler(db, &SqliteConnection::waitForLock, conn.get());
    sqlite3_create_function_v2(db, "textEq", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, textEq, nullptr, nullptr,
                               nullptr);
    // The screens read whole tables again and again (a register of 100,000
    // voters): a page cache that can hold such a file (up to 32 MiB) saves
    // reading it anew through the system each time.
    readPragma(*conn, "PRAGMA cache_size=-32768");
    // Every write must be on disk when it returns, and the rollback journal keeps
    // no file beside the database between writes.
    QString mode = readPragma(*conn, "PRAGMA journal_mode=DELETE");
    readPragma(*conn, "PRAGMA synchronous=FULL");
    QString sync = readPragma(*conn, "PRAGMA synchronous");
    // A deleted voter's password must not linger in the file's free pages.
    readPragma(*conn, "PRAGMA secure_delete=ON");
    QString secure = readPragma(*conn, "PRAGMA secure_delete");
    if (mode.compare(QLatin1String("delete"), Qt::CaseInsensitive) != 0 || sync != QLatin1String("2") ||
        secure != QLatin1String("1"))
        throw StoreError(SQLITE_ERROR, QStringLiteral("The database refused durable writes: ") + path);
    return conn;
}

SqliteConnection::~SqliteConnection() { close(); }

void SqliteConnection::close() noexcept
{
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void SqliteConnection::exec(const char *sql)
{
    if (!m_db)
        throw StoreError(SQLITE_MISUSE, QStringLiteral("The database is closed"));
    observe(QString::fromUtf8(sql));
    int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(rc);
}

bool SqliteConnection::inTransaction() const { return m_db && !sqlite3_get_autocommit(m_db); }

int SqliteConnection::waitForLock(void *self, int tries)
{
    auto *conn = static_cast<SqliteConnection *>(self);
    if (tries == 0)
        conn->m_waiting.start();
    conn->m_waitedOut = conn->m_waiting.elapsed() >= lockWaitMs();
    if (conn->m_waitedOut)
        return 0;
    // Short naps first (a vote holds the file for a few milliseconds), then
    // longer ones, never more than 20 ms: the first free moment is taken.
    ::usleep(useconds_t(std::min(tries + 1, 20)) * 1000);
    return 1;
}

void SqliteConnection::fail(int code) const
{
    // Another copy got there first and let go again: a conflict. A lock held all
    // through the wait: the election is busy.
    if ((code & 0xff) == SQLITE_BUSY && m_waitedOut)
        throw StoreError(code, QString::fromUtf8(sqlite3_errmsg(m_db)), StoreError::Outcome::Busy);
    if (code == SQLITE_READONLY_DIRECTORY)
        throw StoreError(code, readonlyFolder(path()), outcomeOfSqlite(code));
    throw StoreError(code, m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(code)),
                     outcomeOfSqlite(code));
}

void SqliteConnection::checkFile(bool writing) const
{
    // The open file stays readable after it is removed or replaced, and writable
    // after it is made read-only; the program must not go on with a file that is
    // no longer the one at its path, nor write one that may no longer be written.
    int moved = 0;
    if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved)
        throw StoreError(SQLITE_CANTOPEN,
                         QString::fromUtf8(sqlite3_errstr(SQLITE_CANTOPEN)) + QStringLiteral(": ") + path());
    if (!writing)
        return;
    if (::access(path().toUtf8().constData(), W_OK) != 0)
        throw StoreError(SQLITE_READONLY,
                         QString::fromUtf8(sqlite3_errstr(SQLITE_READONLY)) + QStringLiteral(": ") + path());
    if (::access(QFile::encodeName(realFile(path()).absolutePath()).constData(), W_OK) != 0)
        throw StoreError(SQLITE_READONLY_DIRECTORY, readonlyFolder(path()));
}

namespace {

// The FROM and WHERE of a record source, its values bound in order by bindWhere.
QString fromWhere(const Query &query)
{
    QString sql = QStringLiteral(" FROM ") + quoted(query.table);
    QStringList conditions;
    if (!query.conditionField.isEmpty())
        conditions << QStringLiteral("textEq(%1, ?)").arg(quoted(query.conditionField));
    if (query.afterRowid >= 0)
        conditions << QStringLiteral("rowid > ?");
    if (!conditions.isEmpty())
        sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    return sql;
}

int bindWhere(Statement &stmt, const Query &query)
{
    int index = 1;
    if (!query.conditionField.isEmpty())
        stmt.bind(index++, query.conditionValue);
    if (query.afterRowid >= 0)
        stmt.bind(index++, query.afterRowid);
    return index;
}

} // namespace

qint64 SqliteConnection::count(const Query &query)
{
    Statement stmt(*this, QStringLiteral("SELECT count(*)") + fromWhere(query));
    bindWhere(stmt, query);
    stmt.step();
    return sqlite3_column_int64(stmt.get(), 0);
}

void SqliteConnection::select(const Query &query, RowSink &sink)
{
    QString sql = QStringLiteral("SELECT rowid, *") + fromWhere(query);
    if (!query.orderField.isEmpty())
        sql += QStringLiteral(" ORDER BY %1 DESC, rowid").arg(quoted(query.orderField));
    else
        sql += QStringLiteral(" ORDER BY rowid");
    if (query.limit >= 0)
        sql += QStringLiteral(" LIMIT ?");

    Statement stmt(*this, sql);
    const int next = bindWhere(stmt, query);
    if (query.limit >= 0)
        stmt.bind(next, query.limit);
    sqlite3_stmt *s = stmt.get();
    const int columnCount = sqlite3_column_count(s);
    QStringList columns;
    for (int c = 1; c < columnCount; ++c)
        columns << QString::fromUtf8(sqlite3_column_name(s, c));
    sink.columns(columns);
    while (stmt.step()) {
        sink.row(sqlite3_column_int64(s, 0), 0);
        for (int c = 1; c < columnCount; ++c) {
            switch (sqlite3_column_type(s, c)) {
            case SQLITE_INTEGER: sink.integer(sqlite3_column_int64(s, c)); break;
            case SQLITE_FLOAT: sink.real(sqlite3_column_double(s, c)); break;
            case SQLITE_NULL: sink.null(); break;
            default:
                // A blob is read as the text of its bytes.
                auto text = reinterpret_cast<const char *>(sqlite3_column_text(s, c));
                sink.text(text, sqlite3_column_bytes(s, c));
            }
        }
    }
}

void SqliteConnection::insert(const QString &table, const QStringList &columns, const QVector<QVariant> &values)
{
    QString sql;
    if (columns.isEmpty()) {
        sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoted(table));
    } else {
        QStringList names, marks;
        for (const QString &column : columns)
            names << quoted(column), marks << QStringLiteral("?");
        sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(quoted(table), names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    }
    Statement stmt(*this, sql);
    for (int i = 0; i < values.size(); ++i)
        stmt.bind(i + 1, values[i]);
    beforeWrite();
    stmt.step();
}

bool SqliteConnection::update(const QString &table, qint64 rowid, qint64, const QStringList &columns,
                              const QVector<QVariant> &values, const QStringList &allColumns,
                              const QVector<QVariant> &was)
{
    // The file keeps no version of a row: it is compared field by field.
    QStringList sets, unchanged;
    for (const QString &column : columns)
        sets << quoted(column) + QStringLiteral("=?");
    for (const QString &column : allColumns)
        unchanged << quoted(column) + QStringLiteral(" IS ?");
    Statement stmt(*this,
                   QStringLiteral("UPDATE %1 SET %2 WHERE rowid=? AND %3")
                       .arg(quoted(table), sets.join(QLatin1Char(',')), unchanged.join(QStringLiteral(" AND "))));
    int index = 1;
    for (const QVariant &value : values)
        stmt.bind(index++, value);
    stmt.bind(index++, rowid);
    for (const QVariant &value : was)
        stmt.bind(index++, value);
    beforeWrite();
    stmt.step();
    return sqlite3_changes(m_db) == 1;
}

bool SqliteConnection::remove(const QString &table, qint64 rowid)
{
    Statement stmt(*this, QStringLiteral("DELETE FROM %1 WHERE rowid=?").arg(quoted(table)));
    stmt.bind(1, rowid);
    beforeWrite();
    stmt.step();
    return sqlite3_changes(m_db) == 1;
}

void SqliteConnection::keepRecord()
{
    exec("CREATE TABLE IF NOT EXISTS pollaris_counts (what TEXT PRIMARY KEY, count INTEGER NOT NULL);"
         "CREATE TABLE IF NOT EXISTS pollaris_log (seq INTEGER PRIMARY KEY, at TEXT NOT NULL, station TEXT NOT NULL, "
         "what TEXT NOT NULL, hash TEXT NOT NULL)");
}

bool SqliteConnection::holds(const QString &table)
{
    Statement stmt(*this, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ? "
                                         "COLLATE NOCASE"));
    stmt.bind(1, table);
    return stmt.step();
}

void SqliteConnection::countFailure(const QString &what)
{
    // A file made before the counts were kept gains their table with the first one.
    Transaction unit(*this);
    keepRecord();
    Statement stmt(*this, QStringLiteral("INSERT INTO pollaris_counts (what, count) VALUES (?, 1) "
                                         "ON CONFLICT (what) DO UPDATE SET count = count + 1"));
    stmt.bind(1, what);
    beforeWrite();
    stmt.step();
    unit.Commit();
}

void SqliteConnection::appendLog(const QString &station, const QString &what)
{
    // With the unit under way, or as one of its own; a file made before the record
    // was kept gains its table with the first entry.
    std::optional<Transaction> unit;
    if (!inTransaction())
        unit.emplace(*this);
    keepRecord();
    qint64 seq = 1;
    QString previous;
    {
        Statement last(*this, QStringLiteral("SELECT seq, hash FROM pollaris_log ORDER BY seq DESC LIMIT 1"));
        if (last.step()) {
            seq = sqlite3_column_int64(last.get(), 0) + 1;
            previous = last.text(1);
        }
    }
    const QString at = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    Statement add(*this,
                  QStringLiteral("INSERT INTO pollaris_log (seq, at, station, what, hash) VALUES (?, ?, ?, ?, ?)"));
    add.bind(1, seq);
    add.bind(2, at);
    add.bind(3, station);
    add.bind(4, what);
    add.bind(5, logHash(previous, seq, at, station, what));
    add.step();
    if (unit)
        unit->Commit();
}

void SqliteConnection::begin()
{
    exec("BEGIN IMMEDIATE");
    inUnit();
}

void SqliteConnection::commit() { exec("COMMIT"); }

void SqliteConnection::rollback() noexcept
{
    if (inTransaction())
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

Statement::Statement(SqliteConnection &conn, const QString &sql) : m_conn(&conn)
{
    if (!conn.handle())
        throw StoreError(SQLITE_MISUSE, QStringLiteral("The database is closed"));
    QByteArray text = sql.toUtf8();
    int rc = sqlite3_prepare_v2(conn.handle(), text.constData(), int(text.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        conn.fail(rc);
    }
    // Setting a pragma is no write to the file: only statements that change
    // rows must find the file writable.
    const bool pragma = text.startsWith("PRAGMA");
    try {
        conn.checkFile(!pragma && !sqlite3_stmt_readonly(m_stmt));
    } catch (...) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        throw;
    }
    Connection::observe(sql);
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

Statement::Statement(Statement &&other) noexcept : m_conn(other.m_conn), m_stmt(other.m_stmt)
{
    other.m_stmt = nullptr;
}

void Statement::bind(int index, const QVariant &value)
{
    if (value.isNull()) {
        sqlite3_bind_null(m_stmt, index);
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Bool: sqlite3_bind_int(m_stmt, index, value.toBool() ? 1 : 0); break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort: sqlite3_bind_int64(m_stmt, index, value.toLongLong()); break;
    case QMetaType::Double: sqlite3_bind_double(m_stmt, index, value.toDouble()); break;
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        sqlite3_bind_text(m_stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
        break;
    }
    default: {
        const QByteArray text = value.toString().toUtf8();
        sqlite3_bind_text(m_stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
    }
}

bool Statement::step()
{
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3_reset(m_stmt);
    m_conn->fail(rc);
}

QString Statement::text(int c) const
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, c)),
                             sqlite3_column_bytes(m_stmt, c));
}

} // namespace store
