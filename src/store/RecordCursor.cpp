#include "RecordCursor.h"

#include "Connection.h"
#include "StoreError.h"

#include <QRegularExpression>
#include <cstring>
#include <limits>
#include <sqlite3.h>

namespace store {

namespace {

struct ParsedSource {
    QString table;
    QString conditionField; // empty: no condition
    QString conditionValue;
    QString orderField; // empty: rows in the order they were added
};

ParsedSource parseRecordSource(const QString &source)
{
    using RE = QRegularExpression;
    static const RE tableOnly(QStringLiteral("^(\\w+)$"));
    static const RE selectAll(QStringLiteral("^select\\s+\\*\\s+from\\s+(\\w+)$"), RE::CaseInsensitiveOption);
    // The value is everything between "='" and the closing quote at the very end:
    // quotes inside it are part of the value.
    static const RE selectWhere(QStringLiteral("^select\\s+\\*\\s+from\\s+(\\w+)\\s+where\\s+(\\w+)\\s*=\\s*'(.*)'$"),
                                RE::CaseInsensitiveOption | RE::DotMatchesEverythingOption);
    static const RE selectOrdered(QStringLiteral("^select\\s+\\*\\s+from\\s+(\\w+)\\s+order\\s+by\\s+(\\w+)\\s+desc$"),
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
        throw StoreError(BadRecordSource, QStringLiteral("Record source not understood: %1").arg(source));
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
    case QMetaType::Bool: sqlite3_bind_int(stmt, index, value.toBool() ? 1 : 0); break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort: sqlite3_bind_int64(stmt, index, value.toLongLong()); break;
    case QMetaType::Double: sqlite3_bind_double(stmt, index, value.toDouble()); break;
    default: {
        QByteArray text = value.toString().toUtf8();
        sqlite3_bind_text(stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
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

    // The rows are read into the buffers of the previous result, which keep their
    // size: a list of 100,000 rows read again costs neither fresh memory nor the
    // copying of growing buffers. Should the engine fail part-way, the cursor is
    // left with no rows rather than with some of them.
    m_table = source.table;
    m_columns = columns;
    m_lastField.clear();
    m_rowids.clear();
    m_cells.clear();
    m_texts.clear();
    m_deleted.clear();
    m_deletedCount = 0;
    m_first = 0;
    m_last = -1;
    m_refreshed = true;
    m_mode = EditMode::None;
    m_buffer.clear();
    m_currentDeleted = false;
    m_pos = -1;
    m_bof = m_eof = true;
    sqlite3_stmt *s = stmt.get();
    try {
        while (stmt.step()) {
            m_rowids.push_back(sqlite3_column_int64(s, 0));
            for (int c = 1; c < columnCount; ++c) {
                Cell cell{sqlite3_column_type(s, c), 0, 0};
                switch (cell.type) {
                case SQLITE_INTEGER: cell.payload = sqlite3_column_int64(s, c); break;
                case SQLITE_FLOAT: {
                    double d = sqlite3_column_double(s, c);
                    std::memcpy(&cell.payload, &d, sizeof d);
                    break;
                }
                case SQLITE_NULL: break;
                default: {
                    auto text = reinterpret_cast<const char *>(sqlite3_column_text(s, c));
                    cell.type = SQLITE_TEXT;
                    cell.length = sqlite3_column_bytes(s, c);
                    cell.payload = qint64(m_texts.size());
                    m_texts.append(text, size_t(cell.length));
                }
                }
                m_cells.push_back(cell);
            }
        }
    } catch (...) {
        m_rowids.clear();
        m_cells.clear();
        m_texts.clear();
        throw;
    }
    m_deleted.assign(m_rowids.size(), false);
    m_last = rowCount() - 1;
    if (!m_rowids.empty()) {
        m_pos = 0;
        m_bof = m_eof = false;
    }
}

void RecordCursor::MoveFirst()
{
    if (m_first > m_last)
        throw StoreError(NoCurrentRow, QStringLiteral("No current record (%1)").arg(objectName()));
    m_pos = m_first;
    m_bof = m_eof = m_currentDeleted = false;
}

void RecordCursor::MoveLast()
{
    if (m_first > m_last)
        throw StoreError(NoCurrentRow, QStringLiteral("No current record (%1)").arg(objectName()));
    m_pos = m_last;
    m_bof = m_eof = m_currentDeleted = false;
}

void RecordCursor::MoveNext()
{
    if (m_eof)
        throw StoreError(NoCurrentRow, QStringLiteral("No current record (%1)").arg(objectName()));
    // A deleted current row keeps its place: the next row is the one behind it.
    m_pos = m_bof ? 0 : m_pos + 1;
    skipDeleted();
    m_bof = m_currentDeleted = false;
    if (m_pos >= rowCount()) {
        m_pos = rowCount();
        m_eof = true;
    }
}

void RecordCursor::skipDeleted()
{
    while (m_pos < rowCount() && m_deleted[size_t(m_pos)])
        ++m_pos;
}

qint32 RecordCursor::RecordCount() const
{
    const qsizetype rows = rowCount() - m_deletedCount;
    if (rows > std::numeric_limits<qint32>::max())
        throw StoreError(ValueOutOfRange, QStringLiteral("Too many rows"));
    return qint32(rows);
}

bool RecordCursor::hasCurrentRow() const
{
    return !m_bof && !m_eof && !m_currentDeleted && m_pos >= 0 && m_pos < rowCount() && !m_deleted[size_t(m_pos)];
}

void RecordCursor::requireCurrentRow() const
{
    if (!hasCurrentRow())
        throw StoreError(NoCurrentRow, QStringLiteral("No current record (%1)").arg(objectName()));
}

QVariant RecordCursor::cellValue(const Cell &cell) const
{
    switch (cell.type) {
    case SQLITE_INTEGER: return QVariant(qlonglong(cell.payload));
    case SQLITE_FLOAT: {
        double d;
        std::memcpy(&d, &cell.payload, sizeof d);
        return QVariant(d);
    }
    case SQLITE_TEXT: return QVariant(QString::fromUtf8(m_texts.data() + cell.payload, cell.length));
    default: return QVariant();
    }
}

void RecordCursor::bindCell(sqlite3_stmt *stmt, int index, const Cell &cell) const
{
    switch (cell.type) {
    case SQLITE_INTEGER: sqlite3_bind_int64(stmt, index, cell.payload); break;
    case SQLITE_FLOAT: {
        double d;
        std::memcpy(&d, &cell.payload, sizeof d);
        sqlite3_bind_double(stmt, index, d);
        break;
    }
    case SQLITE_TEXT:
        sqlite3_bind_text(stmt, index, m_texts.data() + cell.payload, cell.length, SQLITE_TRANSIENT);
        break;
    default: sqlite3_bind_null(stmt, index);
    }
}

RecordCursor::Cell RecordCursor::storeValue(const QVariant &value)
{
    if (value.isNull())
        return Cell{SQLITE_NULL, 0, 0};
    switch (value.typeId()) {
    case QMetaType::Bool: return Cell{SQLITE_INTEGER, 0, value.toBool() ? 1 : 0};
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort: return Cell{SQLITE_INTEGER, 0, value.toLongLong()};
    case QMetaType::Double: {
        Cell cell{SQLITE_FLOAT, 0, 0};
        double d = value.toDouble();
        std::memcpy(&cell.payload, &d, sizeof d);
        return cell;
    }
    default: {
        QByteArray text = value.toString().toUtf8();
        Cell cell{SQLITE_TEXT, int(text.size()), qint64(m_texts.size())};
        m_texts.append(text.constData(), size_t(text.size()));
        return cell;
    }
    }
}

int RecordCursor::columnIndex(const QString &name) const
{
    // A list reads the same field of every row: remember the last name asked for.
    if (!m_lastField.isEmpty() && name == m_lastField)
        return m_lastColumn;
    for (int c = 0; c < m_columns.size(); ++c)
        if (m_columns[c].compare(name, Qt::CaseInsensitive) == 0) {
            m_lastField = name;
            m_lastColumn = c;
            return c;
        }
    throw StoreError(UnknownField,
                     QStringLiteral("Item not found in this collection: %1 (%2)").arg(name, objectName()));
}

QVariant RecordCursor::Field(const QString &name) const
{
    requireCurrentRow();
    const int column = columnIndex(name);
    return cellValue(m_cells[size_t(m_pos) * size_t(m_columns.size()) + size_t(column)]);
}

QString RecordCursor::FieldText(const QString &name) const
{
    requireCurrentRow();
    const int column = columnIndex(name);
    const Cell &cell = m_cells[size_t(m_pos) * size_t(m_columns.size()) + size_t(column)];
    // The same text as the field's value would give, without making the value:
    // lists read one field of each of tens of thousands of rows.
    switch (cell.type) {
    case SQLITE_TEXT: return QString::fromUtf8(m_texts.data() + cell.payload, cell.length);
    case SQLITE_INTEGER: return QString::number(qlonglong(cell.payload));
    case SQLITE_NULL: return QString();
    default: return cellValue(cell).toString();
    }
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
    requireCurrentRow();
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
        requireCurrentRow();
        if (m_buffer.isEmpty()) {
            m_mode = EditMode::None;
            return;
        }
        // The row is written only if it still holds what was read: a second copy
        // of the program that changed it meanwhile is reported, not overwritten.
        QStringList sets, unchanged;
        for (const auto &entry : m_buffer)
            sets << quoted(m_columns[entry.first]) + QStringLiteral("=?");
        for (const QString &column : m_columns)
            unchanged << quoted(column) + QStringLiteral(" IS ?");
        sql = QStringLiteral("UPDATE %1 SET %2 WHERE rowid=? AND %3")
                  .arg(quoted(m_table), sets.join(QLatin1Char(',')), unchanged.join(QStringLiteral(" AND ")));
    }

    Statement stmt(conn, sql);
    int index = 1;
    for (const auto &entry : m_buffer)
        bindValue(stmt.get(), index++, entry.second);
    if (m_mode == EditMode::Editing) {
        sqlite3_bind_int64(stmt.get(), index++, m_rowids[size_t(m_pos)]);
        const size_t first = size_t(m_pos) * size_t(m_columns.size());
        for (qsizetype c = 0; c < m_columns.size(); ++c)
            bindCell(stmt.get(), index++, m_cells[first + size_t(c)]);
    }
    Connection::beforeWrite();
    stmt.step();
    if (m_mode == EditMode::Editing) {
        if (sqlite3_changes(conn.handle()) != 1)
            throw StoreError(RowChanged, QStringLiteral("The record was changed or deleted by another user "
                                                        "since it was read (%1)")
                                             .arg(objectName()));
        const size_t first = size_t(m_pos) * size_t(m_columns.size());
        for (const auto &entry : m_buffer)
            m_cells[first + size_t(entry.first)] = storeValue(entry.second);
    }
    m_mode = EditMode::None;
    m_buffer.clear();
}

void RecordCursor::Delete()
{
    requireCurrentRow();
    Connection &conn = connection();
    Statement stmt(conn, QStringLiteral("DELETE FROM %1 WHERE rowid=?").arg(quoted(m_table)));
    sqlite3_bind_int64(stmt.get(), 1, m_rowids[size_t(m_pos)]);
    Connection::beforeWrite();
    stmt.step();
    if (sqlite3_changes(conn.handle()) != 1)
        throw StoreError(RowVanished, QStringLiteral("The record was deleted by another user (%1)").arg(objectName()));
    m_deleted[size_t(m_pos)] = true;
    ++m_deletedCount;
    while (m_first <= m_last && m_deleted[size_t(m_first)])
        ++m_first;
    while (m_last >= m_first && m_deleted[size_t(m_last)])
        --m_last;
    m_currentDeleted = true;
    m_mode = EditMode::None;
    m_buffer.clear();
}

} // namespace store
