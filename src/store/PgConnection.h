#pragma once

#include "Connection.h"

#include <QDeadlineTimer>
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
    // How long the server lets a session of this program sit idle inside a unit of
    // writes before it ends it, for connections opened from now on (milliseconds).
    static void setIdleInUnitMs(int ms);

    // True when the database holds any of the election's tables.
    bool holdsElection();
    // True when it holds the table of units written.
    bool holdsUnits() const;
    // Creates the collation, tables and indexes of an election, and the rights of
    // the stations' role (made if missing); inside a unit of writes, so that a
    // failure leaves the database empty.
    void createSchema(const QString &stationRole);
    // True when this session holds only a polling station's rights.
    bool isStation() const { return m_station; }
    // Runs SQL of the program's own (no values in it), one or more statements.
    void exec(const char *sql);

    void select(const Query &query, RowSink &sink) override;
    qint64 count(const Query &query) override;
    void insert(const QString &table, const QStringList &columns, const QVector<QVariant> &values) override;
    bool update(const QString &table, qint64 rowid, qint64 version, const QStringList &columns,
                const QVector<QVariant> &values, const QStringList &allColumns, const QVector<QVariant> &was) override;
    void countFailure(const QString &what) override;
    void appendLog(const QString &station, const QString &what) override;
    bool holds(const QString &t) override { return table(t) != nullptr; }
    bool remove(const QString &table, qint64 rowid) override;
    void begin() override;
    void commit() override;
    void rollback() noexcept override;
    bool inTransaction() const override;

protected:
    void close() noexcept override;

private:
    struct Statement {
        QString sql;
        QVector<QVariant> values;
    };
    struct Table {
        QString name;
        QStringList columns; // without the hidden row number
        QVector<unsigned> types;
        bool readable = true; // this session may read it
    };
    PgConnection(PgConn conn, const QString &conninfo);
    // Connects, and sets up the session. With a waiter set, a server out of reach
    // is tried again until it answers; waited: the waiter was told already.
    void connect(bool waited = false);
    // A polling station refuses a server that logs statements with their values.
    void refuseLoggingServer();
    // The refusal of options that would reach a server over a network without TLS
    // and a verified server, or an empty text.
    static QString unprotectedBy(const char *const *keywords, const char *const *values);
    // The session was lost: the unit under way with it. Connects again.
    void lostSession(const QString &text);
    // Runs a step that talks to the server. A server lost on the way is reached again
    // and the step run again, unless a unit was under way: then the unit is gone and
    // the failure says so (Resumed).
    template <typename Step> auto recovering(Step step) -> decltype(step());
    // Runs a write: inside a unit as one of its steps, outside one as a unit of its
    // own. The number of rows written.
    int write(const QString &sql, const QVector<QVariant> &values);
    static int affected(const PgResult &result);
    // Records the unit's identifier and commits it; false when the server was lost
    // and the unit is known not to have been written.
    bool finish(const QString &id);
    void loadCatalog();
    const Table *table(const QString &name) const;
    QString column(const Table *table, const QString &name, unsigned *type = nullptr) const;
    // The server's function through which a polling station runs the record
    // source, or an empty text.
    QString stationFunction(const Query &query) const;
    // The first step of a unit, and the second, that takes the election for it.
    QString beginStep() const;
    QString lockStep() const;
    // The FROM and WHERE of a record source; its values are added to values.
    QString fromWhere(const Query &query, QVector<QVariant> &values) const;
    // The open session; a closed one is a lost server.
    pg_conn *session() const;
    // Runs one statement with its values bound; raises the server's failure.
    PgResult run(const QString &sql, const QVector<QVariant> &values = {});
    static void bind(const QVector<QVariant> &values, std::vector<QByteArray> &texts,
                     std::vector<const char *> &params);
    // The next result of the statements sent, waiting no longer than the deadline:
    // a server that does not answer in time counts as lost.
    PgResult nextResult(const QDeadlineTimer &deadline);
    // All results of the statement sent: the first, or the first failure.
    PgResult await();
    static int answerWithinMs();
    [[noreturn]] void fail(const pg_result *result) const;
    static bool succeeded(const pg_result *result);
    // Sends the statements one behind the other and then reads their results:
    // one round trip for all. Each ends at a sync point of its own, so that one
    // that fails does not hold back the next.
    std::vector<PgResult> pipeline(const std::vector<Statement> &statements);
    // The steps of a unit, in one round trip; the first that fails ends the unit.
    std::vector<PgResult> unitSteps(const std::vector<Statement> &statements);

    PgConn m_conn;
    QHash<QString, Table> m_tables; // by lower-case name
    bool m_station = false;         // the session holds only a polling station's rights
    bool m_hasCounts = false;       // the election keeps counts of failed log-ins
    bool m_hasLog = false;          // the election keeps its own record
    bool m_inUnit = false;          // a unit of writes is under way
    QString m_unitId;               // the identifier it leaves as it commits
    QHash<QString, qint64> m_added; // rows added in the unit, by table
};

} // namespace store
