#pragma once

#include "Connection.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <memory>
#include <string>
#include <vector>

namespace store {

class Connection;

// A record cursor: an invisible, named object of one screen that runs a record
// source (a table name or one of the program's query texts) against the election
// (a file, or a server) and keeps a current position in the rows it got. Refresh reads the
// result at once, so no cursor holds the election between user actions; every Update
// and Delete is on disk when it returns. Of a long result in the order rows were
// added, Refresh reads the first rows only, and the cursor reads the rest when it
// first moves past them: counting the rows, or moving to the last one and asking
// nothing of it, reads none of them.
//
// Record sources understood, keywords in any letter case:
//   Table
//   Select * from Table
//   Select * from Table where Field ='value'     (value bound, never run as SQL)
//   Select * from Table Order by Field Desc
// Anything else is a failure.
class RecordCursor final : public QObject {
    Q_OBJECT
public:
    RecordCursor(const QString &name, const QString &initialRecordSource, QObject *parent);
    ~RecordCursor() override;

    void setDatabaseName(const QString &path);
    QString DatabaseName() const { return m_databaseName; }
    void setRecordSource(const QString &source);
    QString RecordSource() const { return m_recordSource; }

    void Refresh();
    // As a screen loads: the record source is read when the cursor is first used,
    // not before, so that a screen reads nothing its user does not ask for.
    void RefreshOnFirstUse();
    bool BOF();
    // EOF itself is the C library's end-of-file macro, so the name carries a mark.
    bool EOF_();
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    qint32 RecordCount();

    // Fields by name, without regard to letter case ("Numvotes" is "NumVotes").
    QVariant Field(const QString &name);
    // The field as text, exactly as Field(name).toString().
    QString FieldText(const QString &name);

    // How many rows Refresh reads of a long result in the order rows were added.
    static constexpr qint64 kFirstRows = 1000;
    void SetField(const QString &name, const QVariant &value);

    void AddNew();
    void Edit();
    void Update();
    void Delete();

    // The open election behind this cursor, for writes that must be one unit.
    Connection &connection();

private:
    // The result is kept compactly, one cell per field of each row, with the
    // texts in one shared buffer: a list of 100,000 rows costs a few bytes a
    // field, and values become QVariants only when a field is read.
    struct Cell {
        int type;       // the Kind of the value
        int length;     // bytes of a text
        qint64 payload; // the integer, the double's bits, or the text's offset
    };
    enum class EditMode { None, Adding, Editing };

    int columnIndex(const QString &name) const;
    // The entry in the election's record for a change of this cursor's table, or an
    // empty text when the change is not recorded.
    QString recordOf(const QString &action, const QString &key, const QStringList &fields) const;
    void requireCurrentRow();
    bool hasCurrentRow() const;
    // Rows read, deleted ones included: a deleted row keeps its place, marked,
    // until the next Refresh, so that a run of deletes costs no moving of the rows
    // behind each one.
    qsizetype rowCount() const { return qsizetype(m_rowids.size()); }
    void skipDeleted();
    // Reads the record source if a first use was awaited.
    void settle();
    // Reads the rows behind the ones read so far, when there may be any.
    void readRest();
    QVariant cellValue(const Cell &cell) const;
    // The value as the engine gave it, a text as its very bytes.
    QVariant storedValue(const Cell &cell) const;
    Cell storeValue(const QVariant &value);
    class Reader;

    QString m_databaseName;
    QString m_recordSource;
    std::shared_ptr<Connection> m_conn;

    Query m_query;
    QStringList m_columns;
    std::vector<qint64> m_rowids;
    std::vector<qint64> m_versions; // one a row, as the engine gave it
    std::vector<Cell> m_cells;      // row-major, m_columns.size() cells a row
    std::string m_texts;
    std::vector<bool> m_deleted; // one mark a row
    qsizetype m_deletedCount = 0;
    qsizetype m_first = 0, m_last = -1; // the first and last rows not deleted
    mutable QString m_lastField;        // the field name last looked up, and its column
    mutable int m_lastColumn = -1;
    qsizetype m_pos = -1;
    bool m_bof = true;
    bool m_eof = true;
    bool m_currentDeleted = false;
    bool m_refreshed = false;
    bool m_readOnUse = false;   // read at the first use
    bool m_complete = true;     // every row of the result is read
    bool m_lastPending = false; // on the last row, not read yet
    qint64 m_counted = -1;      // the engine's count of a result not read whole
    qsizetype m_deletedAtCount = 0;

    EditMode m_mode = EditMode::None;
    QVector<QPair<int, QVariant>> m_buffer;
};

// The store's text equality as a key: two texts are equal in a query condition
// exactly when their keys are equal (letter case ignored for every letter).
inline QString TextKey(const QString &text) { return text.toCaseFolded(); }

} // namespace store
