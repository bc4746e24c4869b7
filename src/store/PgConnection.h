#pragma once

#include "Connection.h"

#include <QHash>
#include <QVector>
#include <initializer_list>
#include <vector>

struct pg_conn;
struct pg_result;

namespace store {

// Owners of libpq's handles: a result is cleared, a session finished, with its owner.
struct PgResultFree {
    void operator()(pg_result *result) const noexcept;
};
struct PgConnFinish {
    void operator()(pg_conn *conn) const noexcept;
};
using PgResult = std::unique_ptr<pg_result, PgResultFree>;
using PgConn = std::unique_ptr<pg_conn, PgConnFinish>;

// The election on a PostgreSQL server, reached through libpq. The tables are
// those of the file, with a hidden row number (rowid, an identity column) that
// keeps rows in the order they were added and that `*` never shows. Texts are
// compared by the ICU collation pollaris_nocase: letter case ignored for every
// letter, as in the file (where the two differ is written in the README).
class PgConnection final : public Connection {
public:
    ~PgConnection() override;
    // Connects; a connection string that holds a password is refused (libpq
    // reads passwords from ~/.pgpass or a service file).
    static std::shared_ptr<PgConnection> open(const QString &conninfo);
    // The refusal of a connection string, or an empty text when it may be used.
    static QString refusalOf(const QString &conninfo);

    // True when the database holds any of the election's tables.
    bool holdsElection();
    // Creates the collation, tables and indexes of an election; inside a unit of
    // writes, so that a failure leaves the database empty.
    void createSchema();
    // Runs SQL of the program's own (no values in it), one or more statements.
    void exec(const char *sql);

    void select(const Query &query, RowSink &sink) override;
    qint64 count(const Query &query) override;
    void insert(const QString &table, const QStringList &columns, const QVector<QVariant> &values) override;
    bool update(const QString &table, qint64 rowid, const QStringList &columns, const QVector<QVariant> &values,
                const QStringList &allColumns, const QVector<QVariant> &was) override;
    bool remove(const QString &table, qint64 rowid) override;
    void begin() override;
    void commit() override;
    void rollback() noexcept override;
    bool inTransaction() const override;

protected:
    void close() noexcept override;

private:
    struct Table {
        QString name;
        QStringList columns; // without the hidden row number
        QVector<unsigned> types;
    };
    PgConnection(PgConn conn, const QString &conninfo);
    void loadCatalog();
    const Table *table(const QString &name) const;
    QString column(const Table *table, const QString &name, unsigned *type = nullptr) const;
    // The FROM and WHERE of a record source; its values are added to values.
    QString fromWhere(const Query &query, QVector<QVariant> &values) const;
    // The open session; a closed one is a lost server.
    pg_conn *session() const;
    // Runs one statement with its values bound; raises the server's failure.
    PgResult run(const QString &sql, const QVector<QVariant> &values = {});
    [[noreturn]] void fail(const pg_result *result) const;
    static bool succeeded(const pg_result *result);
    // Sends the statements one behind the other and then reads their results:
    // one round trip for all. Each ends at a sync point of its own, so that one
    // that fails does not hold back the next. "$1" in a statement is the key of
    // the election's write lock.
    std::vector<PgResult> pipeline(std::initializer_list<const char *> statements);

    PgConn m_conn;
    QHash<QString, Table> m_tables; // by lower-case name
    bool m_locked = false;          // holds the election's write lock
    QHash<QString, qint64> m_added; // rows added in the unit, by table
};

} // namespace store
