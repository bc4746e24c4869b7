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
#include <QSet>
#include <QVector>
#include <algorithm>
#include <array>
#include <unistd.h>

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
// the separator (a comma, or the semicolon many spreadsheets save), records by CRLF or LF, quoted fields with doubled
// quotes inside and line breaks kept. Entirely empty lines are skipped.
QVector<CsvRecord> parseCsv(const QString &text, QChar separator)
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
                if (closed && i < n && text.at(i) != separator && text.at(i) != QLatin1Char('\n') &&
                    !(text.at(i) == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))) {
                    if (record.fault.isEmpty())
                        record.fault = QStringLiteral("text after a closing quote");
                    while (i < n && text.at(i) != separator && text.at(i) != QLatin1Char('\n'))
                        field += text.at(i++);
                }
            } else {
                while (i < n && text.at(i) != separator && text.at(i) != QLatin1Char('\n')) {
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
            } else if (text.at(i) == separator) {
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

constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;
constexpr qint64 kMaxLineBytes = 64 * 1024;
constexpr int kFaultsListed = 20;
constexpr qsizetype kProgressFrom = 10000;

// Reads the whole register, refusing a file or a line too large for any school
// before reading further: a device that never ends is refused after one long line.
QString readRegister(const QString &path, QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    const QString tooLarge = QStringLiteral("%1 is larger than 64 MiB; no register of voters is that large");
    if (!file.isSequential() && file.size() > kMaxFileBytes)
        return tooLarge.arg(path);
    qint64 lineBytes = 0;
    int line = 1;
    while (true) {
        const QByteArray piece = file.read(1024 * 1024);
        if (piece.isEmpty())
            break;
        for (const char c : piece) {
            if (c == '\n') {
                ++line;
                lineBytes = 0;
            } else if (++lineBytes > kMaxLineBytes) {
                return QStringLiteral(
                           "%1 line %2: the line is longer than 64 KiB, more than any register of voters needs")
                    .arg(path)
                    .arg(line);
            }
        }
        bytes += piece;
        if (bytes.size() > kMaxFileBytes)
            return tooLarge.arg(path);
    }
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    return QString();
}

// The line of the first byte that is not part of well-formed UTF-8 (no overlong
// forms, no surrogates, nothing beyond U+10FFFF), or 0 when there is none.
int firstBadUtf8Line(const QByteArray &bytes)
{
    int line = 1;
    const auto *s = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            line += c == '\n';
            ++i;
            continue;
        }
        int more = 0;
        unsigned char low = 0x80, high = 0xBF; // the range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return line;
        }
        if (i + more >= n || s[i + 1] < low || s[i + 1] > high)
            return line;
        for (int k = 2; k <= more; ++k)
            if (s[i + k] < 0x80 || s[i + k] > 0xBF)
                return line;
        i += more + 1;
    }
    return 0;
}

// Where the header row puts each of the three columns.
struct Header {
    int name = -1, username = -1, password = -1;
    bool valid() const { return name >= 0 && username >= 0 && password >= 0; }
};

Header readHeader(const CsvRecord &record)
{
    Header header;
    if (!record.fault.isEmpty() || record.fields.size() != 3)
        return {};
    for (int f = 0; f < 3; ++f) {
        const QString title = record.fields.at(f).trimmed().toCaseFolded();
        int *column = nullptr;
        if (title == QLatin1String("name"))
            column = &header.name;
        else if (title == QLatin1String("student id") || title == QLatin1String("username"))
            column = &header.username;
        else if (title == QLatin1String("password"))
            column = &header.password;
        if (!column || *column >= 0)
            return {};
        *column = f;
    }
    return header;
}

