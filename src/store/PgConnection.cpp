#include "PgConnection.h"

#include "StoreError.h"

#include <QDeadlineTimer>
#include <QUuid>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <libpq-fe.h>
#include <poll.h>
#include <utility>

namespace store {

namespace {

// Every unit of writes leaves its identifier here as it commits: a random
// number the station chose, nothing else, so that it links to no voter. A station
// that lost the server's answer to its COMMIT asks for its identifier to tell
// whether the unit was written. A unit also locks the table as its first step:
// one writer at a time, as in the file, and a lock that ends with its unit.
const char *const kUnitsTable = "CREATE TABLE IF NOT EXISTS pollaris_units (id uuid PRIMARY KEY)";

// The election's tables on a server. Names are written without quotes, so the
// server keeps them in lower case and any query may write them in any case,
// as with the file. The row number comes last, so that a plain INSERT ...
// VALUES of the visible fields fills a row as it does in the file.
const char *const kServerSchema = R"sql(
CREATE COLLATION IF NOT EXISTS pollaris_nocase (provider = icu, locale = 'und-u-ks-level2', deterministic = false);
CREATE TABLE Positions (
    PosID   text COLLATE pollaris_nocase,
    PosName text,
    rowid   bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY
);
CREATE TABLE CandInfo (
    CandID     text COLLATE pollaris_nocase,
    CandName   text,
    StudentNum text,
    PosID      text COLLATE pollaris_nocase,
    rowid      bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY
);
CREATE TABLE CandVote (
    CandID   text COLLATE pollaris_nocase,
    NumVotes integer,
    rowid    bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY
);
CREATE TABLE Users (
    Name     text,
    Username text COLLATE pollaris_nocase,
    Password text,
    HasVoted boolean,
    rowid    bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY
);
CREATE TABLE Administrators (
    AdminUsername text COLLATE pollaris_nocase,
    AdminPassword text,
    rowid         bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY
);
-- A log-in, a duplicate test or a candidate's tally is an index lookup. The
-- codes are unique on the server, which thus refuses a duplicate that two
-- stations add at the same moment.
CREATE UNIQUE INDEX positions_posid ON Positions (PosID);
CREATE UNIQUE INDEX candinfo_candid ON CandInfo (CandID);
CREATE INDEX candinfo_posid ON CandInfo (PosID);
CREATE INDEX candvote_candid ON CandVote (CandID);
CREATE INDEX candvote_rank ON CandVote (NumVotes DESC NULLS LAST, rowid);
CREATE UNIQUE INDEX users_username ON Users (Username);
CREATE UNIQUE INDEX administrators_adminusername ON Administrators (AdminUsername);
-- A session that stops in the middle of a save (a station frozen, its cable
-- pulled) is ended by the server within seconds, and its unit with it, so that
-- it never holds the election for the others; this holds for every session.
DO $$ BEGIN
    EXECUTE format('ALTER DATABASE %I SET idle_in_transaction_session_timeout = %L', current_database(), '2s');
EXCEPTION WHEN insufficient_privilege THEN
    RAISE WARNING 'only the owner of the database can set idle_in_transaction_session_timeout for every session';
END $$;
)sql";

// What a polling station may do, enforced by the server: the stations' role
// (its name in the setting pollaris.station_role) reads the ballot and nothing
// else of the election's tables, and reaches the register and the tallies only
// through the functions below, which run with the rights of the election's owner.
// It finds one account by its user name, marks it as having voted (never back),
// and adds one vote at a time: each admission opens a ballot for the station's
// session (a random identifier the station chose, linked to no voter), on which
// each position takes one vote. It never reads a tally: to it every tally is 0,
// unless the tally cannot take another vote (full, or without a value).
const char *const kStationRights = R"sql(
CREATE TABLE IF NOT EXISTS pollaris_ballots (
    station uuid PRIMARY KEY,
    voted   text[] NOT NULL
);
CREATE TABLE IF NOT EXISTS pollaris_counts (
    what  text PRIMARY KEY,
    count bigint NOT NULL,
    rowid bigint GENERATED ALWAYS AS IDENTITY
);
CREATE TABLE IF NOT EXISTS pollaris_log (
    seq     bigint PRIMARY KEY,
    at      text NOT NULL,
    station text NOT NULL,
    what    text NOT NULL,
    hash    text NOT NULL,
    rowid   bigint GENERATED ALWAYS AS IDENTITY
);
-- The election's own record: each entry chained by its hash to the one before
-- (as Connection::logHash computes it), appended here and only here.
CREATE OR REPLACE FUNCTION pollaris_log_append(p_station text, p_what text) RETURNS void LANGUAGE plpgsql SECURITY DEFINER AS $$
DECLARE
    v_seq bigint;
    v_previous text;
    v_at text := to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"');
BEGIN
    LOCK TABLE pollaris_log IN EXCLUSIVE MODE;
    SELECT l.seq, l.hash INTO v_seq, v_previous FROM pollaris_log l ORDER BY l.seq DESC LIMIT 1;
    v_seq := coalesce(v_seq, 0) + 1;
    INSERT INTO pollaris_log (seq, at, station, what, hash)
    VALUES (v_seq, v_at, p_station, p_what,
            encode(sha256(convert_to(concat_ws(E'\n', coalesce(v_previous, ''), v_seq::text, v_at, p_station, p_what),
                                     'UTF8')), 'hex'));
END $$;
CREATE OR REPLACE FUNCTION pollaris_lock() RETURNS void LANGUAGE plpgsql SECURITY DEFINER AS $$
BEGIN
    LOCK TABLE pollaris_units IN EXCLUSIVE MODE;
END $$;
CREATE OR REPLACE FUNCTION pollaris_account(p_username text)
RETURNS TABLE (rowid bigint, username text, password text, hasvoted boolean)
LANGUAGE sql STABLE SECURITY DEFINER AS $$
    SELECT u.rowid, u.Username, u.Password, u.HasVoted FROM Users u
    WHERE u.Username = p_username COLLATE pollaris_nocase ORDER BY u.rowid
$$;
CREATE OR REPLACE FUNCTION pollaris_admit(p_station uuid, p_account bigint) RETURNS boolean LANGUAGE plpgsql SECURITY DEFINER AS $$
BEGIN
    UPDATE Users SET HasVoted = true WHERE Users.rowid = p_account AND HasVoted IS NOT TRUE;
    IF NOT FOUND THEN
        RETURN false;
    END IF;
    INSERT INTO pollaris_ballots (station, voted) VALUES (p_station, '{}')
        ON CONFLICT (station) DO UPDATE SET voted = '{}';
    RETURN true;
END $$;
CREATE OR REPLACE FUNCTION pollaris_tally(p_candid text)
RETURNS TABLE (rowid bigint, candid text, numvotes integer)
LANGUAGE sql STABLE SECURITY DEFINER AS $$
    SELECT v.rowid, v.CandID,
           CASE WHEN v.NumVotes IS NULL OR v.NumVotes >= 2147483647 THEN v.NumVotes ELSE 0 END
    FROM CandVote v
    WHERE v.CandID = p_candid COLLATE pollaris_nocase ORDER BY v.rowid
$$;
CREATE OR REPLACE FUNCTION pollaris_add_vote(p_station uuid, p_tally bigint) RETURNS boolean LANGUAGE plpgsql SECURITY DEFINER AS $$
DECLARE
    v_position text;
BEGIN
    SELECT coalesce(lower(c.PosID), '') INTO v_position
        FROM CandVote v JOIN CandInfo c ON c.CandID = v.CandID
        WHERE v.rowid = p_tally ORDER BY c.rowid LIMIT 1;
    IF NOT FOUND THEN
        RETURN false; -- the candidate is no longer on the ballot
    END IF;
    UPDATE pollaris_ballots SET voted = voted || v_position
        WHERE station = p_station AND NOT (v_position = ANY (voted));
    IF NOT FOUND THEN
        RAISE EXCEPTION 'no voter admitted by this session may vote for this position now'
            USING ERRCODE = 'insufficient_privilege';
    END IF;
    UPDATE CandVote SET NumVotes = NumVotes + 1 WHERE CandVote.rowid = p_tally AND NumVotes < 2147483647;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'the tally cannot take another vote' USING ERRCODE = 'numeric_value_out_of_range';
    END IF;
    RETURN true;
END $$;
CREATE OR REPLACE FUNCTION pollaris_count_failure(p_what text) RETURNS void LANGUAGE plpgsql SECURITY DEFINER AS $$
BEGIN
    IF p_what NOT IN ('administrator log-ins failed', 'voter log-ins failed') THEN
        RAISE EXCEPTION 'not a count the election keeps: %', p_what USING ERRCODE = 'invalid_parameter_value';
    END IF;
    INSERT INTO pollaris_counts AS c (what, count) VALUES (p_what, 1)
        ON CONFLICT (what) DO UPDATE SET count = c.count + 1;
END $$;
DO $$
DECLARE
    station text := current_setting('pollaris.station_role');
    f regprocedure;
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = station) THEN
        BEGIN
            EXECUTE format('CREATE ROLE %I LOGIN', station);
        EXCEPTION WHEN duplicate_object OR unique_violation THEN
            NULL; -- made by another election at the same moment
        END;
    END IF;
    IF station = current_user OR pg_has_role(station, current_user, 'USAGE') OR EXISTS (
        SELECT FROM pg_roles WHERE rolname = station AND (rolsuper OR rolcreaterole OR rolcreatedb OR rolbypassrls)) THEN
        RAISE EXCEPTION 'the stations'' role % would hold more than a station''s rights: name a role of its own', station
            USING ERRCODE = 'invalid_parameter_value';
    END IF;
    -- The functions find the election's tables in its own schema whoever calls them.
    FOR f IN SELECT p.oid::regprocedure FROM pg_proc p
             WHERE p.pronamespace = current_schema()::regnamespace AND p.proname LIKE 'pollaris\_%' LOOP
        EXECUTE format('ALTER FUNCTION %s SET search_path = %I, pg_temp', f, current_schema());
        EXECUTE format('REVOKE ALL ON FUNCTION %s FROM PUBLIC', f);
        EXECUTE format('GRANT EXECUTE ON FUNCTION %s TO %I', f, station);
    END LOOP;
    -- Nobody else connects to the election or makes anything in it.
    EXECUTE format('REVOKE ALL ON DATABASE %I FROM PUBLIC', current_database());
    EXECUTE format('GRANT CONNECT ON DATABASE %I TO %I', current_database(), station);
    EXECUTE format('REVOKE CREATE ON SCHEMA %I FROM PUBLIC', current_schema());
    EXECUTE format('GRANT USAGE ON SCHEMA %I TO %I', current_schema(), station);
    EXECUTE format('GRANT SELECT ON Positions, CandInfo TO %I', station);
    EXECUTE format('GRANT INSERT ON pollaris_units TO %I', station);
