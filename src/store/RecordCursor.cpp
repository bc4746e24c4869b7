#include "RecordCursor.h"

#include "Connection.h"
#include "StoreError.h"

#include <QRegularExpression>
#include <limits>
#include <sqlite3.h>

namespace store {

namespace {

struct ParsedSource {
    QString table;
    QString conditionField; // empty: no condition
    QString conditionValue;
    QString orderField;     // empty: rows in the order they were added
};

ParsedSource parseRecordSource(const QString &source)
{
    using RE = QRegularExpression;
    static const RE tableOnly(QStringLiteral("^(\\w+)$"));
    static const RE selectAll(QStringLiteral("^select\\s+\\*\\s+from\\s+(\\w+)$"),
                              RE::CaseInsensitiveOption);
    // The value is everything between "='" and the closing quote at the very end:
    // quotes inside it are part of the value.
    static const RE selectWhere(
        QStringLiteral("^select\\s+\\*\\s+from\\s+(\\w+)\\s+where\\s+(\\w+)\\s*=\\s*'(.*)'$"),
        RE::CaseInsensitiveOption | RE::DotMatchesEverythingOption);
    static const RE selectOrdered(
        QStringLiteral("^select\\s+\\*\\s+from\\s+(\\w+)\\s+order\\s+by\\s+(\\w+)\\s+desc$"),
        RE::CaseInsensitiveOption);

    ParsedSource parsed;
    if (auto m = tableOnly.match(source); m.hasMatch()) {
        parsed.table = m.captured(1);
    } else if (auto m = selectAll.match(source); m.hasMatch()) {
        parsed.table = m.captured(1);
    } else if (auto m = selectWhere.match(source); m.hasMatch()) {
        parsed.table = m.captured(1);
        parsed.conditionField = m.captured(2);
        parsed.conditionValue = m.captured(3);
    } else if (auto m = selectOrdered.match(source); m.hasMatch()) {
        parsed.table = m.captured(1);
        parsed.orderField = m.captured(2);
    } else {
        throw StoreError(BadRecordSource,
                         QStringLiteral("Record source not understood: %1").arg(source));
    }
    return parsed;
}

QString quoted(const QString &identifier) { return QLatin1Char('"') + identifier + QLatin1Char('"'); }

void bindValue(sqlite3_stmt *stmt, int index, const QVariant &value)
{
    if (value.isNull()) {
        sqlite3_bind_null(stmt, index);
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
        sqlite3_bind_int(stmt, index, value.toBool() ? 1 : 0);
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        sqlite3_bind_int64(stmt, index, value.toLongLong());
        break;
    case QMetaType::Double:
        sqlite3_bind_double(stmt, index, value.toDouble());
        break;
    default: {
        QByteArray text = value.toString().toUtf8();
        sqlite3_bind_text(stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
    }
}

QVariant columnValue(sqlite3_stmt *stmt, int column)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(stmt, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, column));
    case SQLITE_NULL:
        return QVariant();
    default: {
        auto text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
        return QVariant(QString::fromUtf8(text, sqlite3_column_bytes(stmt, column)));
    }
    }
}

} // namespace

RecordCursor::RecordCursor(const QString &name, const QString &initialRecordSource, QObject *parent)
    : QObject(parent), m_recordSource(initialRecordSource)
{
    setObjectName(name);
}

RecordCursor::~RecordCursor() = default;

void RecordCursor::setDatabaseName(const QString &path)
{
    if (path != m_databaseName)
        m_conn.reset();
    m_databaseName = path;
}

void RecordCursor::setRecordSource(const QString &source) { m_recordSource = source; }

Connection &RecordCursor::connection()
{
    if (!m_conn)
        m_conn = Connection::open(m_databaseName);
    return *m_conn;
}

void RecordCursor::Refresh()
{
    ParsedSource source = parseRecordSource(m_recordSource);
    Connection &conn = connection();

    QString sql = QStringLiteral("SELECT rowid, * FROM ") + quoted(source.table);
    if (!source.conditionField.isEmpty())
        sql += QStringLiteral(" WHERE textEq(%1, ?1)").arg(quoted(source.conditionField));
    if (!source.orderField.isEmpty())
        sql += QStringLiteral(" ORDER BY %1 DESC, rowid").arg(quoted(source.orderField));
    else
        sql += QStringLiteral(" ORDER BY rowid");

    Statement stmt(conn, sql);
    if (!source.conditionField.isEmpty()) {
        QByteArray value = source.conditionValue.toUtf8();
        sqlite3_bind_text(stmt.get(), 1, value.constData(), int(value.size()), SQLITE_TRANSIENT);
    }
    const int columnCount = sqlite3_column_count(stmt.get());
    QStringList columns;
    for (int c = 1; c < columnCount; ++c)
        columns << QString::fromUtf8(sqlite3_column_name(stmt.get(), c));

    std::vector<Row> rows;
    while (stmt.step()) {
        Row row{sqlite3_column_int64(stmt.get(), 0), {}};
        row.values.reserve(columnCount - 1);
        for (int c = 1; c < columnCount; ++c)
            row.values.append(columnValue(stmt.get(), c));
        rows.push_back(std::move(row));
    }

    m_table = source.table;
    m_columns = columns;
    m_rows = std::move(rows);
    m_refreshed = true;
    m_mode = EditMode::None;
    m_buffer.clear();
    m_currentDeleted = false;
    if (m_rows.empty()) {
        m_pos = -1;
        m_bof = m_eof = true;
    } else {
        m_pos = 0;
        m_bof = m_eof = false;
    }
}

