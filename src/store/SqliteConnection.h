#pragma once

#include "Connection.h"

#include <QElapsedTimer>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

// The election in one SQLite file. Only the election's creation makes a file:
// opening a missing file is a failure.
class SqliteConnection final : public Connection {
public:
    ~SqliteConnection() override;
    // Opens the file at path; with create set, makes a new empty one there.
    static std::shared_ptr<SqliteConnection> open(const QString &path, bool create = false);

    sqlite3 *handle() const { return m_db; }
    QString path() const { return target(); }
    void exec(const char *sql);

    // Raises the engine's last error on this connection.
    [[noreturn]] void fail(int code) const;
    // Raises a failure when the file at the path is no longer the open one, or,
    // before a write, when it may no longer be written.
    void checkFile(bool writing) const;

    void select(const Query &query, RowSink &sink) override;
    qint64 count(const Query &query) override;
    void insert(const QString &table, const QStringList &columns, const QVector<QVariant> &values) override;
    bool update(const QString &table, qint64 rowid, qint64 version, const QStringList &columns,
                const QVector<QVariant> &values, const QStringList &allColumns, const QVector<QVariant> &was) override;
    void countFailure(const QString &what) override;
    void appendLog(const QString &station, const QString &what) override;
    bool holds(const QString &table) override;
    // Makes the tables of the election's record and of its counts of failed
    // log-ins, where they are missing.
    void keepRecord();
    bool remove(const QString &table, qint64 rowid) override;
    void begin() override;
    void commit() override;
    void rollback() noexcept override;
    bool inTransaction() const override;

protected:
    void close() noexcept override;

private:
    SqliteConnection(sqlite3 *db, const QString &path) : Connection(path), m_db(db) {}
    // The engine's busy handler: true (non-zero) to try for the lock again.
    static int waitForLock(void *self, int tries);
    sqlite3 *m_db;
    QElapsedTimer m_waiting;
    bool m_waitedOut = false;
};

// A prepared statement, finalized with its owner.
class Statement {
public:
    Statement(SqliteConnection &conn, const QString &sql);
    ~Statement();
    Statement(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    Statement &operator=(Statement &&) = delete;

    sqlite3_stmt *get() const { return m_stmt; }
    // Binds a value to parameter index (from 1): text as UTF-8, a byte array's
    // bytes as they are, numbers and booleans as integers or reals.
    void bind(int index, const QVariant &value);
    // Steps once; true while a row is available.
    bool step();
    // The text of column c of the current row.
    QString text(int c) const;

private:
    SqliteConnection *m_conn;
    sqlite3_stmt *m_stmt = nullptr;
};

} // namespace store
