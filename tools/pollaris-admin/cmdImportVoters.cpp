#include "Commands.h"
#include "Console.h"
#include "Target.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QObject>
#include <QStringDecoder>
#include <QVector>

namespace Commands {

namespace {

// The voter screens take at most these many characters: a longer value could
// never be typed at the log-in.
constexpr int kMaxName = 50;
constexpr int kMaxStudentId = 20;
constexpr int kMaxPassword = 20;

struct CsvRecord {
    int line = 0; // line of the file where the record starts
    QStringList fields;
    QString fault; // set when the record itself is malformed
};

// Splits a text into records as RFC 4180 describes them: fields separated by
// commas, records by CRLF or LF, quoted fields with doubled quotes inside and
// line breaks kept. Entirely empty lines are skipped.
QVector<CsvRecord> parseCsv(const QString &text)
{
    QVector<CsvRecord> records;
    const qsizetype n = text.size();
    qsizetype i = 0;
    int line = 1;
    while (i < n) {
        CsvRecord record;
        record.line = line;
        if (text.at(i) == QLatin1Char('\n') ||
            (text.at(i) == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))) {
            i += text.at(i) == QLatin1Char('\r') ? 2 : 1;
            ++line;
            continue;
        }
        bool endOfRecord = false;
        while (!endOfRecord) {
            QString field;
            if (i < n && text.at(i) == QLatin1Char('"')) {
                ++i;
                bool closed = false;
                while (i < n) {
                    const QChar c = text.at(i);
                    if (c == QLatin1Char('"')) {
                        if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                            field += c;
                            i += 2;
                            continue;
                        }
                        ++i;
                        closed = true;
                        break;
                    }
                    if (c == QLatin1Char('\n'))
                        ++line;
                    field += c;
                    ++i;
                }
                if (!closed && record.fault.isEmpty())
                    record.fault = QStringLiteral("a quoted field is not closed");
                // Only a separator or the end of the record may follow the closing quote.
                if (closed && i < n && text.at(i) != QLatin1Char(',') && text.at(i) != QLatin1Char('\n') &&
                    !(text.at(i) == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))) {
                    if (record.fault.isEmpty())
                        record.fault = QStringLiteral("text after a closing quote");
                    while (i < n && text.at(i) != QLatin1Char(',') && text.at(i) != QLatin1Char('\n'))
                        field += text.at(i++);
                }
            } else {
                while (i < n && text.at(i) != QLatin1Char(',') && text.at(i) != QLatin1Char('\n')) {
                    if (text.at(i) == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
                        break;
                    if (text.at(i) == QLatin1Char('"') && record.fault.isEmpty())
                        record.fault = QStringLiteral("a quote inside an unquoted field");
                    field += text.at(i++);
                }
            }
            record.fields << field;
            if (i >= n) {
                endOfRecord = true;
            } else if (text.at(i) == QLatin1Char(',')) {
                ++i;
            } else {
                i += text.at(i) == QLatin1Char('\r') ? 2 : 1;
                ++line;
                endOfRecord = true;
            }
        }
        records << record;
    }
    return records;
}

} // namespace

