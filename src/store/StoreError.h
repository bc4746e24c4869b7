#pragma once

#include <QString>
#include <stdexcept>

namespace store {

// A failure of the database engine or of the store's own rules. Nothing catches it
// on the way: it travels to the program's one failure handler, which reports the
// number and text and ends the program.
class StoreError : public std::runtime_error {
public:
    // What a failure means for the station that met it.
    enum class Outcome {
        Failure,  // the engine or the data is at fault
        Conflict, // another station got there first: a lock held, a row changed or
                  // gone, a key taken, a serialization failure or a deadlock
        Lost,     // the server is gone; nothing of the unit under way was written
        Resumed,  // the server was lost in the middle of a unit and reached again;
                  // nothing of that unit was written, and it may be run again
        Busy,     // another station held the election for the whole of the wait;
                  // nothing was written
        Refused,  // the server does not let this station's account do it (a polling
                  // station's role reads no administrators); nothing was written
    };
    StoreError(int number, const QString &text, Outcome outcome = Outcome::Failure)
        : std::runtime_error(text.toStdString()), m_number(number), m_text(text), m_outcome(outcome)
    {}
    int number() const { return m_number; }
    QString text() const { return m_text; }
    Outcome outcome() const { return m_outcome; }
    bool isConflict() const { return m_outcome == Outcome::Conflict; }
    // Nothing of the action under way was written, and it can be done again.
    bool isRetryable() const
    {
        return m_outcome == Outcome::Conflict || m_outcome == Outcome::Resumed || m_outcome == Outcome::Busy;
    }

private:
    int m_number;
    QString m_text;
    Outcome m_outcome;
};

// Numbers of the failures the store and the screens raise themselves. A file's
// failures carry SQLite's codes; a server's carry ServerFailure or
// ServerUnreachable, with the SQLSTATE at the head of the text.
enum StoreErrorNumber {
    TypeMismatch = 13,
    InvalidUseOfNull = 94,
    NoCurrentRow = 3021,
    BadRecordSource = 3131,
    UnknownField = 3265,
    NoEditInProgress = 3020,
    RowVanished = 3167,
    RowChanged = 3197,
    ValueOutOfRange = 3349,
    ServerFailure = 3146,
    ServerUnreachable = 3151,
    InjectedFault = 3999,
};

// True when the failure is a table the election does not hold (a file, or a
// server's database, made before the table was kept).
inline bool isMissingTable(const StoreError &e)
{
    return e.text().startsWith(QLatin1String("no such table")) || e.text().startsWith(QLatin1String("42P01"));
}

// The one place where an engine's own codes become the outcomes above: SQLite's
// (extended) result codes, and a server's SQLSTATE.
StoreError::Outcome outcomeOfSqlite(int code);
StoreError::Outcome outcomeOfSqlState(const char *sqlState);

} // namespace store
