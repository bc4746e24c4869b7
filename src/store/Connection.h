#pragma once

#include <QString>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

// One open SQLite file, shared by every cursor that names the same path. The file
// is never created here: opening a missing file is a failure.
class Connection {
public:
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    static std::shared_ptr<Connection> open(const QString &path);
    // Closes every connection still open (rolling back anything uncommitted), so
    // that no journal is left beside the file when the program ends.
    static void closeAll();

    sqlite3 *handle() const { return m_db; }
    QString path() const { return m_path; }
    void exec(const char *sql);
    bool inTransaction() const;

    // Raises the engine's last error on this connection.
    [[noreturn]] void fail(int code) const;
    // Raises a failure when the file at the path is no longer the open one, or,
    // before a write, when it may no longer be written.
    void checkFile(bool writing) const;

    // Test seam, only in the store the tests link: the n-th write from now (1 = the
    // next) fails as if the disk had refused it. 0 switches it off.
    static void failWriteAfter(int n);
    // Called before each row write; throws when a fault is due (never as shipped).
    static void beforeWrite();

private:
    Connection(sqlite3 *db, const QString &path) : m_db(db), m_path(path) {}
    sqlite3 *m_db;
    QString m_path;
};

// A prepared statement, finalized with its owner.
class Statement {
public:
    Statement(Connection &conn, const QString &sql);
    ~Statement();
    Statement(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    Statement &operator=(Statement &&) = delete;

    sqlite3_stmt *get() const { return m_stmt; }
    // Steps once; true while a row is available.
    bool step();

private:
    Connection *m_conn;
    sqlite3_stmt *m_stmt = nullptr;
};

// Groups writes into one unit: begun here, rolled back on destruction unless
// committed. The destructor never throws.
class Transaction {
public:
    explicit Transaction(Connection &conn);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void Commit();

private:
    Connection &m_conn;
    bool m_done = false;
};

} // namespace store