// Progress on standard error for a long register: a percentage rewritten in
// place on a terminal, otherwise a plain line at every tenth.
class Progress {
public:
    Progress(const QString &me, qsizetype rows)
        : m_me(me), m_rows(rows), m_shown(rows > kProgressFrom), m_terminal(isatty(STDERR_FILENO))
    {}
    void step(const char *doing, qsizetype done)
    {
        if (!m_shown)
            return;
        const int percent = int(done * 100 / m_rows);
        if (percent == m_percent && doing == m_doing)
            return;
        if (m_terminal)
            Console::err(QStringLiteral("\r%1: %2 %3%").arg(m_me, QLatin1String(doing)).arg(percent, 3));
        else if (percent / 10 != m_percent / 10 || doing != m_doing)
            Console::err(QStringLiteral("%1: %2 %3% (%4 of %5 rows)\n")
                             .arg(m_me, QLatin1String(doing))
                             .arg(percent)
                             .arg(done)
                             .arg(m_rows));
        m_percent = percent;
        m_doing = doing;
    }
    void done()
    {
        if (m_shown && m_terminal && m_doing)
            Console::err(QStringLiteral("\n"));
        m_doing = nullptr;
    }

private:
    QString m_me;
    qsizetype m_rows;
    bool m_shown;
    bool m_terminal;
    int m_percent = -1;
    const char *m_doing = nullptr;
};

} // namespace

