#include "CsvInput.h"

#include "Console.h"

#include <QFile>
#include <algorithm>

namespace CsvInput {

namespace {

constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;
constexpr qint64 kMaxLineBytes = 64 * 1024;

// Reads the whole file, refusing a file or a line too large for any school
// before reading further: a device that never ends is refused after one long line.
QString readBytes(const QString &path, const QString &what, QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    const QString tooLarge = QStringLiteral("%1 is larger than 64 MiB; no %2 is that large").arg(path, what);
    if (!file.isSequential() && file.size() > kMaxFileBytes)
        return tooLarge;
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
                return QStringLiteral("%1 line %2: the line is longer than 64 KiB, more than any %3 needs")
                    .arg(path)
                    .arg(line)
                    .arg(what);
            }
        }
        bytes += piece;
        if (bytes.size() > kMaxFileBytes)
            return tooLarge;
    }
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    return QString();
}

// The line of the first byte that does not belong to well-formed UTF-8 (no overlong
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

// Splits a text into records as RFC 4180 describes them: fields separated by
// the separator, records by CRLF or LF, quoted fields with doubled quotes inside
// and line breaks kept. Entirely empty lines are skipped.
QVector<Record> parse(const QString &text, QChar separator)
{
    QVector<Record> records;
    const qsizetype n = text.size();
    qsizetype i = 0;
    int line = 1;
    while (i < n) {
        Record record;
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

} // namespace

bool Record::blank() const
{
    return std::all_of(fields.cbegin(), fields.cend(), [](const QString &f) { return f.trimmed().isEmpty(); });
}

QString read(const QString &path, const QString &what, QVector<Record> &records)
{
    QByteArray bytes;
    if (QString why = readBytes(path, what, bytes); !why.isEmpty())
        return why;
    if (const int line = firstBadUtf8Line(bytes))
        return QStringLiteral("%1 line %2: the file is not UTF-8 text; in the spreadsheet, save it as \"CSV UTF-8\"")
            .arg(path)
            .arg(line);
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
    records = parse(text, separator);
    return QString();
}

QString title(const QString &field)
{
    QString t = field.toCaseFolded();
    t.replace(QLatin1Char('_'), QLatin1Char(' ')).replace(QLatin1Char('-'), QLatin1Char(' '));
    return t.simplified();
}

QString controlCharacterIn(const QString &field)
{
    const auto control =
        std::find_if(field.cbegin(), field.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
    if (control == field.cend())
        return QString();
    return QStringLiteral("U+%1").arg(
        QString::number(control->unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

void listFaults(const QString &me, const QStringList &faults)
{
    for (const QString &f : faults.mid(0, kFaultsListed))
        Console::err(f);
    if (faults.size() > kFaultsListed)
        Console::err(QStringLiteral("%1: ... and %2 more\n").arg(me).arg(faults.size() - kFaultsListed));
}

} // namespace CsvInput
