// The ballot from a spreadsheet: positions and their candidates added to the
// election as the candidates and positions panel adds them, by the same rules,
// all of them or none.

#include "Commands.h"
#include "Console.h"
#include "CsvInput.h"
#include "Target.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QVector>
#include <array>

namespace Commands {

namespace {

// The columns of a ballot, in the order the messages list them.
enum Column { PosCode, PosName, CandCode, CandName, StudentId, kColumns };

struct ColumnInfo {
    const char *title;     // as the help and the refusals name it
    const char *what;      // as a fault names it
    int limit;             // the most characters the panel's field takes
    const char *titles[6]; // the header's titles taken for it, blanks removed
};

// The panel's limits: Add Position takes a code of 1 to 5 characters and a name
// of 50; Add Candidate a name of 50, a student ID of 20 and a code of up to 8.
const ColumnInfo kColumnInfo[kColumns] = {
    {"Position Code", "position code", 5, {"positioncode", "positionid", "poscode", "posid", nullptr}},
    {"Position Name", "position name", 50, {"positionname", "posname", "position", nullptr}},
    {"Candidate Code", "candidate code", 8, {"candidatecode", "candidateid", "candcode", "candid", nullptr}},
    {"Candidate Name", "candidate name", 50, {"candidatename", "candname", "candidate", nullptr}},
    {"Student ID", "student ID", 20, {"studentid", "studentnumber", "studentnum", "studentno", nullptr}},
};

QString columnList()
{
    QStringList titles;
    for (const ColumnInfo &c : kColumnInfo)
        titles << QString::fromLatin1(c.title);
    return titles.mid(0, kColumns - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + titles.last();
}

// Where the header puts each column; empty when it does, otherwise what is wrong
// with it.
QString readHeader(const CsvInput::Record &record, std::array<int, kColumns> &at)
{
    at.fill(-1);
    if (!record.fault.isEmpty())
        return record.fault;
    for (int f = 0; f < record.fields.size(); ++f) {
        const QString title = CsvInput::title(record.fields.at(f)).remove(QLatin1Char(' '));
        int column = -1;
        for (int c = 0; c < kColumns && column < 0; ++c)
            for (const char *const *t = kColumnInfo[c].titles; *t && column < 0; ++t)
                if (title == QLatin1String(*t))
                    column = c;
        if (column < 0)
            return QStringLiteral("the column '%1' is none of the ballot's").arg(record.fields.at(f).trimmed());
        if (at[column] >= 0)
            return QStringLiteral("two columns are the %1").arg(QLatin1String(kColumnInfo[column].title));
        at[column] = f;
    }
    QStringList missing;
    for (int c = 0; c < kColumns; ++c)
        if (at[c] < 0)
            missing << QString::fromLatin1(kColumnInfo[c].title);
    if (!missing.isEmpty())
        return QStringLiteral("no column %1").arg(missing.join(QStringLiteral(", ")));
    return QString();
}

// A position as the file and the election know it: its code as first written,
// its name, and the line that named it first (0: one already on the ballot).
struct Position {
    QString code, name;
    int line = 0;
    bool added = false; // made by this import
};

// One row to write: a position to add, a candidate to add, or both.
struct Row {
    QString positionKey; // the position the row adds, or an empty text
    std::array<QString, kColumns> fields;
    bool candidate = false;
    QString posId; // the candidate's position, by its code as stored
};

// A tally is cast when it is anything but 0: a vote, or a value no count leaves.
bool castTally(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short: return value.toLongLong() != 0;
    default: return true;
    }
}

} // namespace

int runImportBallot(const QStringList &args)
{
    const QString me = QStringLiteral("pollaris-admin import-ballot");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Add the positions and candidates listed in a CSV file to the ballot. Its first row is the\n"
                       "header naming the five columns, in any order, letter case ignored:\n"
                       "  %1\n"
                       "(Position ID, PosID, Position, Candidate ID, CandID, Candidate and Student Number are taken\n"
                       "too); then one row per candidate, with the code and name of the position the candidate\n"
                       "stands for. A position's code and name are repeated on the row of each of its candidates; a\n"
                       "row with the candidate's three fields empty adds the position alone. As on the candidates\n"
                       "and positions panel: a position code has 1 to 5 characters, a candidate code 1 to 8, names\n"
                       "at most 50 and a student ID at most 20; codes are unique, letter case ignored, among the\n"
                       "file's rows and the ballot's; each candidate starts with 0 votes. A position already on the\n"
                       "ballot, by its code and the very same name, takes the new candidates. The file is read as\n"
                       "the register of voters is (comma or semicolon, UTF-8, blank rows skipped, outer blanks\n"
                       "removed). When any row is bad, the bad rows are named and nothing is imported; once any\n"
                       "vote is cast (a tally not 0, an account logged in) the ballot is not changed.")
            .arg(columnList()));
    parser.addHelpOption();
    parser.addOption(Target::serverOption());
    parser.addPositionalArgument(QStringLiteral("CSV"), QStringLiteral("The ballot: positions and candidates."));
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The election file (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (const std::optional<int> done = parseCommandLine(parser, args, QStringLiteral("import-ballot")))
        return *done;
    QString csvPath, file;
    if (const std::optional<int> done = electionToImportInto(parser, QStringLiteral("import-ballot"), csvPath, file))
        return *done;

    QVector<CsvInput::Record> records;
    if (const QString why = CsvInput::read(csvPath, QStringLiteral("ballot"), records); !why.isEmpty()) {
        Console::err(QStringLiteral("%1: %2; nothing was imported\n").arg(me, why));
        return 1;
    }
    std::array<int, kColumns> at{};
    const QString headerFault =
        records.isEmpty() ? QStringLiteral("the file is empty") : readHeader(records.first(), at);
    if (!headerFault.isEmpty()) {
        Console::err(QStringLiteral("%1: %2 line %3: the first row must be the header naming the columns %4, in any "
                                    "order (%5); nothing was imported\n")
                         .arg(me, csvPath)
                         .arg(records.isEmpty() ? 1 : records.first().line)
                         .arg(columnList(), headerFault));
        return 1;
    }

    QObject owner;
    QStringList faults;
    const auto fault = [&](int line, const QString &what) {
        faults << QStringLiteral("%1: %2 line %3: %4\n").arg(me, csvPath).arg(line).arg(what);
    };
    int trimmed = 0, positionsAdded = 0, candidatesAdded = 0;
    QStringList joined; // positions already on the ballot that take new candidates
    try {
        store::RecordCursor dcPos(QStringLiteral("dcPos"), QStringLiteral("Positions"), &owner);
        store::RecordCursor dcCandInfo(QStringLiteral("dcCandInfo"), QStringLiteral("CandInfo"), &owner);
        store::RecordCursor dcCandVote(QStringLiteral("dcCandVote"), QStringLiteral("CandVote"), &owner);
        store::RecordCursor dcUser(QStringLiteral("dcUser"), QStringLiteral("Users"), &owner);
        for (store::RecordCursor *c : {&dcPos, &dcCandInfo, &dcCandVote, &dcUser})
            c->setDatabaseName(file);

        // The check for votes, the duplicate tests and the writes are one unit: no
        // station votes, and no administrator adds a code, in between.
        store::Transaction tx(dcPos.connection());

        qint64 tallies = 0, loggedIn = 0;
        QSet<QString> tallyCodes;
        dcCandVote.setRecordSource(QStringLiteral("Select * from CandVote"));
        dcCandVote.Refresh();
        for (; !dcCandVote.EOF_(); dcCandVote.MoveNext()) {
            tallies += castTally(dcCandVote.Field(QStringLiteral("NumVotes")));
            tallyCodes.insert(store::TextKey(dcCandVote.FieldText(QStringLiteral("CandID"))));
        }
        dcUser.setRecordSource(QStringLiteral("Select * from Users"));
        dcUser.Refresh();
        for (; !dcUser.EOF_(); dcUser.MoveNext())
            loggedIn += dcUser.Field(QStringLiteral("HasVoted")).toBool();
        // A ballot changed once voting has begun would not be the one every voter saw.
        if (tallies > 0 || loggedIn > 0) {
            Console::err(QStringLiteral("%1: %2 already holds votes (%3 tally(ies) not 0, %4 account(s) logged in); "
                                        "the ballot cannot change once voting has begun; nothing was imported\n")
                             .arg(me, Target::describe(file))
                             .arg(tallies)
                             .arg(loggedIn));
            return 1;
        }

        QHash<QString, Position> positions; // by the store's text key of the code
        dcPos.setRecordSource(QStringLiteral("Select * from Positions"));
        dcPos.Refresh();
        for (; !dcPos.EOF_(); dcPos.MoveNext()) {
            const QString code = dcPos.FieldText(QStringLiteral("PosID"));
            if (!positions.contains(store::TextKey(code)))
                positions.insert(store::TextKey(code), {code, dcPos.FieldText(QStringLiteral("PosName")), 0, false});
        }
        QHash<QString, QString> candidates; // code's key -> the name of the candidate who has it
        dcCandInfo.setRecordSource(QStringLiteral("Select * from CandInfo"));
        dcCandInfo.Refresh();
        for (; !dcCandInfo.EOF_(); dcCandInfo.MoveNext())
            candidates.insert(store::TextKey(dcCandInfo.FieldText(QStringLiteral("CandID"))),
                              dcCandInfo.FieldText(QStringLiteral("CandName")));

        QHash<QString, int> candidateLines; // code's key -> the line that adds it
        QVector<Row> rows;
        for (qsizetype r = 1; r < records.size(); ++r) {
            const CsvInput::Record &record = records.at(r);
            if (!record.fault.isEmpty()) {
                fault(record.line, record.fault);
                continue;
            }
            if (record.blank())
                continue;
            if (record.fields.size() != records.first().fields.size()) {
                fault(record.line, QStringLiteral("%1 fields, expected %2")
                                       .arg(record.fields.size())
                                       .arg(records.first().fields.size()));
                continue;
            }
            Row row;
            bool good = true;
            for (int c = 0; c < kColumns; ++c) {
                const QString &raw = record.fields.at(at[c]);
                const QString what = QLatin1String(kColumnInfo[c].what);
                if (const QString control = CsvInput::controlCharacterIn(raw); !control.isEmpty()) {
                    fault(record.line, QStringLiteral("the %1 holds a control character (%2)").arg(what, control));
                    good = false;
                    row.fields[c] = raw; // named once: not also as empty
                    continue;
                }
                row.fields[c] = raw.trimmed();
                trimmed += row.fields[c].size() != raw.size();
                if (row.fields[c].size() > kColumnInfo[c].limit) {
                    fault(record.line,
                          QStringLiteral("the %1 is longer than %2 characters").arg(what).arg(kColumnInfo[c].limit));
                    good = false;
                }
            }
            // The candidate's three fields all empty: the row adds its position alone.
            row.candidate =
                !row.fields[CandCode].isEmpty() || !row.fields[CandName].isEmpty() || !row.fields[StudentId].isEmpty();
            for (int c = 0; c < kColumns; ++c)
                if (row.fields[c].isEmpty() && (c <= PosName || row.candidate)) {
                    fault(record.line, QStringLiteral("the %1 is empty").arg(QLatin1String(kColumnInfo[c].what)));
                    good = false;
                }
            if (!good)
                continue;

            const QString &code = row.fields[PosCode], &name = row.fields[PosName];
            const QString positionKey = store::TextKey(code);
            auto position = positions.find(positionKey);
            if (position == positions.end()) {
                position = positions.insert(positionKey, {code, name, record.line, true});
                row.positionKey = positionKey;
            } else if (position->name != name) {
                fault(record.line, position->line == 0
                                       ? QStringLiteral("position '%1' is on the ballot already, named '%2', not '%3'")
                                             .arg(code, position->name, name)
                                       : QStringLiteral("position '%1' is named '%2' here but '%3' on line %4")
                                             .arg(code, name, position->name)
                                             .arg(position->line));
                good = false;
            } else if (position->line == 0 && row.candidate && !joined.contains(position->code)) {
                joined << position->code;
            }
            row.posId = position->code;

            if (row.candidate) {
                const QString &candCode = row.fields[CandCode];
                const QString key = store::TextKey(candCode);
                if (candidateLines.contains(key)) {
                    fault(record.line, QStringLiteral("candidate code '%1' repeats the one on line %2")
                                           .arg(candCode)
                                           .arg(candidateLines.value(key)));
                    good = false;
                } else if (candidates.contains(key)) {
                    fault(record.line, QStringLiteral("candidate code '%1' is already taken by '%2'")
                                           .arg(candCode, candidates.value(key)));
                    good = false;
                } else if (tallyCodes.contains(key)) {
                    fault(record.line,
                          QStringLiteral("candidate code '%1' already has a tally on the ballot").arg(candCode));
                    good = false;
                } else {
                    candidateLines.insert(key, record.line);
                }
            }
            if (good)
                rows.push_back(row);
        }
        if (faults.isEmpty() && rows.isEmpty())
            faults << QStringLiteral("%1: %2 holds no position below its header\n").arg(me, csvPath);
        if (!faults.isEmpty()) {
            CsvInput::listFaults(me, faults);
            Console::err(QStringLiteral("%1: %2 fault(s) in %3; nothing was imported into %4\n")
                             .arg(me)
                             .arg(faults.size())
                             .arg(csvPath, Target::describe(file)));
            return 1;
        }

        // In the order of the file: each position where it first appears, each
        // candidate with the tally the ballot counts its votes in.
        for (const Row &row : rows) {
            if (!row.positionKey.isEmpty()) {
                dcPos.AddNew();
                dcPos.SetField(QStringLiteral("PosName"), row.fields[PosName]);
                dcPos.SetField(QStringLiteral("PosID"), row.fields[PosCode]);
                dcPos.Update();
                ++positionsAdded;
            }
            if (!row.candidate)
                continue;
            dcCandInfo.AddNew();
            dcCandInfo.SetField(QStringLiteral("CandID"), row.fields[CandCode]);
            dcCandInfo.SetField(QStringLiteral("CandName"), row.fields[CandName]);
            dcCandInfo.SetField(QStringLiteral("StudentNum"), row.fields[StudentId]);
            dcCandInfo.SetField(QStringLiteral("PosID"), row.posId);
            dcCandInfo.Update();
            dcCandVote.AddNew();
            dcCandVote.SetField(QStringLiteral("CandID"), row.fields[CandCode]);
            dcCandVote.SetField(QStringLiteral("NumVotes"), qint32(0));
            dcCandVote.Update();
            ++candidatesAdded;
        }
        // One entry in the election's record for the whole import, with it.
        dcPos.connection().appendLog(toolStation(), QStringLiteral("ballot imported from %1: %2 position(s), %3 "
                                                                   "candidate(s)")
                                                        .arg(csvPath)
                                                        .arg(positionsAdded)
                                                        .arg(candidatesAdded));
        tx.Commit();
    } catch (const store::StoreError &e) {
        Console::err(QStringLiteral("%1: %2: %3 (error %4); nothing was imported\n")
                         .arg(me, Target::describe(file), e.text())
                         .arg(e.number()));
        return 1;
    }
    Console::out(QStringLiteral("Added %1 position(s) and %2 candidate(s), each with 0 votes, to %3.\n")
                     .arg(positionsAdded)
                     .arg(candidatesAdded)
                     .arg(Target::describe(file)));
    if (!joined.isEmpty())
        Console::out(QStringLiteral("Positions already on the ballot that took new candidates: %1.\n")
                         .arg(joined.join(QStringLiteral(", "))));
    if (trimmed > 0)
        Console::out(QStringLiteral("Removed the outer blanks of %1 field(s).\n").arg(trimmed));
    return 0;
}

} // namespace Commands
