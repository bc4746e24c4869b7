#include "PgConnection.h"

#include "StoreError.h"

#include <cstdlib>
#include <cstring>
#include <libpq-fe.h>
#include <utility>

namespace store {

namespace {

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
)sql";

const char *const kElectionTables[] = {"positions", "candinfo", "candvote", "users", "administrators"};

// The key of the election's write lock: one writer at a time, as in the file.
constexpr qint64 kWriteLock = 0x506f6c6c61726973LL;
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
            text += QLatin1String(text.endsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char(':')) ? " " : ". ");
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

std::shared_ptr<PgConnection> PgConnection::open(const QString &conninfo)
{
    if (const QString refusal = refusalOf(conninfo); !refusal.isEmpty())
        throw StoreError(ServerUnreachable, refusal);
    const QByteArray info = conninfo.toUtf8();
    // The string first, then what the program needs whatever it says.
    const char *keywords[] = {"dbname", "fallback_application_name", "client_encoding", nullptr};
    const char *values[] = {info.constData(), "pollaris", "UTF8", nullptr};
    PgConn conn(PQconnectdbParams(keywords, values, 1));
    if (!conn || PQstatus(conn.get()) != CONNECTION_OK)
        throw StoreError(ServerUnreachable,
                         QStringLiteral("Cannot reach the election server: %1")
                             .arg(conn ? oneLine(PQerrorMessage(conn.get())) : QStringLiteral("out of memory")),
                         StoreError::Outcome::Lost);
    std::shared_ptr<PgConnection> pg(new PgConnection(std::move(conn), conninfo));
    // Another station holding the election for a write is waited for, as a
    // second copy of the program on the file is.
    pg->exec(QStringLiteral("SET lock_timeout = %1").arg(lockWaitMs()).toUtf8().constData());
    pg->loadCatalog();
    return pg;
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
    QString message = oneLine(primary ? primary : m_conn ? PQerrorMessage(m_conn.get()) : "");
    if (!m_conn || PQstatus(m_conn.get()) != CONNECTION_OK)
        throw StoreError(ServerUnreachable,
                         QStringLiteral("The connection to the election server was lost: %1")
                             .arg(message.isEmpty() ? QStringLiteral("closed") : message),
                         StoreError::Outcome::Lost);
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

PgResult PgConnection::run(const QString &sql, const QVector<QVariant> &values)
{
    pg_conn *c = session();
    // Every value goes as text in a parameter of its own, the server giving it
    // the kind of the field it meets.
    std::vector<QByteArray> texts(size_t(values.size()));
    std::vector<const char *> params(size_t(values.size()), nullptr);
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
    observe(sql);
    const QByteArray text = sql.toUtf8();
    PgResult result(PQexecParams(c, text.constData(), int(values.size()), nullptr, params.data(), nullptr, nullptr, 0));
    if (!succeeded(result.get()))
        fail(result.get());
    return result;
}

void PgConnection::exec(const char *sql)
{
    pg_conn *c = session();
    observe(QString::fromUtf8(sql));
    PgResult result(PQexec(c, sql));
    if (!succeeded(result.get()))
        fail(result.get());
}

void PgConnection::loadCatalog()
{
    PgResult r = run(QStringLiteral(
        "SELECT c.relname, a.attname, a.atttypid::int8 FROM pg_catalog.pg_class c"
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
    }
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

bool PgConnection::holdsElection()
{
    for (const char *name : kElectionTables)
        if (table(QString::fromLatin1(name)))
            return true;
    return false;
}

void PgConnection::createSchema()
{
    // Names in every script must be stored whole.
    const char *encoding = m_conn ? PQparameterStatus(m_conn.get(), "server_encoding") : nullptr;
    if (!encoding || std::strcmp(encoding, "UTF8") != 0)
        throw StoreError(ServerFailure, QStringLiteral("0A000: the database's encoding is %1, not UTF8; create it "
                                                       "with createdb --encoding=UTF8 --template=template0")
                                            .arg(QString::fromLatin1(encoding ? encoding : "unknown")));
    exec(kServerSchema);
    loadCatalog();
}

QString PgConnection::fromWhere(const Query &query, QVector<QVariant> &values) const
{
    const Table *t = table(query.table);
    QString sql = QStringLiteral(" FROM ") + (t ? quoted(t->name) : quoted(query.table.toLower()));
    QStringList conditions;
    if (!query.conditionField.isEmpty()) {
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
    PgResult r = run(sql, values);
    return std::strtoll(PQgetvalue(r.get(), 0, 0), nullptr, 10);
}

void PgConnection::select(const Query &query, RowSink &sink)
{
    const Table *t = table(query.table);
    QStringList fields{QStringLiteral("rowid")};
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

    PgResult r = run(sql, values);
    const int columnCount = PQnfields(r.get());
    QStringList names;
    QVector<unsigned> types;
    for (int c = 1; c < columnCount; ++c) {
        names << QString::fromUtf8(PQfname(r.get(), c));
        types << PQftype(r.get(), c);
    }
    sink.columns(names);
    const int rows = PQntuples(r.get());
    for (int i = 0; i < rows; ++i) {
        sink.row(std::strtoll(PQgetvalue(r.get(), i, 0), nullptr, 10));
        for (int c = 1; c < columnCount; ++c) {
            if (PQgetisnull(r.get(), i, c)) {
                sink.null();
                continue;
            }
            const char *value = PQgetvalue(r.get(), i, c);
            switch (types[c - 1]) {
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
    run(sql, values);
    ++m_added[t ? t->name : table];
}

bool PgConnection::update(const QString &table, qint64 rowid, const QStringList &columns,
                          const QVector<QVariant> &values, const QStringList &allColumns, const QVector<QVariant> &was)
{
    const Table *t = this->table(table);
    QStringList sets, unchanged;
    QVector<QVariant> bound = values;
    for (const QString &c : columns)
        sets << column(t, c) + QStringLiteral("=$%1").arg(sets.size() + 1);
    bound << rowid;
    const int rowMark = int(bound.size());
    // The row must hold exactly what was read, letter case included.
    for (qsizetype i = 0; i < allColumns.size(); ++i) {
        unsigned type = kText;
        const QString field = column(t, allColumns[i], &type);
        bound << was[i];
        unchanged << QStringLiteral("%1%2 IS NOT DISTINCT FROM $%3")
                         .arg(field, isText(type) ? QStringLiteral(" COLLATE \"C\"") : QString())
                         .arg(bound.size());
    }
    const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE rowid=$%3%4")
                            .arg(t ? quoted(t->name) : quoted(table.toLower()), sets.join(QLatin1Char(',')))
                            .arg(rowMark)
                            .arg(unchanged.isEmpty() ? QString() : QStringLiteral(" AND ") + unchanged.join(" AND "));
    beforeWrite();
    PgResult r = run(sql, bound);
    return std::strcmp(PQcmdTuples(r.get()), "1") == 0;
}

bool PgConnection::remove(const QString &table, qint64 rowid)
{
    const Table *t = this->table(table);
    beforeWrite();
    PgResult r = run(QStringLiteral("DELETE FROM %1 WHERE rowid=$1").arg(t ? quoted(t->name) : quoted(table.toLower())),
                     {rowid});
    return std::strcmp(PQcmdTuples(r.get()), "1") == 0;
}

std::vector<PgResult> PgConnection::pipeline(std::initializer_list<const char *> statements)
{
    pg_conn *c = session();
    const QByteArray key = QByteArray::number(kWriteLock);
    const char *params[] = {key.constData()};
    bool sent = PQenterPipelineMode(c) == 1;
    for (const char *sql : statements) {
        if (!sent)
            break;
        observe(QString::fromUtf8(sql));
        // The only value any of them takes is the lock's key.
        const int count = std::strstr(sql, "$1") ? 1 : 0;
        sent = PQsendQueryParams(c, sql, count, nullptr, count ? params : nullptr, nullptr, nullptr, 0) == 1 &&
               PQpipelineSync(c) == 1;
    }
    std::vector<PgResult> results;
    // Each statement answers with its result and an end mark, then its sync point.
    for (size_t i = 0; sent && i < statements.size(); ++i) {
        PgResult result(PQgetResult(c));
        sent = result != nullptr;
        while (sent && PgResult(PQgetResult(c)))
            ; // the end of this statement's results
        const PgResult sync(PQgetResult(c));
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
    // One writer at a time, as in the file: the lock is taken before the unit
    // begins, so that its snapshot already holds every write made before it.
    // Readers inside the unit see that one moment throughout. Both go to the
    // server together; it begins the unit as soon as it grants the lock.
    std::vector<PgResult> r = pipeline({"SELECT pg_advisory_lock($1)", "BEGIN ISOLATION LEVEL REPEATABLE READ"});
    m_locked = succeeded(r[0].get());
    if (!m_locked || !succeeded(r[1].get())) {
        // Without the lock the unit was begun all the same: it ends here.
        rollback();
        fail(m_locked ? r[1].get() : r[0].get());
    }
}

void PgConnection::commit()
{
    const QHash<QString, qint64> added = std::exchange(m_added, {});
    if (!m_locked) {
        exec("COMMIT");
    } else {
        // The lock goes with the unit's end, in the same round trip, whether or
        // not the unit could be committed.
        std::vector<PgResult> r = pipeline({"COMMIT", "SELECT pg_advisory_unlock($1)"});
        m_locked = false;
        if (!succeeded(r[0].get()))
            fail(r[0].get());
    }
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
    if (!m_conn || PQstatus(m_conn.get()) != CONNECTION_OK)
        return;
    if (inTransaction())
        PgResult(PQexec(m_conn.get(), "ROLLBACK"));
    if (m_locked) {
        m_locked = false;
        const QByteArray key = QByteArray::number(kWriteLock);
        const char *params[] = {key.constData()};
        PgResult(PQexecParams(m_conn.get(), "SELECT pg_advisory_unlock($1)", 1, nullptr, params, nullptr, nullptr, 0));
    }
}

} // namespace store