END $$;
)sql";

const char *const kElectionTables[] = {"positions", "candinfo", "candvote", "users", "administrators"};

// The identifier of this station's session with the election, for the ballots it
// opens: one for the life of the program, kept across a server lost and reached again.
const QString &stationSession()
{
    static const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    return id;
}

// How long the server lets a session sit idle inside a unit of writes before it
// ends the session, in milliseconds; a station's own units last milliseconds.
int g_idleInUnitMs = 2000;
// How often a single write is tried again after the server was lost and reached
// again without having written it.
constexpr int kReplays = 10;
// The first two steps of every unit of writes.
const QString kBeginUnit = QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ");
// A polling station takes the election through a function, and a statement's snapshot
// is taken as it starts, before the function's lock is waited for: its units read
// committed, each statement afresh, which under the lock is one moment all the same.
const QString kStationBeginUnit = QStringLiteral("BEGIN ISOLATION LEVEL READ COMMITTED");
const QString kLockUnit = QStringLiteral("LOCK TABLE pollaris_units IN EXCLUSIVE MODE");
// The same for a polling station, which holds no right on the table but to add to it.
const QString kStationLockUnit = QStringLiteral("SELECT pollaris_lock()");
// The last step before COMMIT: the unit's identifier.
const QString kRecordUnit = QStringLiteral("INSERT INTO pollaris_units (id) VALUES ($1)");
// Rows added to a table in one unit from which the server's figures on it are renewed.
constexpr qint64 kAnalyzeAfterRows = 10000;

