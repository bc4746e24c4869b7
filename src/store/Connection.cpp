#include "Connection.h"

#include "PgConnection.h"
#include "SqliteConnection.h"
#include "StoreError.h"

#include <QCryptographicHash>
#include <QHash>
#include <QRegularExpression>
#include <csignal>
#include <cstring>
#include <sqlite3.h>

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
std::function<void(const QString &)> g_observer;
std::function<void(const QString &, const QVector<QVariant> &)> g_valuesObserver;
QString g_logStation;
int g_lockWaitMs = 8000;
std::function<void(bool, const QString &)> g_serverWaiter;

} // namespace

StoreError::Outcome outcomeOfSqlite(int code)
{
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return StoreError::Outcome::Conflict;
    default: return StoreError::Outcome::Failure;
    }
}

StoreError::Outcome outcomeOfSqlState(const char *sqlState)
{
    if (!sqlState)
        return StoreError::Outcome::Failure;
    // serialization_failure, deadlock_detected, unique_violation. A lock not
    // released within the station's whole wait (lock_not_available) is no
    // moment's contention but a holder that is slow or stuck: the election is busy.
    for (const char *conflict : {"40001", "40P01", "23505"})
        if (std::strcmp(sqlState, conflict) == 0)
            return StoreError::Outcome::Conflict;
    if (std::strcmp(sqlState, "55P03") == 0)
        return StoreError::Outcome::Busy;
    // connection_exception (class 08), and the server shutting down or
    // ending the session (class 57P)
    if (std::strncmp(sqlState, "08", 2) == 0 || std::strncmp(sqlState, "57P", 3) == 0)
        return StoreError::Outcome::Lost;
    return StoreError::Outcome::Failure;
}

int Connection::lockWaitMs() { return g_lockWaitMs; }

void Connection::setLockWaitMs(int ms) { g_lockWaitMs = ms; }

void Connection::setServerWaiter(std::function<void(bool, const QString &)> waiter)
{
    g_serverWaiter = std::move(waiter);
}

bool Connection::waitsForServer() { return bool(g_serverWaiter); }

void Connection::waitingForServer(bool waiting, const QString &detail)
{
    if (g_serverWaiter)
        g_serverWaiter(waiting, detail);
}

bool Connection::isServer(const QString &target)
{
    // A libpq URI, or keyword=value pairs. The program's own file paths are
    // absolute, and the tools make the paths they are given absolute.
    static const QRegularExpression keywordForm(QStringLiteral("^\\s*[A-Za-z_]+\\s*="));
    return target.startsWith(QLatin1String("postgresql://")) || target.startsWith(QLatin1String("postgres://")) ||
           keywordForm.match(target).hasMatch();
}

std::shared_ptr<Connection> Connection::open(const QString &target)
{
    if (auto existing = registry().value(target).lock())
        return existing;
    std::shared_ptr<Connection> conn;
    if (isServer(target))
        conn = PgConnection::open(target);
    else
        conn = SqliteConnection::open(target);
    registry().insert(target, conn);
    return conn;
}

void Connection::closeAll()
{
    for (auto &weak : registry())
        if (auto conn = weak.lock())
            conn->close();
    registry().clear();
}

Connection::~Connection() = default;

#ifdef POLLARIS_TEST_HOOKS
void Connection::failWriteAfter(int n) { g_writesUntilFault = n; }

void Connection::beforeWrite()
{
    if (g_writesUntilFault > 0 && --g_writesUntilFault == 0)
        throw StoreError(InjectedFault, QStringLiteral("disk I/O error (injected)"));
}

namespace {
QString g_loseAnswerTo;
}

void Connection::loseAnswerTo(const QString &statement) { g_loseAnswerTo = statement; }

bool Connection::answerLost(const QString &sql)
{
    if (g_loseAnswerTo.isEmpty() || !sql.startsWith(g_loseAnswerTo, Qt::CaseInsensitive))
        return false;
    g_loseAnswerTo.clear();
    return true;
}

void Connection::inUnit()
{
    static int units = 0;
    static const int stopIn = qEnvironmentVariableIntValue("POLLARIS_STOP_IN_UNIT");
    if (stopIn > 0 && ++units == stopIn)
        ::raise(SIGSTOP);
}
#else
// The store as it ships has no fault to inject.
void Connection::beforeWrite() {}
void Connection::inUnit() {}
bool Connection::answerLost(const QString &) { return false; }
#endif

void Connection::setStatementObserver(std::function<void(const QString &)> observer)
{
    g_observer = std::move(observer);
}

void Connection::observe(const QString &sql)
{
    if (g_observer)
        g_observer(sql);
}

void Connection::setSentValuesObserver(std::function<void(const QString &, const QVector<QVariant> &)> observer)
{
    g_valuesObserver = std::move(observer);
}

void Connection::observeSent(const QString &sql, const QVector<QVariant> &values)
{
    if (g_valuesObserver)
        g_valuesObserver(sql, values);
}

QString Connection::logHash(const QString &previous, qint64 seq, const QString &at, const QString &station,
                            const QString &what)
{
    const QString text = QStringList{previous, QString::number(seq), at, station, what}.join(QLatin1Char('\n'));
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

void Connection::setLogStation(const QString &name) { g_logStation = name; }

QString Connection::logStation() { return g_logStation; }

Transaction::Transaction(Connection &conn) : m_conn(conn) { m_conn.begin(); }

Transaction::~Transaction()
{
    if (!m_done)
        m_conn.rollback();
}

void Transaction::Commit()
{
    m_conn.commit();
    m_done = true;
}

} // namespace store
