#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <functional>
#include <memory>

namespace store {

// The kinds of value a field holds, numbered as SQLite numbers them.
enum class Kind : int { Integer = 1, Float = 2, Text = 3, Null = 5 };

// A record source taken apart: all fields of one table, at most one text
// equality condition (its value bound, never written into SQL), at most one
// descending order on a field. Rows come in the order they were added, or in
// that order among equals of the ordering. Without an ordering a part of the
// rows can be asked for: the first few, or those added after a given row.
struct Query {
    QString table;
    QString conditionField; // empty: no condition
    QString conditionValue;
    QString orderField;     // empty: no ordering
    qint64 afterRowid = -1; // only the rows after this one; -1: from the first
    qint64 limit = -1;      // at most this many rows; -1: all
};

// Takes a result as the engine reads it: the field names once, then each row
// as its number and version followed by one call per field. A row's version is
// the engine's mark of the row as read, which any write to it changes (a server's
// row version; 0 from a file, which compares the fields themselves).
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual void columns(const QStringList &names) = 0;
    virtual void row(qint64 rowid, qint64 version) = 0;
    virtual void integer(qint64 value) = 0;
    virtual void real(double value) = 0;
    virtual void text(const char *utf8, int bytes) = 0;
    virtual void null() = 0;
};

// One open election, shared by every cursor that names the same target: either
// an SQLite file (the target is its path) or a PostgreSQL server (the target is
// a libpq connection string: a postgresql:// URI or keyword=value pairs such as
// service=NAME). The record cursor reaches either only through the operations
// below; everything that differs between the two engines lives beneath them.
// Nothing is ever created here: a missing file or a database without the
// election's tables is a failure.
class Connection {
public:
    virtual ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    static std::shared_ptr<Connection> open(const QString &target);
    // True when the target names a server rather than a file.
    static bool isServer(const QString &target);
    // Closes every connection still open (rolling back anything uncommitted), so
    // that no journal is left beside a file and no session on a server.
    static void closeAll();

    QString target() const { return m_target; }

    // Runs a record source and hands its rows to the sink.
    virtual void select(const Query &query, RowSink &sink) = 0;
    // The number of rows the record source gives, without reading them.
    virtual qint64 count(const Query &query) = 0;
    // Adds a row with the given fields; the others take their defaults.
    virtual void insert(const QString &table, const QStringList &columns, const QVector<QVariant> &values) = 0;
    // Writes the given fields of row rowid, but only while the row is as it was
    // read: of the version read, or (from a file) holding `was` in every one of
    // `allColumns`; false when it no longer is (another station changed or deleted
    // it), and then nothing is written.
    virtual bool update(const QString &table, qint64 rowid, qint64 version, const QStringList &columns,
                        const QVector<QVariant> &values, const QStringList &allColumns,
                        const QVector<QVariant> &was) = 0;
    // Adds one to a count the election keeps of failed log-ins ("administrator
    // log-ins failed", "voter log-ins failed"): a unit of its own.
    virtual void countFailure(const QString &what) = 0;
    // The election's own record of what happened: appends an entry (what, at which
    // station), with the time and a hash that chains it to the entry before, so that
    // an entry changed or taken out later shows. Inside a unit, it is written with
    // the unit; outside one, as a unit of its own. An election made before the record
    // was kept gains it with its first entry (a file), or keeps none (a server).
    virtual void appendLog(const QString &station, const QString &what) = 0;
    // The hash of an entry, as both engines compute it: SHA-256, in hex, of the
    // previous entry's hash and the entry's fields, each on a line of its own.
    static QString logHash(const QString &previous, qint64 seq, const QString &at, const QString &station,
                           const QString &what);
    // The station that the program's own changes are recorded as coming from; while
    // none is set (the companion tool), the record cursors record nothing.
    static void setLogStation(const QString &name);
    static QString logStation();
    // Deletes row rowid; false when it was no longer there.
    virtual bool remove(const QString &table, qint64 rowid) = 0;
    // Whether the election holds the table (one made before the table was kept
    // does not).
    virtual bool holds(const QString &table) = 0;

    // A unit of writes. Readers inside it see one moment of the election, and
    // no other writer gets in between.
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() noexcept = 0;
    virtual bool inTransaction() const = 0;

    // How long a station waits for another that holds the election for a write
    // (its lock) before the save is refused as busy: every unit of writes the
    // program makes lasts milliseconds, so twenty stations queueing, or a slow
    // disk, stay well inside it; a holder that keeps it longer is stuck (on a
    // server, a session that sits idle inside a unit is ended well before).
    static int lockWaitMs();
    // A shorter or longer wait, for connections opened from now on.
    static void setLockWaitMs(int ms);

    // A program that rides out a lost server sets a waiter: a server out of reach
    // (at start, or lost in the middle of an action) is then tried again and again
    // instead of being a failure. The waiter is called with true and the server's
    // own text before each pause between tries (it shows that the station waits, and
    // pauses), and with false once the server answers again. Without a waiter a lost
    // server is a failure at once, as the companion tool wants. A program with a
    // waiter is a polling station: it also refuses a server that would keep a log of
    // the statements it runs with their values.
    static void setServerWaiter(std::function<void(bool waiting, const QString &detail)> waiter);
    static bool waitsForServer();
    static void waitingForServer(bool waiting, const QString &detail);

    // Test seam, only in the store the tests link: the n-th write from now (1 = the
    // next) fails as if the disk had refused it. 0 switches it off.
    static void failWriteAfter(int n);
    // Called before each row write; throws when a fault is due (never as shipped).
    static void beforeWrite();
    // Called by the engines as soon as a unit of writes holds the election. In the
    // store the tests link, POLLARIS_STOP_IN_UNIT=N stops the process (SIGSTOP) in
    // its N-th unit, as a station that freezes in the middle of a save; never as shipped.
    static void inUnit();
    // Test seam, only in the store the tests link: the next time a statement that
    // starts with `statement` has been sent to a server, the connection is dropped
    // just before its answer is read, as when a network fails at that moment: the
    // server runs it all the same, then finds the station gone. An empty text
    // switches it off.
    static void loseAnswerTo(const QString &statement);
    // Called by the server engine once statements are sent; true when the answer is to be lost.
    static bool answerLost(const QString &sql);
    // Test seam: sees every statement text before an engine runs it.
    static void setStatementObserver(std::function<void(const QString &)> observer);
    // Called by the engines with each statement text they are about to run.
    static void observe(const QString &sql);
    // Test seam: sees each statement sent to a server with the values bound to it,
    // as a server that logged its statements would keep them.
    static void setSentValuesObserver(std::function<void(const QString &, const QVector<QVariant> &)> observer);
    // Called by the server engine with each statement it sends and its values.
    static void observeSent(const QString &sql, const QVector<QVariant> &values);

protected:
    explicit Connection(const QString &target) : m_target(target) {}
    // Closes the session; called for every connection by closeAll.
    virtual void close() noexcept = 0;

private:
    QString m_target;
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