// PostgreSQL's type numbers that the store reads as numbers.
constexpr unsigned kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701, kNumeric = 1700,
                   kText = 25, kVarchar = 1043;

QString quoted(const QString &identifier)
{
    QString text = identifier;
    return QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

bool isText(unsigned type) { return type == kText || type == kVarchar; }

// libpq's messages run over several lines; a box shows them as sentences on one.
QString oneLine(const char *message)
{
    QString text;
    for (QString line : QString::fromUtf8(message).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        line = line.simplified();
        if (line.isEmpty())
            continue;
        if (!text.isEmpty())
            text += QLatin1String(QStringLiteral(".:?!").contains(text.back()) ? " " : ". ");
        text += line;
    }
    return text;
}

} // namespace

void PgResultFree::operator()(pg_result *result) const noexcept { PQclear(result); }
void PgConnFinish::operator()(pg_conn *conn) const noexcept { PQfinish(conn); }

QString PgConnection::refusalOf(const QString &conninfo)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo.toUtf8().constData(), &error);
    if (!options) {
        QString text = error ? oneLine(error) : QStringLiteral("out of memory");
        PQfreemem(error);
        return QStringLiteral("The connection string is not understood: %1").arg(text);
    }
    bool password = false;
    for (PQconninfoOption *o = options; o->keyword; ++o)
        if (std::strcmp(o->keyword, "password") == 0 && o->val && *o->val)
            password = true;
    PQconninfoFree(options);
    if (password)
        return QStringLiteral("The connection string holds a password. Put the password in ~/.pgpass (or the file "
                              "PGPASSFILE names) or in a service file, never on the command line.");
    return QString();
}

void PgConnection::setIdleInUnitMs(int ms) { g_idleInUnitMs = ms; }

std::shared_ptr<PgConnection> PgConnection::open(const QString &conninfo)
{
    if (const QString refusal = refusalOf(conninfo); !refusal.isEmpty())
        throw StoreError(ServerUnreachable, refusal);
    std::shared_ptr<PgConnection> pg(new PgConnection(nullptr, conninfo));
    pg->connect();
    return pg;
}

namespace {

// A failure to connect that waiting cannot mend: the server itself refused the
// session (a password, a database or an address it does not accept), or the
// connection string names what does not exist. A server that is down, starting,
// shutting down or out of reach is waited for.
bool waitingMends(const QString &text)
{
    for (const char *passing : {"the database system is", "too many clients", "terminating connection", "hot standby",
                                "read-only", "server closed the connection"})
        if (text.contains(QLatin1String(passing)))
            return true;
    for (const char *lasting :
         {"FATAL", "definition of service", "invalid ", "missing \"=\"", "SSL was required", "certificate"})
        if (text.contains(QLatin1String(lasting)))
            return false;
    return true;
}

} // namespace

QString PgConnection::unprotectedBy(const char *const *keywords, const char *const *values)
{
    // The options as libpq will use them, a service file's included; nothing is sent yet.
    PgConn probe(PQconnectStartParams(keywords, values, 1));
    PQconninfoOption *options = probe ? PQconninfo(probe.get()) : nullptr;
    if (!options)
        return QString();
    QString hosts, hostaddr, sslmode;
    for (PQconninfoOption *o = options; o->keyword; ++o) {
        const QString value = QString::fromUtf8(o->val ? o->val : "");
        if (std::strcmp(o->keyword, "host") == 0)
            hosts = value;
        else if (std::strcmp(o->keyword, "hostaddr") == 0)
            hostaddr = value;
        else if (std::strcmp(o->keyword, "sslmode") == 0)
            sslmode = value;
    }
    PQconninfoFree(options);
    // A Unix socket on this computer needs no encryption: any other host is reached
    // over a network, where the server must prove who it is and every byte be secret.
    bool network = !hostaddr.isEmpty();
    for (const QString &host : hosts.split(QLatin1Char(','), Qt::SkipEmptyParts))
        network = network || !(host.startsWith(QLatin1Char('/')) || host.startsWith(QLatin1Char('@')));
    if (!network || sslmode == QLatin1String("verify-full") || sslmode == QLatin1String("verify-ca"))
        return QString();
    return QStringLiteral("The connection to the election server at %1 would not be encrypted with the server's "
                          "identity verified (sslmode is %2). Over a network Pollaris talks to the server only with "
                          "sslmode=verify-full and the school's root certificate in ~/.postgresql/root.crt: see "
                          "\"Encrypting the connection\" in the README.")
        .arg(hostaddr.isEmpty() ? hosts : hostaddr, sslmode.isEmpty() ? QStringLiteral("prefer") : sslmode);
}

