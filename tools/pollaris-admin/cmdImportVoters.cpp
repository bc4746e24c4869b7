#include "Commands.h"
#include "Console.h"
#include "CsvInput.h"
#include "Passwords.h"
#include "Target.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QHash>
#include <QObject>
#include <QRegularExpression>
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

constexpr qsizetype kProgressFrom = 10000;

// Where the header row puts each column; -1 for a column it does not have.
struct Header {
    int name = -1, username = -1, password = -1;
    int columns = 0;
};

// Reads the header row: false when it names a column the register has no use
// for, or one column twice.
bool readHeader(const CsvInput::Record &record, Header &header)
{
    if (!record.fault.isEmpty())
        return false;
    header.columns = int(record.fields.size());
    for (int f = 0; f < header.columns; ++f) {
        const QString title = CsvInput::title(record.fields.at(f));
        int *column = nullptr;
        if (title == QLatin1String("name"))
            column = &header.name;
        else if (title == QLatin1String("student id") || title == QLatin1String("username"))
            column = &header.username;
        else if (title == QLatin1String("password"))
            column = &header.password;
        if (!column || *column >= 0)
            return false;
        *column = f;
    }
    return true;
}

// A text as one word of a shell's command line.
QString shellWord(const QString &text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./=:@%+-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\'');
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
    parser.setApplicationDescription(
        QStringLiteral(
            "Register the voters listed in a CSV file. Its first row is the header naming the three columns\n"
            "Name, Student ID (or Username) and Password, in any order, letter case ignored; then one row\n"
            "per voter. Fields are separated by commas, or by semicolons when the header is; the file is\n"
            "UTF-8 (save as \"CSV UTF-8\"), at most 64 MiB. Blank rows are skipped and the outer blanks of\n"
            "every field removed; a field holding a control character (a tab, a line break) is refused.\n"
            "Every account starts as not having voted. When any row is bad, the bad rows are named and\n"
            "nothing is imported.\n\n"
            "With --passwords generate the register has no Password column (one is refused): every new\n"
            "account gets a random password of %1 lower-case letters and digits that no one takes for\n"
            "others (no 0/o, 1/l/i, 2/z, 5/s, 6/b, 8/b, 9/g/q). Print them with 'pollaris-admin slips'.")
            .arg(Passwords::kLength));
    parser.addHelpOption();
    QCommandLineOption passwordsOption(
        QStringLiteral("passwords"),
        QStringLiteral("Where the passwords come from: 'column' (default), the register's Password column, or "
                       "'generate', a new random password for each account."),
        QStringLiteral("column|generate"), QStringLiteral("column"));
    parser.addOptions({passwordsOption, Target::serverOption()});
    parser.addPositionalArgument(QStringLiteral("CSV"), QStringLiteral("The register of voters."));
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The election file (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (const std::optional<int> done = parseCommandLine(parser, args, QStringLiteral("import-voters")))
        return *done;
    const QString passwords = parser.value(passwordsOption);
    if (passwords != QLatin1String("column") && passwords != QLatin1String("generate")) {
        Console::err(QStringLiteral("%1: --passwords takes 'column' or 'generate', not '%2'\n").arg(me, passwords));
        return 2;
    }
    const bool generate = passwords == QLatin1String("generate");
    QString csvPath, file;
    if (const std::optional<int> done = electionToImportInto(parser, QStringLiteral("import-voters"), csvPath, file))
        return *done;

    QVector<CsvInput::Record> records;
    if (const QString why = CsvInput::read(csvPath, QStringLiteral("register of voters"), records); !why.isEmpty()) {
        Console::err(QStringLiteral("%1: %2; nothing was imported\n").arg(me, why));
        return 1;
    }
    Header header;
    const bool named =
        !records.isEmpty() && readHeader(records.first(), header) && header.name >= 0 && header.username >= 0;
    const int headerLine = records.isEmpty() ? 1 : records.first().line;
    // Passwords come from one place only: a register that brings its own is not
    // silently given others, nor are generated ones mixed with the file's.
    if (named && generate && header.password >= 0) {
        Console::err(QStringLiteral("%1: %2 line %3: the register has a Password column, but --passwords generate "
                                    "makes the passwords: leave the column out, or the option to take the file's "
                                    "passwords; nothing was imported\n")
                         .arg(me, csvPath)
                         .arg(headerLine));
        return 1;
    }
    if (!named || (!generate && header.password < 0)) {
        Console::err(
            QStringLiteral("%1: %2 line %3: the first row must be the header naming the columns Name, Student ID (or "
                           "Username)%4, in any order; nothing was imported\n")
                .arg(me, csvPath)
                .arg(headerLine)
                .arg(generate ? QString()
                     : named  ? QStringLiteral(" and Password (or give --passwords generate to make the passwords)")
                              : QStringLiteral(" and Password")));
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
        QSet<QString> made;       // the passwords generated so far: every slip is different
        const QString kNames[3] = {QStringLiteral("name"), QStringLiteral("student ID"), QStringLiteral("password")};
        const int kColumns[3] = {header.name, header.username, header.password};
        const int kLimits[3] = {kMaxName, kMaxStudentId, kMaxPassword};
        const int taken = generate ? 2 : 3; // the fields the file gives
        QVector<std::array<QString, 3>> voters;
        for (qsizetype r = 1; r < records.size(); ++r) {
            const CsvInput::Record &record = records.at(r);
            if (!record.fault.isEmpty()) {
                fault(record.line, record.fault);
                continue;
            }
            if (record.blank())
                continue;
            if (record.fields.size() != header.columns) {
                fault(record.line,
                      generate ? QStringLiteral("%1 fields, expected 2 (name, student ID)").arg(record.fields.size())
                               : QStringLiteral("%1 fields, expected 3 (name, student ID, password)")
                                     .arg(record.fields.size()));
                continue;
            }
            std::array<QString, 3> voter;
            bool good = true;
            for (int f = 0; f < taken; ++f) {
                const QString &raw = record.fields.at(kColumns[f]);
                if (const QString control = CsvInput::controlCharacterIn(raw); !control.isEmpty()) {
                    fault(record.line, QStringLiteral("the %1 holds a control character (%2)").arg(kNames[f], control));
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
            if (generate) {
                do
                    voter[2] = Passwords::generate();
                while (made.contains(voter[2]));
                made.insert(voter[2]);
            }
            voters.push_back(voter);
        }
        progress.done();
        if (!faults.isEmpty()) {
            CsvInput::listFaults(me, faults);
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
        // One entry in the election's record for the whole import, with it.
        dcUserInfo.connection().appendLog(
            toolStation(), QStringLiteral("%1 voter account(s) imported from %2").arg(imported).arg(csvPath));
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
    if (generate && imported > 0) {
        const QString election =
            Target::isServer(file) ? QStringLiteral("--server ") + shellWord(file) : shellWord(file);
        Console::out(QStringLiteral("Each new account has a generated password; print the slips that hand them out:\n"
                                    "  pollaris-admin slips --out slips.pdf %1\n")
                         .arg(election));
    }
    return 0;
}

} // namespace Commands
