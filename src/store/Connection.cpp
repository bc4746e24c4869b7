#include "Connection.h"

#include "StoreError.h"

#include <QFileInfo>
#include <QHash>
#include <sqlite3.h>
#include <unistd.h>

namespace store {

namespace {

QHash<QString, std::weak_ptr<Connection>> &registry()
{
    static QHash<QString, std::weak_ptr<Connection>> connections;
    return connections;
}

#ifdef POLLARIS_TEST_HOOKS
int g_writesUntilFault = 0;
#endif

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

QString readPragma(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *stmt = nullptr;
    QString value;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    if (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW)
        value = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE && rc != SQLITE_OK)
        throw StoreError(rc, QString::fromUtf8(sqlite3_errmsg(db)));
    return value;
}

// The engine says only "attempt to write a readonly database" when it cannot
// make its journal beside the file: say which folder is in the way.
QString readonlyFolder(const QString &path)
{
    return QString::fromUtf8(sqlite3_errstr(SQLITE_READONLY_DIRECTORY)) +
           QStringLiteral(": the folder %1 cannot be written (the journal of each save is kept there beside %2)")
               .arg(QFileInfo(path).absolutePath(), QFileInfo(path).fileName());
}

} // namespace

std::shared_ptr<Connection> Connection::open(const QString &path)
{
    if (auto existing = registry().value(path).lock(); existing && existing->m_db)
        return existing;

    sqlite3 *db = nullptr;
    // Each connection is used by the one user-interface thread only.
    int rc = sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        QString text = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        throw StoreError(rc, text + QStringLiteral(": ") + path);
    }
    std::shared_ptr<Connection> conn(new Connection(db, path));
    sqlite3_extended_result_codes(db, 1);
    // A second copy of the program may hold the file for a moment: wait for it
    // briefly, then report the lock as a failure.
    sqlite3_busy_timeout(db, 3000);
    sqlite3_create_function_v2(db, "textEq", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, textEq, nullptr, nullptr,
                               nullptr);
    // The screens read whole tables again and again (a register of 100,000
    // voters): a page cache that can hold such a file (up to 32 MiB) saves
    // reading it anew through the system each time.
    readPragma(db, "PRAGMA cache_size=-32768");
    // Every write must be on disk when it returns, and the rollback journal keeps
    // no file beside the database between writes.
    QString mode = readPragma(db, "PRAGMA journal_mode=DELETE");
    readPragma(db, "PRAGMA synchronous=FULL");
    QString sync = readPragma(db, "PRAGMA synchronous");
    if (mode.compare(QLatin1String("delete"), Qt::CaseInsensitive) != 0 || sync != QLatin1String("2"))
        throw StoreError(SQLITE_ERROR, QStringLiteral("The database refused durable writes: ") + path);
    registry().insert(path, conn);
    return conn;
}

void Connection::closeAll()
{
    for (auto &weak : registry()) {
        if (auto conn = weak.lock(); conn && conn->m_db) {
            sqlite3_close_v2(conn->m_db);
            conn->m_db = nullptr;
        }
    }
    registry().clear();
}

Connection::~Connection()
{
    if (m_db)
        sqlite3_close_v2(m_db);
}

void Connection::exec(const char *sql)
{
    if (!m_db)
        throw StoreError(SQLITE_MISUSE, QStringLiteral("The database is closed"));
    int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(rc);
}

bool Connection::inTransaction() const { return m_db && !sqlite3_get_autocommit(m_db); }

void Connection::fail(int code) const
{
    if (code == SQLITE_READONLY_DIRECTORY)
        throw StoreError(code, readonlyFolder(m_path));
    throw StoreError(code, m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(code)));
}

void Connection::checkFile(bool writing) const
{
    // The open file stays readable after it is removed or replaced, and writable
    // after it is made read-only; the program must not go on with a file that is
    // no longer the one at its path, nor write one that may no longer be written.
    int moved = 0;
    if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved)
        throw StoreError(SQLITE_CANTOPEN,
                         QString::fromUtf8(sqlite3_errstr(SQLITE_CANTOPEN)) + QStringLiteral(": ") + m_path);
    if (!writing)
        return;
    if (::access(m_path.toUtf8().constData(), W_OK) != 0)
        throw StoreError(SQLITE_READONLY,
                         QString::fromUtf8(sqlite3_errstr(SQLITE_READONLY)) + QStringLiteral(": ") + m_path);
    if (::access(QFileInfo(m_path).absolutePath().toUtf8().constData(), W_OK) != 0)
        throw StoreError(SQLITE_READONLY_DIRECTORY, readonlyFolder(m_path));
}

#ifdef POLLARIS_TEST_HOOKS
void Connection::failWriteAfter(int n) { g_writesUntilFault = n; }

void Connection::beforeWrite()
{
    if (g_writesUntilFault > 0 && --g_writesUntilFault == 0)
        throw StoreError(InjectedFault, QStringLiteral("disk I/O error (injected)"));
}
#else
// The store as it ships has no fault to inject.
void Connection::beforeWrite() {}
#endif

Statement::Statement(Connection &conn, const QString &sql) : m_conn(&conn)
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
    try {
        conn.checkFile(!sqlite3_stmt_readonly(m_stmt));
    } catch (...) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        throw;
    }
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

Statement::Statement(Statement &&other) noexcept : m_conn(other.m_conn), m_stmt(other.m_stmt)
{
    other.m_stmt = nullptr;
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

Transaction::Transaction(Connection &conn) : m_conn(conn) { m_conn.exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction()
{
    if (!m_done && m_conn.handle())
        sqlite3_exec(m_conn.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit()
{
    m_conn.exec("COMMIT");
    m_done = true;
}

} // namespace store