void PgConnection::connect(bool waited)
{
    const QByteArray info = target().toUtf8();
    const QByteArray userTimeout = QByteArray::number(lockWaitMs() + 2000);
    // A station notices a server gone silent within seconds rather than the system's
    // hours (TCP only; a Unix socket needs none of it). Of the servers a string names
    // (the election's server and its standby) it takes the one that accepts writes:
    // a standby answers only once promoted, and until then the station waits. The
    // string comes next and may say otherwise; then what the program needs whatever it says.
    const char *keywords[] = {"connect_timeout",
                              "keepalives",
                              "keepalives_idle",
                              "keepalives_interval",
                              "keepalives_count",
                              "tcp_user_timeout",
                              "target_session_attrs",
                              "dbname",
                              "fallback_application_name",
                              "client_encoding",
                              nullptr};
    const char *values[] = {
        "5", "1", "5", "2", "3", userTimeout.constData(), "read-write", info.constData(), "pollaris", "UTF8", nullptr};
    if (const QString refusal = unprotectedBy(keywords, values); !refusal.isEmpty())
        throw StoreError(ServerUnreachable, refusal);
    for (;;) {
        QString text;
        m_conn.reset(PQconnectdbParams(keywords, values, 1));
        if (m_conn && PQstatus(m_conn.get()) == CONNECTION_OK) {
            try {
                // Another station holding the election for a write is waited for, as
                // a second copy of the program on the file is; a unit left idle is ended.
                exec(QStringLiteral("SET lock_timeout = %1; SET idle_in_transaction_session_timeout = %2; "
                                    "SET client_min_messages = warning")
                         .arg(lockWaitMs())
                         .arg(g_idleInUnitMs)
                         .toUtf8()
                         .constData());
                if (waitsForServer())
                    refuseLoggingServer();
                loadCatalog();
                // An election made before units were recorded gains their table; a new
                // one is made with it.
                if (holdsElection() && !holdsUnits())
                    exec(kUnitsTable);
                if (waited)
                    waitingForServer(false, QString());
                return;
            } catch (const StoreError &e) {
                if (e.outcome() != StoreError::Outcome::Lost)
                    throw;
                text = e.text();
            }
        } else {
            text = QStringLiteral("Cannot reach the election server: %1")
                       .arg(m_conn ? oneLine(PQerrorMessage(m_conn.get())) : QStringLiteral("out of memory"));
        }
        m_conn.reset();
        if (!waitsForServer() || !waitingMends(text))
            throw StoreError(ServerUnreachable, text, StoreError::Outcome::Lost);
        waited = true;
        waitingForServer(true, text);
    }
}

void PgConnection::refuseLoggingServer()
{
    // A server that writes statements to its log with their values would keep, in
    // the order they came, each voter's log-in beside the votes that follow it.
    PgResult r = run(QStringLiteral(
        "SELECT name, setting FROM pg_catalog.pg_settings WHERE (name = 'log_statement' AND setting <> 'none') OR "
        "(name IN ('log_min_duration_statement', 'log_min_duration_sample') AND setting <> '-1') OR "
        "(name = 'log_transaction_sample_rate' AND setting <> '0') ORDER BY name"));
    if (PQntuples(r.get()) == 0)
        return;
    const QString name = QString::fromUtf8(PQgetvalue(r.get(), 0, 0)),
                  setting = QString::fromUtf8(PQgetvalue(r.get(), 0, 1));
    m_conn.reset();
    throw StoreError(ServerFailure,
                     QStringLiteral("The election server writes the statements it runs to its log (%1 = %2), so "
                                    "its log would link each voter to the votes that follow the log-in. A polling "
                                    "station does not vote on it: set %1 back to its default in postgresql.conf, "
                                    "for the database or for the stations' role.")
                         .arg(name, setting));
}

PgConnection::PgConnection(PgConn conn, const QString &conninfo) : Connection(conninfo), m_conn(std::move(conn)) {}

PgConnection::~PgConnection() = default;

void PgConnection::close() noexcept { m_conn.reset(); }

