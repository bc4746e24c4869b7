#pragma once

#include <QString>
#include <stdexcept>

namespace store {

// A failure of the database engine or of the store's own rules. Nothing catches it
// on the way: it travels to the program's one failure handler, which reports the
// number and text and ends the program.
class StoreError : public std::runtime_error {
public:
    StoreError(int number, const QString &text) : std::runtime_error(text.toStdString()), m_number(number), m_text(text)
    {}
    int number() const { return m_number; }
    QString text() const { return m_text; }

private:
    int m_number;
    QString m_text;
};

// Numbers of the failures the store and the screens raise themselves; the engine's
// failures carry SQLite's codes.
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
    InjectedFault = 3999,
};

} // namespace store