int runImportVoters(const QStringList &args)
{
    const QString me = QStringLiteral("pollaris-admin import-voters");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Register the voters listed in a CSV file. Its first row is the header naming the three columns\n"
        "Name, Student ID (or Username) and Password, in any order, letter case ignored; then one row\n"
        "per voter. Fields are separated by commas, or by semicolons when the header is; the file is\n"
        "UTF-8 (save as \"CSV UTF-8\"), at most 64 MiB. Blank rows are skipped and the outer blanks of\n"
        "every field removed; a field holding a control character (a tab, a line break) is refused.\n"
        "Every account starts as not having voted. When any row is bad, the bad rows are named and\n"
        "nothing is imported."));
    parser.addHelpOption();
    parser.addOption(Target::serverOption());
    parser.addPositionalArgument(QStringLiteral("CSV"), QStringLiteral("The register of voters."));
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The election file (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (const std::optional<int> done = parseCommandLine(parser, args, QStringLiteral("import-voters")))
        return *done;
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

    QByteArray bytes;
    if (const QString why = readRegister(csvPath, bytes); !why.isEmpty()) {
        Console::err(QStringLiteral("%1: %2; nothing was imported\n").arg(me, why));
        return 1;
    }
    if (const int line = firstBadUtf8Line(bytes)) {
        Console::err(QStringLiteral("%1: %2 line %3: the file is not UTF-8 text; in the spreadsheet, save it as "
                                    "\"CSV UTF-8\"; nothing was imported\n")
                         .arg(me, csvPath)
                         .arg(line));
        return 1;
    }
    QString text = QString::fromUtf8(bytes);
    bytes.clear();
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    // The header says how the fields are separated: by semicolons when its line
    // has them and no comma.
    const QString firstLine = text.section(QLatin1Char('\n'), 0, 0, QString::SectionSkipEmpty);
    const QChar separator = firstLine.contains(QLatin1Char(';')) && !firstLine.contains(QLatin1Char(','))
                                ? QLatin1Char(';')
                                : QLatin1Char(',');
    QVector<CsvRecord> records = parseCsv(text, separator);
    text.clear();
    const Header header = records.isEmpty() ? Header{} : readHeader(records.first());
    if (!header.valid()) {
        Console::err(QStringLiteral("%1: %2 line %3: the first row must be the header naming the columns Name, "
                                    "Student ID (or Username) and Password, in any order; nothing was imported\n")
                         .arg(me, csvPath)
                         .arg(records.isEmpty() ? 1 : records.first().line));
        return 1;
    }
    Progress progress(me, records.size() - 1);

    QObject owner;
    QStringList faults;
    int trimmed = 0;
    qsizetype imported = 0;
    try {
        store::RecordCursor dcUserInfo(QStringLiteral("dcUserInfo"), QStringLiteral("Users"), &owner);
        dcUserInfo.setDatabaseName(file);
        const auto fault = [&](int line, const QString &what) {
            faults << QStringLiteral("%1: %2 line %3: %4\n").arg(me, csvPath).arg(line).arg(what);
        };

        // The accounts already registered, read once, keyed by the store's text equality.
        QSet<QString> registered;
        dcUserInfo.setRecordSource(QStringLiteral("Select * from Users"));
        dcUserInfo.Refresh();
        for (; !dcUserInfo.EOF_(); dcUserInfo.MoveNext())
            registered.insert(store::TextKey(dcUserInfo.FieldText(QStringLiteral("Username"))));

        QHash<QString, int> seen; // case-folded student ID -> line of its first row
        const QString kNames[3] = {QStringLiteral("name"), QStringLiteral("student ID"), QStringLiteral("password")};
        const int kColumns[3] = {header.name, header.username, header.password};
        const int kLimits[3] = {kMaxName, kMaxStudentId, kMaxPassword};
        QVector<std::array<QString, 3>> voters;
        for (qsizetype r = 1; r < records.size(); ++r) {
            const CsvRecord &record = records.at(r);
            const bool blank = std::all_of(record.fields.cbegin(), record.fields.cend(),
                                           [](const QString &f) { return f.trimmed().isEmpty(); });
            if (!record.fault.isEmpty()) {
                fault(record.line, record.fault);
                continue;
            }
            if (blank) // a row left empty, or the ",," rows a spreadsheet leaves at the end
                continue;
            if (record.fields.size() != 3) {
                fault(record.line,
                      QStringLiteral("%1 fields, expected 3 (name, student ID, password)").arg(record.fields.size()));
                continue;
            }
            std::array<QString, 3> voter;
            bool good = true;
            for (int f = 0; f < 3; ++f) {
                const QString &raw = record.fields.at(kColumns[f]);
                const auto control = std::find_if(raw.cbegin(), raw.cend(),
                                                  [](QChar c) { return c.category() == QChar::Other_Control; });
                if (control != raw.cend()) {
                    fault(
                        record.line,
                        QStringLiteral("the %1 holds a control character (U+%2)")
                            .arg(kNames[f])
                            .arg(
                                QString::number(control->unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'))));
                    good = false;
                    continue;
                }
                voter[f] = raw.trimmed();
                trimmed += voter[f].size() != raw.size();
                if (voter[f].isEmpty()) {
                    fault(record.line, QStringLiteral("the %1 is empty").arg(kNames[f]));
                    good = false;
                } else if (voter[f].size() > kLimits[f]) {
                    fault(record.line,
                          QStringLiteral("the %1 is longer than %2 characters").arg(kNames[f]).arg(kLimits[f]));
                    good = false;
                }
            }
            if (!good)
                continue;
            const QString key = store::TextKey(voter[1]);
            if (seen.contains(key)) {
                fault(record.line,
                      QStringLiteral("student ID '%1' repeats the one on line %2").arg(voter[1]).arg(seen.value(key)));
                continue;
            }
            seen.insert(key, record.line);
            if (registered.contains(key)) {
                fault(record.line, QStringLiteral("student ID '%1' is already registered").arg(voter[1]));
                continue;
            }
            voters.push_back(voter);
        }
        progress.done();
        if (!faults.isEmpty()) {
            for (const QString &f : faults.mid(0, kFaultsListed))
                Console::err(f);
            if (faults.size() > kFaultsListed)
                Console::err(QStringLiteral("%1: ... and %2 more\n").arg(me).arg(faults.size() - kFaultsListed));
            Console::err(QStringLiteral("%1: %2 fault(s) in %3; nothing was imported into %4\n")
                             .arg(me)
                             .arg(faults.size())
                             .arg(csvPath, file));
            return 1;
        }

        store::Transaction tx(dcUserInfo.connection());
        for (const auto &voter : voters) {
            dcUserInfo.AddNew();
            dcUserInfo.SetField(QStringLiteral("Name"), voter[0]);
            dcUserInfo.SetField(QStringLiteral("Username"), voter[1]);
            dcUserInfo.SetField(QStringLiteral("Password"), voter[2]);
            dcUserInfo.SetField(QStringLiteral("HasVoted"), false);
            dcUserInfo.Update();
            progress.step("importing", ++imported);
        }
        tx.Commit();
    } catch (const store::StoreError &e) {
        progress.done();
        Console::err(
            QStringLiteral("%1: %2: %3 (error %4); nothing was imported\n").arg(me, file, e.text()).arg(e.number()));
        return 1;
    }
    progress.done();
    Console::out(QStringLiteral("Imported %1 voter(s) into %2.\n").arg(imported).arg(Target::describe(file)));
    if (trimmed > 0)
        Console::out(QStringLiteral("Removed the outer blanks of %1 field(s).\n").arg(trimmed));
    return 0;
}

} // namespace Commands
