#include "RecordCursor.h"

#include "Connection.h"
#include "StoreError.h"

#include <QHash>
#include <QRegularExpression>
#include <cstring>
#include <limits>
#include <optional>

namespace store {

namespace {

constexpr int kInteger = int(Kind::Integer), kFloat = int(Kind::Float), kText = int(Kind::Text),
              kNull = int(Kind::Null);

Query parseRecordSource(const QString &source)
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

    Query parsed;
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

// The field that names a row of a table in the election's record, or an empty text
// for a table whose changes are not recorded.
QString keyFieldOf(const QString &table)
{
    static const QHash<QString, QString> keys{{QStringLiteral("positions"), QStringLiteral("PosID")},
                                              {QStringLiteral("candinfo"), QStringLiteral("CandID")},
                                              {QStringLiteral("candvote"), QStringLiteral("CandID")},
                                              {QStringLiteral("users"), QStringLiteral("Username")},
                                              {QStringLiteral("administrators"), QStringLiteral("AdminUsername")}};
    return keys.value(table.toLower());
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

// Fills the cursor's buffers from the engine, row by row.
class RecordCursor::Reader final : public RowSink {
public:
    explicit Reader(RecordCursor &c) : m_c(c) {}
    void columns(const QStringList &names) override { m_c.m_columns = names; }
    void row(qint64 rowid, qint64 version) override
    {
        m_c.m_rowids.push_back(rowid);
        m_c.m_versions.push_back(version);
    }
    void integer(qint64 value) override { m_c.m_cells.push_back(Cell{kInteger, 0, value}); }
    void real(double value) override
    {
        Cell cell{kFloat, 0, 0};
        std::memcpy(&cell.payload, &value, sizeof value);
        m_c.m_cells.push_back(cell);
    }
    void text(const char *utf8, int bytes) override
    {
        m_c.m_cells.push_back(Cell{kText, bytes, qint64(m_c.m_texts.size())});
        m_c.m_texts.append(utf8, size_t(bytes));
    }
    void null() override { m_c.m_cells.push_back(Cell{kNull, 0, 0}); }

private:
    RecordCursor &m_c;
};

void RecordCursor::Refresh()
{
    Query source = parseRecordSource(m_recordSource);
    Connection &conn = connection();

    // The rows are read into the buffers of the previous result, which keep their
    // size: a list of 100,000 rows read again costs neither fresh memory nor the
    // copying of growing buffers. Should the engine fail part-way, the cursor is
    // left with no rows rather than with some of them.
    m_query = source;
    m_columns.clear();
    m_lastField.clear();
    m_rowids.clear();
    m_versions.clear();
    m_cells.clear();
    m_texts.clear();
    m_deleted.clear();
    m_deletedCount = 0;
    m_first = 0;
    m_last = -1;
    m_refreshed = true;
    m_readOnUse = false;
    m_complete = true;
    m_lastPending = false;
    m_counted = -1;
    m_mode = EditMode::None;
    m_buffer.clear();
    m_currentDeleted = false;
    m_pos = -1;
    m_bof = m_eof = true;
    // Of a result in the order rows were added, the first rows only: what is
    // behind them is read when the cursor first moves there.
    if (source.orderField.isEmpty())
        source.limit = kFirstRows;
    try {
        Reader reader(*this);
        conn.select(source, reader);
    } catch (...) {
        m_rowids.clear();
        m_versions.clear();
        m_cells.clear();
        m_texts.clear();
        throw;
    }
    m_complete = source.limit < 0 || rowCount() < source.limit;
    m_deleted.assign(m_rowids.size(), false);
    m_last = rowCount() - 1;
    if (!m_rowids.empty()) {
        m_pos = 0;
        m_bof = m_eof = false;
    }
}

void RecordCursor::RefreshOnFirstUse() { m_readOnUse = true; }

void RecordCursor::settle()
{
    if (m_readOnUse)
        Refresh();
}

bool RecordCursor::BOF()
{
    settle();
    return m_bof;
}

bool RecordCursor::EOF_()
{
    settle();
    return m_eof;
}

void RecordCursor::readRest()
{
    if (m_complete)
        return;
    // The rows added after the last one read, in the same order. Should the
    // engine fail part-way, the cursor keeps just the rows it had.
    Query rest = m_query;
    rest.afterRowid = m_rowids.back();
    const qsizetype rows = rowCount();
    const size_t cells = m_cells.size(), texts = m_texts.size();
    try {
        Reader reader(*this);
        connection().select(rest, reader);
    } catch (...) {
        m_rowids.resize(size_t(rows));
        m_versions.resize(size_t(rows));
        m_cells.resize(cells);
        m_texts.resize(texts);
        throw;
    }
    m_complete = true;
    m_counted = -1;
    m_deleted.resize(m_rowids.size(), false);
    m_first = 0;
    while (m_first < rowCount() && m_deleted[size_t(m_first)])
        ++m_first;
    if (rowCount() > rows)
        m_last = rowCount() - 1;
}

void RecordCursor::MoveFirst()
{
    settle();
    m_lastPending = false;
    // Every row read so far deleted: there may be rows behind them.
    if (m_first > m_last)
        readRest();
    if (m_first > m_last)
        throw StoreError(NoCurrentRow, QStringLiteral("No current record (%1)").arg(objectName()));
    m_pos = m_first;
    m_bof = m_eof = m_currentDeleted = false;
}

void RecordCursor::MoveLast()
{
    settle();
    if (m_first > m_last)
        readRest();
    if (m_first > m_last)
        throw StoreError(NoCurrentRow, QStringLiteral("No current record (%1)").arg(objectName()));
    m_bof = m_eof = m_currentDeleted = false;
    // Which row is last is read only when something of it is asked for.
    m_lastPending = !m_complete;
    m_pos = m_last;
}

void RecordCursor::MoveNext()
{
    settle();
    if (m_eof)
        throw StoreError(NoCurrentRow, QStringLiteral("No current record (%1)").arg(objectName()));
    // Behind the last row is the end, whichever row is last.
    if (m_lastPending) {
        m_lastPending = m_bof = m_currentDeleted = false;
        m_pos = rowCount();
        m_eof = true;
        return;
    }
    // A deleted current row keeps its place: the next row is the one behind it.
    m_pos = m_bof ? 0 : m_pos + 1;
    skipDeleted();
    m_bof = m_currentDeleted = false;
    if (m_pos >= rowCount() && !m_complete) {
        readRest();
        skipDeleted();
    }
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

qint32 RecordCursor::RecordCount()
{
    settle();
    qint64 rows = rowCount() - m_deletedCount;
    if (!m_complete) {
        // Counted by the engine, once; the cursor's own deletes since then taken off.
        if (m_counted < 0) {
            m_counted = connection().count(m_query);
            m_deletedAtCount = m_deletedCount;
        }
        rows = m_counted - (m_deletedCount - m_deletedAtCount);
    }
    if (rows > std::numeric_limits<qint32>::max())
        throw StoreError(ValueOutOfRange, QStringLiteral("Too many rows"));
    return qint32(rows);
}

bool RecordCursor::hasCurrentRow() const
{
    return !m_bof && !m_eof && !m_currentDeleted && m_pos >= 0 && m_pos < rowCount() && !m_deleted[size_t(m_pos)];
}

void RecordCursor::requireCurrentRow()
{
    if (m_lastPending) {
        readRest();
        m_lastPending = false;
        m_pos = m_last;
    }
    if (!hasCurrentRow())
        throw StoreError(NoCurrentRow, QStringLiteral("No current record (%1)").arg(objectName()));
}

QVariant RecordCursor::cellValue(const Cell &cell) const
{
    switch (cell.type) {
    case kInteger: return QVariant(qlonglong(cell.payload));
    case kFloat: {
        double d;
        std::memcpy(&d, &cell.payload, sizeof d);
        return QVariant(d);
    }
    case kText: return QVariant(QString::fromUtf8(m_texts.data() + cell.payload, cell.length));
    default: return QVariant();
    }
}

QVariant RecordCursor::storedValue(const Cell &cell) const
{
    if (cell.type == kText)
        return QVariant(QByteArray(m_texts.data() + cell.payload, cell.length));
    return cellValue(cell);
}

RecordCursor::Cell RecordCursor::storeValue(const QVariant &value)
{
    if (value.isNull())
        return Cell{kNull, 0, 0};
    switch (value.typeId()) {
    case QMetaType::Bool: return Cell{kInteger, 0, value.toBool() ? 1 : 0};
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort: return Cell{kInteger, 0, value.toLongLong()};
    case QMetaType::Double: {
        Cell cell{kFloat, 0, 0};
        double d = value.toDouble();
        std::memcpy(&cell.payload, &d, sizeof d);
        return cell;
    }
    default: {
        QByteArray text = value.toString().toUtf8();
        Cell cell{kText, int(text.size()), qint64(m_texts.size())};
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

QVariant RecordCursor::Field(const QString &name)
{
    settle();
    requireCurrentRow();
    const int column = columnIndex(name);
    return cellValue(m_cells[size_t(m_pos) * size_t(m_columns.size()) + size_t(column)]);
}

QString RecordCursor::FieldText(const QString &name)
{
    settle();
    requireCurrentRow();
    const int column = columnIndex(name);
    const Cell &cell = m_cells[size_t(m_pos) * size_t(m_columns.size()) + size_t(column)];
    // The same text as the field's value would give, without making the value:
    // lists read one field of each of tens of thousands of rows.
    switch (cell.type) {
    case kText: return QString::fromUtf8(m_texts.data() + cell.payload, cell.length);
    case kInteger: return QString::number(qlonglong(cell.payload));
    case kNull: return QString();
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
    if (!m_refreshed || m_readOnUse)
        Refresh();
    m_mode = EditMode::Adding;
    m_buffer.clear();
}

void RecordCursor::Edit()
{
    settle();
    requireCurrentRow();
    m_mode = EditMode::Editing;
    m_buffer.clear();
}

QString RecordCursor::recordOf(const QString &action, const QString &key, const QStringList &fields) const
{
    // Only a station's own changes are recorded, and never a vote or a voter's
    // admission: to the record those are counts, nothing links a voter to a vote.
    const QString keyField = keyFieldOf(m_query.table);
    if (Connection::logStation().isEmpty() || keyField.isEmpty())
        return QString();
    if (action == QLatin1String("changed") &&
        (m_query.table.compare(QLatin1String("CandVote"), Qt::CaseInsensitive) == 0 ||
         (fields.size() == 1 && fields[0].compare(QLatin1String("HasVoted"), Qt::CaseInsensitive) == 0)))
        return QString();
    // Which fields, never what they hold: only the code or user name that names the
    // row. Names as the file writes them, whichever engine holds the election.
    static const QStringList kNames{
        QStringLiteral("Positions"),     QStringLiteral("CandInfo"),       QStringLiteral("CandVote"),
        QStringLiteral("Users"),         QStringLiteral("Administrators"), QStringLiteral("PosID"),
        QStringLiteral("PosName"),       QStringLiteral("CandID"),         QStringLiteral("CandName"),
        QStringLiteral("StudentNum"),    QStringLiteral("NumVotes"),       QStringLiteral("Name"),
        QStringLiteral("Username"),      QStringLiteral("Password"),       QStringLiteral("HasVoted"),
        QStringLiteral("AdminUsername"), QStringLiteral("AdminPassword")};
    const auto named = [](const QString &name) {
        for (const QString &known : kNames)
            if (known.compare(name, Qt::CaseInsensitive) == 0)
                return known;
        return name;
    };
    QStringList names;
    for (const QString &field : fields)
        names << named(field);
    QString entry = QStringLiteral("%1 %2 %3").arg(named(m_query.table), key, action);
    if (!names.isEmpty())
        entry += QStringLiteral(" (%1)").arg(names.join(QStringLiteral(", ")));
    return entry;
}

void RecordCursor::Update()
{
    if (m_mode == EditMode::None)
        throw StoreError(NoEditInProgress,
                         QStringLiteral("Update or CancelUpdate without AddNew or Edit (%1)").arg(objectName()));
    Connection &conn = connection();
    QStringList columns;
    QVector<QVariant> values;
    for (const auto &entry : m_buffer)
        columns << m_columns[entry.first], values << entry.second;
    if (m_mode == EditMode::Editing) {
        requireCurrentRow();
        if (m_buffer.isEmpty()) {
            m_mode = EditMode::None;
            return;
        }
    }
    // The change and its entry in the election's record are written together.
    const QString keyField = keyFieldOf(m_query.table);
    QString key;
    if (m_mode == EditMode::Adding) {
        const int at = keyField.isEmpty()
                           ? -1
                           : int(columns.indexOf(QRegularExpression(QRegularExpression::anchoredPattern(keyField),
                                                                    QRegularExpression::CaseInsensitiveOption)));
        key = at >= 0 ? values[at].toString() : QString();
    } else if (!keyField.isEmpty() && m_columns.contains(keyField, Qt::CaseInsensitive)) {
        key = FieldText(keyField);
    }
    const QString record =
        recordOf(m_mode == EditMode::Adding ? QStringLiteral("added") : QStringLiteral("changed"), key, columns);
    std::optional<Transaction> unit;
    if (!record.isEmpty() && !conn.inTransaction())
        unit.emplace(conn);
    if (m_mode == EditMode::Adding) {
        conn.insert(m_query.table, columns, values);
    } else {
        // The row is written only if it still holds what was read: a second copy
        // of the program that changed it meanwhile is reported, not overwritten.
        const size_t first = size_t(m_pos) * size_t(m_columns.size());
        QVector<QVariant> was;
        for (qsizetype c = 0; c < m_columns.size(); ++c)
            was << storedValue(m_cells[first + size_t(c)]);
        if (!conn.update(m_query.table, m_rowids[size_t(m_pos)], m_versions[size_t(m_pos)], columns, values, m_columns,
                         was))
            throw StoreError(RowChanged,
                             QStringLiteral("The record was changed or deleted by another user since it was read (%1)")
                                 .arg(objectName()),
                             StoreError::Outcome::Conflict);
        if (!record.isEmpty())
            conn.appendLog(Connection::logStation(), record);
        if (unit)
            unit->Commit();
        for (const auto &entry : m_buffer)
            m_cells[first + size_t(entry.first)] = storeValue(entry.second);
        m_mode = EditMode::None;
        m_buffer.clear();
        return;
    }
    if (!record.isEmpty())
        conn.appendLog(Connection::logStation(), record);
    if (unit)
        unit->Commit();
    m_mode = EditMode::None;
    m_buffer.clear();
}

void RecordCursor::Delete()
{
    settle();
    requireCurrentRow();
    Connection &conn = connection();
    const QString keyField = keyFieldOf(m_query.table);
    const QString record = recordOf(
        QStringLiteral("deleted"),
        !keyField.isEmpty() && m_columns.contains(keyField, Qt::CaseInsensitive) ? FieldText(keyField) : QString(), {});
    std::optional<Transaction> unit;
    if (!record.isEmpty() && !conn.inTransaction())
        unit.emplace(conn);
    if (!conn.remove(m_query.table, m_rowids[size_t(m_pos)]))
        throw StoreError(RowVanished, QStringLiteral("The record was deleted by another user (%1)").arg(objectName()),
                         StoreError::Outcome::Conflict);
    if (!record.isEmpty())
        conn.appendLog(Connection::logStation(), record);
    if (unit)
        unit->Commit();
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