bool PgConnection::succeeded(const pg_result *result)
{
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

void PgConnection::fail(const pg_result *result) const
{
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const char *primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const char *severity = result ? PQresultErrorField(result, PG_DIAG_SEVERITY_NONLOCALIZED) : nullptr;
    QString message = oneLine(primary ? primary : m_conn ? PQerrorMessage(m_conn.get()) : "");
    // The server ends the session with a FATAL message (a restart, a session ended by
    // an administrator or by a time limit); one that came while the station was idle
    // reaches it with the next statement, without its fields.
    const bool ended = (severity && (std::strcmp(severity, "FATAL") == 0 || std::strcmp(severity, "PANIC") == 0)) ||
                       (!state && message.startsWith(QLatin1String("FATAL")));
    if (!m_conn || PQstatus(m_conn.get()) != CONNECTION_OK || ended)
        throw StoreError(ServerUnreachable,
                         QStringLiteral("The connection to the election server was lost: %1")
                             .arg(message.isEmpty() ? QStringLiteral("closed") : message),
                         StoreError::Outcome::Lost);
    // insufficient_privilege: what the stations' role may not do.
    if (m_station && state && std::strcmp(state, "42501") == 0)
        throw StoreError(ServerFailure,
                         QStringLiteral("This computer is a polling station: the election server lets it take votes "
                                        "and nothing else (%1). The election is administered with pollaris-admin, or "
                                        "with Pollaris on the administrator's computer, which connects as the "
                                        "administrators' role.")
                             .arg(message),
                         StoreError::Outcome::Refused);
    throw StoreError(ServerFailure, QStringLiteral("%1: %2").arg(QString::fromLatin1(state ? state : "XX000"), message),
                     outcomeOfSqlState(state));
}

pg_conn *PgConnection::session() const
{
    if (!m_conn)
        throw StoreError(ServerUnreachable, QStringLiteral("The connection to the election server is closed"),
                         StoreError::Outcome::Lost);
    return m_conn.get();
}

PgResult PgConnection::nextResult(const QDeadlineTimer &deadline)
{
    pg_conn *c = session();
    // The server answers every statement of the program within its lock wait; one
    // that stays silent longer is out of reach, even where the network still
    // carries the bytes somewhere (a frozen peer, a half-open path).
    while (PQisBusy(c)) {
        const qint64 left = deadline.remainingTime();
        pollfd socket{PQsocket(c), POLLIN, 0};
        const int ready = left == 0 ? 0 : ::poll(&socket, 1, int(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            m_conn.reset();
            throw StoreError(ServerUnreachable,
                             QStringLiteral("The connection to the election server was lost: no answer within %1 "
                                            "seconds")
                                 .arg(answerWithinMs() / 1000),
                             StoreError::Outcome::Lost);
        }
        if (PQconsumeInput(c) == 0)
            break; // the connection failed; PQgetResult says how
    }
    return PgResult(PQgetResult(c));
}

int PgConnection::answerWithinMs() { return lockWaitMs() + 10000; }

PgResult PgConnection::await()
{
    const QDeadlineTimer deadline(answerWithinMs());
    PgResult first = nextResult(deadline);
    // Whatever else comes with it (a failure ends a script of several statements).
    for (PgResult more; (more = nextResult(deadline));)
        if (succeeded(first.get()) && !succeeded(more.get()))
            first = std::move(more);
    return first;
}

PgResult PgConnection::run(const QString &sql, const QVector<QVariant> &values)
{
    pg_conn *c = session();
    std::vector<QByteArray> texts;
    std::vector<const char *> params;
    bind(values, texts, params);
    observe(sql);
    observeSent(sql, values);
    const QByteArray text = sql.toUtf8();
    if (PQsendQueryParams(c, text.constData(), int(values.size()), nullptr, params.data(), nullptr, nullptr, 0) != 1)
        fail(nullptr);
    if (answerLost(sql)) {
        m_conn.reset();
        fail(nullptr);
    }
    PgResult result = await();
    if (!succeeded(result.get()))
        fail(result.get());
    return result;
}

void PgConnection::bind(const QVector<QVariant> &values, std::vector<QByteArray> &texts,
                        std::vector<const char *> &params)
{
    // Every value goes as text in a parameter of its own, the server giving it
    // the kind of the field it meets.
    texts.assign(size_t(values.size()), QByteArray());
    params.assign(size_t(values.size()), nullptr);
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QVariant &v = values[i];
        if (v.isNull())
            continue;
        switch (v.typeId()) {
        case QMetaType::Bool: texts[size_t(i)] = v.toBool() ? "true" : "false"; break;
        case QMetaType::Double: texts[size_t(i)] = QByteArray::number(v.toDouble(), 'g', 17); break;
        case QMetaType::QByteArray: texts[size_t(i)] = v.toByteArray(); break;
        default: texts[size_t(i)] = v.toString().toUtf8();
        }
        // The server's texts cannot hold the character U+0000; libpq would cut
        // the value short there.
        if (texts[size_t(i)].contains('\0'))
            throw StoreError(ServerFailure, QStringLiteral("22021: invalid byte sequence for encoding \"UTF8\": 0x00"));
        params[size_t(i)] = texts[size_t(i)].constData();
    }
}

void PgConnection::exec(const char *sql)
{
    pg_conn *c = session();
    observe(QString::fromUtf8(sql));
    if (PQsendQuery(c, sql) != 1)
        fail(nullptr);
    PgResult result = await();
    if (!succeeded(result.get()))
        fail(result.get());
}

void PgConnection::loadCatalog()
{
    PgResult r = run(QStringLiteral(
        "SELECT c.relname, a.attname, a.atttypid::int8, has_table_privilege(c.oid, 'SELECT')"
        " FROM pg_catalog.pg_class c"
        " JOIN pg_catalog.pg_attribute a ON a.attrelid = c.oid"
        " WHERE c.relnamespace = current_schema()::regnamespace AND c.relkind IN ('r', 'p') AND a.attnum > 0"
        " AND NOT a.attisdropped AND a.attname <> 'rowid' ORDER BY c.relname, a.attnum"));
    m_tables.clear();
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        const QString name = QString::fromUtf8(PQgetvalue(r.get(), i, 0));
        Table &t = m_tables[name.toLower()];
        t.name = name;
        t.columns << QString::fromUtf8(PQgetvalue(r.get(), i, 1));
        t.types << unsigned(std::strtoul(PQgetvalue(r.get(), i, 2), nullptr, 10));
        t.readable = PQgetvalue(r.get(), i, 3)[0] == 't';
    }
    // An account that may not read the register is a polling station's.
    const Table *users = table(QStringLiteral("users"));
    m_station = users && !users->readable;
    m_hasCounts = table(QStringLiteral("pollaris_counts")) != nullptr;
    m_hasLog = table(QStringLiteral("pollaris_log")) != nullptr;
}

const PgConnection::Table *PgConnection::table(const QString &name) const
{
    auto it = m_tables.constFind(name.toLower());
    return it == m_tables.constEnd() ? nullptr : &it.value();
}