void RecordCursor::MoveFirst()
{
    if (m_rows.empty())
        throw StoreError(NoCurrentRow, QStringLiteral("No current record (%1)").arg(objectName()));
    m_pos = 0;
    m_bof = m_eof = m_currentDeleted = false;
}

void RecordCursor::MoveLast()
{
    if (m_rows.empty())
        throw StoreError(NoCurrentRow, QStringLiteral("No current record (%1)").arg(objectName()));
    m_pos = qsizetype(m_rows.size()) - 1;
    m_bof = m_eof = m_currentDeleted = false;
}

void RecordCursor::MoveNext()
{
    if (m_eof)
        throw StoreError(NoCurrentRow, QStringLiteral("No current record (%1)").arg(objectName()));
    if (m_bof)
        m_pos = 0;
    else if (!m_currentDeleted)
        ++m_pos;
    m_bof = m_currentDeleted = false;
    if (m_pos >= qsizetype(m_rows.size())) {
        m_pos = qsizetype(m_rows.size());
        m_eof = true;
    }
}

qint32 RecordCursor::RecordCount() const
{
    if (m_rows.size() > size_t(std::numeric_limits<qint32>::max()))
        throw StoreError(ValueOutOfRange, QStringLiteral("Too many rows"));
    return qint32(m_rows.size());
}

bool RecordCursor::hasCurrentRow() const
{
    return !m_bof && !m_eof && !m_currentDeleted && m_pos >= 0 &&
           m_pos < qsizetype(m_rows.size());
}

const RecordCursor::Row &RecordCursor::currentRow() const
{
    if (!hasCurrentRow())
        throw StoreError(NoCurrentRow, QStringLiteral("No current record (%1)").arg(objectName()));
    return m_rows[size_t(m_pos)];
}

int RecordCursor::columnIndex(const QString &name) const
{
    for (int c = 0; c < m_columns.size(); ++c)
        if (m_columns[c].compare(name, Qt::CaseInsensitive) == 0)
            return c;
    throw StoreError(UnknownField,
                     QStringLiteral("Item not found in this collection: %1 (%2)").arg(name, objectName()));
}

QVariant RecordCursor::Field(const QString &name) const
{
    const Row &row = currentRow();
    return row.values[columnIndex(name)];
}

void RecordCursor::SetField(const QString &name, const QVariant &value)
{
    if (m_mode == EditMode::None)
        throw StoreError(NoEditInProgress,
                         QStringLiteral("Update or CancelUpdate without AddNew or Edit (%1)").arg(objectName()));
    const int column = columnIndex(name);
    for (auto &entry : m_buffer) {
        if (entry.first == column) {
            entry.second = value;
            return;
        }
    }
    m_buffer.append({column, value});
}

void RecordCursor::AddNew()
{
    if (!m_refreshed)
        Refresh();
    m_mode = EditMode::Adding;
    m_buffer.clear();
}

void RecordCursor::Edit()
{
    currentRow();
    m_mode = EditMode::Editing;
    m_buffer.clear();
}

void RecordCursor::Update()
{
    if (m_mode == EditMode::None)
        throw StoreError(NoEditInProgress,
                         QStringLiteral("Update or CancelUpdate without AddNew or Edit (%1)").arg(objectName()));
    Connection &conn = connection();
    QString sql;
    if (m_mode == EditMode::Adding) {
        if (m_buffer.isEmpty()) {
            sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoted(m_table));
        } else {
            QStringList names, marks;
            for (const auto &entry : m_buffer) {
                names << quoted(m_columns[entry.first]);
                marks << QStringLiteral("?");
            }
            sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                      .arg(quoted(m_table), names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
        }
    } else {
        currentRow();
        if (m_buffer.isEmpty()) {
            m_mode = EditMode::None;
            return;
        }
        QStringList sets;
        for (const auto &entry : m_buffer)
            sets << quoted(m_columns[entry.first]) + QStringLiteral("=?");
        sql = QStringLiteral("UPDATE %1 SET %2 WHERE rowid=?")
                  .arg(quoted(m_table), sets.join(QLatin1Char(',')));
    }

    Statement stmt(conn, sql);
    int index = 1;
    for (const auto &entry : m_buffer)
        bindValue(stmt.get(), index++, entry.second);
    if (m_mode == EditMode::Editing)
        sqlite3_bind_int64(stmt.get(), index, currentRow().rowid);
    Connection::beforeWrite();
    stmt.step();
    if (m_mode == EditMode::Editing) {
        if (sqlite3_changes(conn.handle()) != 1)
            throw StoreError(RowVanished,
                             QStringLiteral("The record was deleted by another user (%1)").arg(objectName()));
        Row &row = m_rows[size_t(m_pos)];
        for (const auto &entry : m_buffer)
            row.values[entry.first] = entry.second;
    }
    m_mode = EditMode::None;
    m_buffer.clear();
}

void RecordCursor::Delete()
{
    const Row &row = currentRow();
    Connection &conn = connection();
    Statement stmt(conn, QStringLiteral("DELETE FROM %1 WHERE rowid=?").arg(quoted(m_table)));
    sqlite3_bind_int64(stmt.get(), 1, row.rowid);
    Connection::beforeWrite();
    stmt.step();
    if (sqlite3_changes(conn.handle()) != 1)
        throw StoreError(RowVanished,
                         QStringLiteral("The record was deleted by another user (%1)").arg(objectName()));
    m_rows.erase(m_rows.begin() + m_pos);
    m_currentDeleted = true;
    m_mode = EditMode::None;
    m_buffer.clear();
}

} // namespace store