int runImportVoters(const QStringList &args)
{
    const QString me = QStringLiteral("pollaris-admin import-voters");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Register the voters listed in a CSV file (UTF-8, a header row, then one row per voter:\n"
                       "name, student ID, password). Every account starts as not having voted.\n"
                       "When any row is bad, every bad row is named and nothing is imported."));
    parser.addHelpOption();
    parser.addOption(Target::serverOption());
    parser.addPositionalArgument(QStringLiteral("CSV"), QStringLiteral("The register of voters."));
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The election file (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (!parser.parse(args)) {
        Console::err(QStringLiteral("%1: %2\n").arg(me, parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        Console::out(parser.helpText().replace(QStringLiteral("pollaris-admin [options]"),
                                               QStringLiteral("pollaris-admin import-voters [options]")));
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty() || positional.size() > 2) {
        Console::err(QStringLiteral("%1: expected CSV [FILE]\n").arg(me));
        return 2;
    }
    const QString csvPath = positional.at(0);
    const QString file = Target::of(parser, positional.value(1));
    if (const QString why = Target::check(parser, positional.value(1)); !why.isEmpty()) {
        Console::err(QStringLiteral("%1: %2\n").arg(me, why));
        return 2;
    }
    if (!Target::isServer(file) && !QFileInfo(file).isFile()) {
        Console::err(QStringLiteral("%1: no election file %2 (create one with 'pollaris-admin new')\n").arg(me, file));
        return 1;
    }

    QFile csv(csvPath);
    if (!csv.open(QIODevice::ReadOnly)) {
        Console::err(QStringLiteral("%1: cannot read %2: %3\n").arg(me, csvPath, csv.errorString()));
        return 1;
    }
    const QByteArray bytes = csv.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError()) {
        Console::err(QStringLiteral("%1: %2 is not UTF-8 text\n").arg(me, csvPath));
        return 1;
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    const QVector<CsvRecord> records = parseCsv(text);
    if (records.isEmpty()) {
        Console::err(QStringLiteral("%1: %2 is empty; it needs a header row and one row per voter\n").arg(me, csvPath));
        return 1;
    }

    QObject owner;
    int faults = 0;
    try {
        store::RecordCursor dcUserInfo(QStringLiteral("dcUserInfo"), QStringLiteral("Users"), &owner);
        dcUserInfo.setDatabaseName(file);
        const auto fault = [&](int line, const QString &what) {
            Console::err(QStringLiteral("%1: %2 line %3: %4\n").arg(me, csvPath).arg(line).arg(what));
            ++faults;
        };
        if (records.first().fields.size() != 3 || !records.first().fault.isEmpty())
            fault(records.first().line,
                  QStringLiteral("the header row must have three fields: name, student ID, password"));

        QHash<QString, int> seen; // case-folded student ID -> line of its first row
        const QString kNames[3] = {QStringLiteral("name"), QStringLiteral("student ID"), QStringLiteral("password")};
        const int kLimits[3] = {kMaxName, kMaxStudentId, kMaxPassword};
        for (qsizetype r = 1; r < records.size(); ++r) {
            const CsvRecord &record = records.at(r);
            if (!record.fault.isEmpty()) {
                fault(record.line, record.fault);
                continue;
            }
            if (record.fields.size() != 3) {
                fault(record.line,
                      QStringLiteral("%1 fields, expected 3 (name, student ID, password)").arg(record.fields.size()));
                continue;
            }
            bool good = true;
            for (int f = 0; f < 3; ++f) {
                if (record.fields.at(f).isEmpty()) {
                    fault(record.line, QStringLiteral("the %1 is empty").arg(kNames[f]));
                    good = false;
                } else if (record.fields.at(f).size() > kLimits[f]) {
                    fault(record.line,
                          QStringLiteral("the %1 is longer than %2 characters").arg(kNames[f]).arg(kLimits[f]));
                    good = false;
                }
            }
            if (!good)
                continue;
            const QString id = record.fields.at(1);
            const QString key = id.toCaseFolded();
            if (seen.contains(key)) {
                fault(record.line,
                      QStringLiteral("student ID '%1' repeats the one on line %2").arg(id).arg(seen.value(key)));
                continue;
            }
            seen.insert(key, record.line);
            dcUserInfo.setRecordSource(QStringLiteral("Select * from Users where Username ='") + id +
                                       QStringLiteral("'"));
            dcUserInfo.Refresh();
            if (!dcUserInfo.EOF_())
                fault(record.line, QStringLiteral("student ID '%1' is already registered").arg(id));
        }
        if (faults > 0) {
            Console::err(QStringLiteral("%1: %2 bad row(s); nothing was imported\n").arg(me).arg(faults));
            return 1;
        }

        store::Transaction tx(dcUserInfo.connection());
        for (qsizetype r = 1; r < records.size(); ++r) {
            const QStringList &fields = records.at(r).fields;
            dcUserInfo.AddNew();
            dcUserInfo.SetField(QStringLiteral("Name"), fields.at(0));
            dcUserInfo.SetField(QStringLiteral("Username"), fields.at(1));
            dcUserInfo.SetField(QStringLiteral("Password"), fields.at(2));
            dcUserInfo.SetField(QStringLiteral("HasVoted"), false);
            dcUserInfo.Update();
        }
        tx.Commit();
    } catch (const store::StoreError &e) {
        Console::err(QStringLiteral("%1: %2 (error %3); nothing was imported\n").arg(me, e.text()).arg(e.number()));
        return 1;
    }
    Console::out(QStringLiteral("Imported %1 voter(s) into %2.\n").arg(records.size() - 1).arg(Target::describe(file)));
    return 0;
}

} // namespace Commands