QString PgConnection::column(const Table *t, const QString &name, unsigned *type) const
{
    if (type)
        *type = kText;
    for (qsizetype c = 0; t && c < t->columns.size(); ++c)
        if (t->columns[c].compare(name, Qt::CaseInsensitive) == 0) {
            if (type)
                *type = t->types[c];
            return quoted(t->columns[c]);
        }
    // Not there: the server names the failure.
    return quoted(name.toLower());
}

bool PgConnection::holdsUnits() const { return table(QStringLiteral("pollaris_units")) != nullptr; }

bool PgConnection::holdsElection()
{
    for (const char *name : kElectionTables)
        if (table(QString::fromLatin1(name)))
            return true;
    return false;
}

void PgConnection::createSchema(const QString &stationRole)
{
    // Names in every script must be stored whole.
    const char *encoding = m_conn ? PQparameterStatus(m_conn.get(), "server_encoding") : nullptr;
    if (!encoding || std::strcmp(encoding, "UTF8") != 0)
        throw StoreError(ServerFailure, QStringLiteral("0A000: the database's encoding is %1, not UTF8; create it "
                                                       "with createdb --encoding=UTF8 --template=template0")
                                            .arg(QString::fromLatin1(encoding ? encoding : "unknown")));
    exec(kServerSchema);
    exec(kUnitsTable);
    run(QStringLiteral("SELECT set_config('pollaris.station_role', $1, true)"), {stationRole});
    exec(kStationRights);
    loadCatalog();
}

QString PgConnection::stationFunction(const Query &query) const
{
    if (!m_station || query.conditionField.isEmpty() || !query.orderField.isEmpty())
        return QString();
    const auto is = [&](const char *table, const char *field) {
        return query.table.compare(QLatin1String(table), Qt::CaseInsensitive) == 0 &&
               query.conditionField.compare(QLatin1String(field), Qt::CaseInsensitive) == 0;
    };
    if (is("users", "username"))
        return QStringLiteral("pollaris_account");
    if (is("candvote", "candid"))
        return QStringLiteral("pollaris_tally");
    return QString();
}

QString PgConnection::fromWhere(const Query &query, QVector<QVariant> &values) const
{
    const Table *t = table(query.table);
    QString sql = QStringLiteral(" FROM ") + (t ? quoted(t->name) : quoted(query.table.toLower()));
    QStringList conditions;
    // A polling station reaches one account, or one tally, through the server's functions.
    if (const QString function = stationFunction(query); !function.isEmpty()) {
        // No text on the server holds U+0000: a value with it finds nothing.
        const bool none = query.conditionValue.contains(QChar(0));
        values << (none ? QString() : query.conditionValue);
        sql = QStringLiteral(" FROM %1($1) AS t").arg(function);
        if (none)
            conditions << QStringLiteral("false");
    } else if (!query.conditionField.isEmpty()) {
        // No text on the server holds U+0000: a value with it finds nothing.
        if (query.conditionValue.contains(QChar(0))) {
            conditions << QStringLiteral("false");
        } else {
            unsigned type = kText;
            const QString field = column(t, query.conditionField, &type);
            values << query.conditionValue;
            conditions << (isText(type) ? QStringLiteral("%1 COLLATE pollaris_nocase = $%2")
                                        : QStringLiteral("%1::text COLLATE pollaris_nocase = $%2"))
                              .arg(field)
                              .arg(values.size());
        }
    }
    if (query.afterRowid >= 0) {
        values << query.afterRowid;
        conditions << QStringLiteral("rowid > $%1").arg(values.size());
    }
    if (!conditions.isEmpty())
        sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    return sql;
}

qint64 PgConnection::count(const Query &query)
{
    QVector<QVariant> values;
    const QString sql = QStringLiteral("SELECT count(*)") + fromWhere(query, values);
    PgResult r = recovering([&] { return run(sql, values); });
    return std::strtoll(PQgetvalue(r.get(), 0, 0), nullptr, 10);
}

void PgConnection::select(const Query &query, RowSink &sink)
{
    const Table *t = table(query.table);
    // The row's version is the transaction that wrote it last.
    QStringList fields{QStringLiteral("rowid"), QStringLiteral("xmin::text::int8")};
    if (!stationFunction(query).isEmpty())
        fields = QStringList{QStringLiteral("rowid"), QStringLiteral("0"), QStringLiteral("t.*")};
    else
        for (const QString &c : t ? t->columns : QStringList())
            fields << quoted(c);
    QVector<QVariant> values;
    QString sql = QStringLiteral("SELECT ") + fields.join(QStringLiteral(", ")) + fromWhere(query, values);
    if (!query.orderField.isEmpty())
        sql += QStringLiteral(" ORDER BY %1 DESC NULLS LAST, rowid").arg(column(t, query.orderField));
    else
        sql += QStringLiteral(" ORDER BY rowid");
    if (query.limit >= 0)
        sql += QStringLiteral(" LIMIT %1").arg(query.limit);

    // The whole result is in before the sink sees a row of it.
    PgResult r = recovering([&] { return run(sql, values); });
    const int columnCount = PQnfields(r.get());
    QStringList names;
    QVector<unsigned> types;
    // A function's result names its row number as a field of its own: not shown.
    const int firstField = stationFunction(query).isEmpty() ? 2 : 3;
    for (int c = firstField; c < columnCount; ++c) {
        names << QString::fromUtf8(PQfname(r.get(), c));
        types << PQftype(r.get(), c);
    }
    sink.columns(names);
    const int rows = PQntuples(r.get());
    for (int i = 0; i < rows; ++i) {
        sink.row(std::strtoll(PQgetvalue(r.get(), i, 0), nullptr, 10),
                 std::strtoll(PQgetvalue(r.get(), i, 1), nullptr, 10));
        for (int c = firstField; c < columnCount; ++c) {
            if (PQgetisnull(r.get(), i, c)) {
                sink.null();
                continue;
            }
            const char *value = PQgetvalue(r.get(), i, c);
            switch (types[c - firstField]) {
            case kBool: sink.integer(value[0] == 't' ? 1 : 0); break;
            case kInt2:
            case kInt4:
            case kInt8: sink.integer(std::strtoll(value, nullptr, 10)); break;
            case kFloat4:
            case kFloat8:
            case kNumeric: sink.real(std::strtod(value, nullptr)); break;
            default: sink.text(value, PQgetlength(r.get(), i, c));
            }
        }
    }
}

