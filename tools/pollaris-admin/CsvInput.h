#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// Comma-separated values as the tool reads them from a spreadsheet: the register
// of voters, the ballot. The file is UTF-8 (a byte order mark is skipped), at
// most 64 MiB with lines of at most 64 KiB; fields are separated by commas, or by
// semicolons when the first line has them and no comma, as spreadsheets save in
// many countries; quoted fields as RFC 4180 has them.
namespace CsvInput {

struct Record {
    int line = 0; // line of the file where the record starts
    QStringList fields;
    QString fault; // set when the record itself is malformed

    // Every field empty or blanks only: a row left empty, or the ",," rows a
    // spreadsheet leaves at the end.
    bool blank() const;
};

// Reads the whole file into its records, entirely empty lines left out. what
// names the content in a refusal ("register of voters", "ballot"). Returns an
// empty text, or why the file cannot be read, naming it (and the line where
// there is one).
QString read(const QString &path, const QString &what, QVector<Record> &records);

// The header's title of a column as it is compared: letter case, outer blanks,
// runs of blanks, '_' and '-' ignored ("Student_ID" is "student id").
QString title(const QString &field);

// Why a field cannot be taken as it is: it holds a control character (a tab, a
// line break, a NUL), which no screen could show or type. Empty when it can.
QString controlCharacterIn(const QString &field);

// How many faults are listed one by one before the rest are only counted.
constexpr int kFaultsListed = 20;

// Lists the faults on standard error, as the command me says them: the first
// kFaultsListed, then how many more.
void listFaults(const QString &me, const QStringList &faults);

} // namespace CsvInput
