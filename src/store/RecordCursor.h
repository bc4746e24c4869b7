#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <memory>
#include <vector>

namespace store {

class Connection;

// A record cursor: an invisible, named object of one screen that runs a record
// source (a table name or one of the program's query texts) against the election
// file and keeps a current position in the rows it got. Refresh reads the whole
// result at once, so no cursor holds the file between user actions; every Update
// and Delete is on disk when it returns.
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
    bool BOF() const { return m_bof; }
    // EOF itself is the C library's end-of-file macro, so the name carries a mark.
    bool EOF_() const { return m_eof; }
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    qint32 RecordCount() const;

    // Fields by name, without regard to letter case ("Numvotes" is "NumVotes").
    QVariant Field(const QString &name) const;
    QString FieldText(const QString &name) const { return Field(name).toString(); }
    void SetField(const QString &name, const QVariant &value);

    void AddNew();
    void Edit();
    void Update();
    void Delete();

    // The open file behind this cursor, for writes that must be one unit.
    Connection &connection();

private:
    struct Row {
        qint64 rowid;
        QVector<QVariant> values;
    };
    enum class EditMode { None, Adding, Editing };

    int columnIndex(const QString &name) const;
    const Row &currentRow() const;
    bool hasCurrentRow() const;

    QString m_databaseName;
    QString m_recordSource;
    std::shared_ptr<Connection> m_conn;

    QString m_table;
    QStringList m_columns;
    std::vector<Row> m_rows;
    qsizetype m_pos = -1;
    bool m_bof = true;
    bool m_eof = true;
    bool m_currentDeleted = false;
    bool m_refreshed = false;

    EditMode m_mode = EditMode::None;
    QVector<QPair<int, QVariant>> m_buffer;
};

} // namespace store