void PgConnection::insert(const QString &table, const QStringList &columns, const QVector<QVariant> &values)
{
    const Table *t = this->table(table);
    const QString name = t ? quoted(t->name) : quoted(table.toLower());
    QString sql;
    if (columns.isEmpty()) {
        sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(name);
    } else {
        QStringList names, marks;
        for (qsizetype i = 0; i < columns.size(); ++i)
            names << column(t, columns[i]), marks << QStringLiteral("$%1").arg(i + 1);
        sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(name, names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    }
    beforeWrite();
    write(sql, values);
    if (m_inUnit)
        ++m_added[t ? t->name : table];
}

bool PgConnection::update(const QString &table, qint64 rowid, qint64 version, const QStringList &columns,
                          const QVector<QVariant> &values, const QStringList &, const QVector<QVariant> &)
{
    const Table *t = this->table(table);
    beforeWrite();
    // A polling station marks an account as having voted, or adds one vote, only
    // through the server's functions; anything else the server refuses it.
    if (m_station && columns.size() == 1) {
        const auto is = [&](const char *name, const char *field) {
            return table.compare(QLatin1String(name), Qt::CaseInsensitive) == 0 &&
                   columns[0].compare(QLatin1String(field), Qt::CaseInsensitive) == 0;
        };
        if (is("users", "hasvoted") && values[0].toBool())
            return write(QStringLiteral("SELECT 1 WHERE pollaris_admit($1, $2)"), {stationSession(), rowid}) == 1;
        if (is("candvote", "numvotes")) {
            // Every tally reads 0 to a station: its new value is one vote added.
            if (values[0].toLongLong() != 1)
                throw StoreError(ServerFailure, QStringLiteral("A polling station adds one vote at a time."),
                                 StoreError::Outcome::Refused);
            return write(QStringLiteral("SELECT 1 WHERE pollaris_add_vote($1, $2)"), {stationSession(), rowid}) == 1;
        }
    }
    // The row must be as it was read: written by no transaction since. Its values
    // are not sent again, so that no statement carries a password it did not change.
    QStringList sets;
    QVector<QVariant> bound = values;
    for (const QString &c : columns)
        sets << column(t, c) + QStringLiteral("=$%1").arg(sets.size() + 1);
    bound << rowid << QString::number(version);
    const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE rowid=$%3 AND xmin::text=$%4")
                            .arg(t ? quoted(t->name) : quoted(table.toLower()), sets.join(QLatin1Char(',')))
                            .arg(bound.size() - 1)
                            .arg(bound.size());
    return write(sql, bound) == 1;
}

void PgConnection::appendLog(const QString &station, const QString &what)
{
    // An election made before the record was kept has no function to keep it.
    if (!m_hasLog)
        return;
    write(QStringLiteral("SELECT 1 FROM pollaris_log_append($1, $2)"), {station, what});
}

void PgConnection::countFailure(const QString &what)
{
    // An election made before the counts were kept has no function to keep them.
    if (!m_hasCounts)
        return;
    write(QStringLiteral("SELECT 1 FROM pollaris_count_failure($1)"), {what});
}

bool PgConnection::remove(const QString &table, qint64 rowid)
{
    const Table *t = this->table(table);
    beforeWrite();
    return write(QStringLiteral("DELETE FROM %1 WHERE rowid=$1").arg(t ? quoted(t->name) : quoted(table.toLower())),
                 {rowid}) == 1;
}

void PgConnection::lostSession(const QString &text)
{
    m_conn.reset();
    m_inUnit = false;
    m_added.clear();
    waitingForServer(true, text);
    connect(true);
}

template <typename Step> auto PgConnection::recovering(Step step) -> decltype(step())
{
    for (int attempt = 1;; ++attempt) {
        const bool inUnit = m_inUnit;
        try {
            return step();
        } catch (const StoreError &e) {
            if (e.outcome() != StoreError::Outcome::Lost || !waitsForServer())
                throw;
            lostSession(e.text());
            // The unit under way went with the session, unwritten: its action is run again.
            if (inUnit || attempt == kReplays)
                throw StoreError(ServerUnreachable,
                                 QStringLiteral("The connection to the election server was lost in the middle of a "
                                                "save, and nothing of it was written: %1")
                                     .arg(e.text()),
                                 StoreError::Outcome::Resumed);
        }
    }
}

std::vector<PgResult> PgConnection::unitSteps(const std::vector<Statement> &statements)
{
    std::vector<PgResult> r = pipeline(statements);
    for (const PgResult &result : r)
        if (!succeeded(result.get())) {
            rollback();
            fail(result.get());
        }
    return r;
}

int PgConnection::write(const QString &sql, const QVector<QVariant> &values)
{
    if (m_inUnit)
        return affected(recovering([&] { return run(sql, values); }));
    // A single write is a unit of its own, with an identifier, so that its outcome
    // can be told even when the server's answer to it is lost: the lock, the write
    // and nothing else; then, if it wrote, the identifier and COMMIT.
    for (int attempt = 1;; ++attempt) {
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const int rows = recovering([&] {
            return affected(unitSteps({{beginStep(), {}}, {lockStep(), {}}, {sql, values}})[2]);
        });
        if (rows == 0) {
            rollback();
            return 0;
        }
        if (finish(id))
            return rows;
        if (attempt == kReplays)
            throw StoreError(ServerUnreachable,
                             QStringLiteral("The election server was lost again and again before a save was written"),
                             StoreError::Outcome::Resumed);
        // Not written: the same write again, which finds the rows as they are now.
    }
}

QString PgConnection::beginStep() const { return m_station ? kStationBeginUnit : kBeginUnit; }

QString PgConnection::lockStep() const { return m_station ? kStationLockUnit : kLockUnit; }

int PgConnection::affected(const PgResult &result) { return std::atoi(PQcmdTuples(result.get())); }

bool PgConnection::finish(const QString &id)
{
    if (!holdsUnits()) { // the unit that made the election
        exec("COMMIT");
        return true;
    }
    try {
        unitSteps({{kRecordUnit, {id}}, {QStringLiteral("COMMIT"), {}}});
        return true;
    } catch (const StoreError &e) {
        if (e.outcome() != StoreError::Outcome::Lost || !waitsForServer())
            throw;
        lostSession(e.text());
    }
    // The answer to COMMIT was lost. The identifier is taken now if the unit did not
    // take it; a unit still under way on the server keeps it until it ends, and the
    // insert waits for that. Taken by this insert, it can no longer be committed.
    for (;;) {
        try {
            run(kRecordUnit, {id});
            return false;
        } catch (const StoreError &e) {
            if (e.text().startsWith(QLatin1String("23505")))
                return true;
            if (e.outcome() == StoreError::Outcome::Lost && waitsForServer())
                lostSession(e.text());
            else if (e.outcome() != StoreError::Outcome::Busy)
                throw;
        }
    }
}

std::vector<PgResult> PgConnection::pipeline(const std::vector<Statement> &statements)
{
    pg_conn *c = session();
    const QDeadlineTimer deadline(answerWithinMs());
    bool sent = PQenterPipelineMode(c) == 1;
    for (const Statement &statement : statements) {
        if (!sent)
            break;
        observe(statement.sql);
        observeSent(statement.sql, statement.values);
        std::vector<QByteArray> texts;
        std::vector<const char *> params;
        bind(statement.values, texts, params);
        const QByteArray text = statement.sql.toUtf8();
        sent = PQsendQueryParams(c, text.constData(), int(statement.values.size()), nullptr, params.data(), nullptr,
                                 nullptr, 0) == 1 &&
               PQpipelineSync(c) == 1;
    }
    std::vector<PgResult> results;
    // Each statement answers with its result and an end mark, then its sync point.
    for (size_t i = 0; sent && i < statements.size(); ++i) {
        if (answerLost(statements[i].sql)) {
            m_conn.reset();
            fail(nullptr);
        }
        PgResult result = nextResult(deadline);
        sent = result != nullptr;
        while (sent && nextResult(deadline))
            ; // the end of this statement's results
        const PgResult sync = nextResult(deadline);
        sent = sent && sync && PQresultStatus(sync.get()) == PGRES_PIPELINE_SYNC;
        results.push_back(std::move(result));
    }
    if (!sent || PQexitPipelineMode(c) != 1)
        fail(nullptr);
    return results;
}

void PgConnection::begin()
{
    if (inTransaction())
        throw StoreError(ServerFailure, QStringLiteral("25001: there is already a transaction in progress"));
    // One writer at a time, as in the file: the unit's first step locks the table of
    // units, before anything is read, so that its snapshot already holds every write
    // made before it, and readers inside the unit see that one moment throughout.
    // The lock ends with the unit, and the server ends a unit left idle.
    // A database that holds no election yet (one being made) has nothing to lock.
    recovering([&] {
        unitSteps(holdsUnits() ? std::vector<Statement>{{beginStep(), {}}, {lockStep(), {}}}
                               : std::vector<Statement>{{beginStep(), {}}});
    });
    m_inUnit = true;
    m_unitId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    inUnit();
}

void PgConnection::commit()
{
    const QHash<QString, qint64> added = std::exchange(m_added, {});
    if (!std::exchange(m_inUnit, false)) {
        if (inTransaction())
            exec("COMMIT");
        return;
    }
    if (!finish(m_unitId))
        throw StoreError(ServerUnreachable,
                         QStringLiteral("The connection to the election server was lost as a save was being "
                                        "written, and it was not written"),
                         StoreError::Outcome::Resumed);
    // A table that has just grown by a whole register (a copy, an import) is
    // measured again at once, so that the server reads it through its indexes
    // rather than sorting it, as it would by its old figures.
    for (auto it = added.cbegin(); it != added.cend(); ++it)
        if (it.value() >= kAnalyzeAfterRows)
            exec(("ANALYZE " + quoted(it.key())).toUtf8().constData());
}

bool PgConnection::inTransaction() const
{
    return m_conn && PQtransactionStatus(m_conn.get()) != PQTRANS_IDLE &&
           PQtransactionStatus(m_conn.get()) != PQTRANS_UNKNOWN;
}

void PgConnection::rollback() noexcept
{
    m_added.clear();
    m_inUnit = false;
    if (!m_conn || PQstatus(m_conn.get()) != CONNECTION_OK || !inTransaction())
        return;
    // Within the same time limit as any statement: a server gone silent is let go.
    try {
        if (PQsendQuery(m_conn.get(), "ROLLBACK") == 1)
            await();
    } catch (...) {
        m_conn.reset();
    }
}

} // namespace store
