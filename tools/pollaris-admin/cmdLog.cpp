// The election's own record: what the stations and the administrators did, when
// and where, each entry chained by its hash to the one before. It holds no vote
// and no voter's log-in, only what an election committee signs off on.

#include "Commands.h"
#include "Console.h"
#include "Target.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QCommandLineParser>
#include <QDateTime>

namespace Commands {

namespace {

struct Entry {
    qint64 seq;
    QString at, station, what, hash;
};

// Every entry, in the order they were added; none when the election keeps no
// record yet (made before it was kept, and nothing recorded since).
std::optional<QVector<Entry>> readRecord(const QString &target)
{
    QObject owner;
    store::RecordCursor dcLog(QStringLiteral("dcLog"), QStringLiteral("Select * from pollaris_log"), &owner);
    dcLog.setDatabaseName(target);
    QVector<Entry> entries;
    try {
        for (dcLog.Refresh(); !dcLog.EOF_(); dcLog.MoveNext())
            entries.push_back({dcLog.Field(QStringLiteral("seq")).toLongLong(), dcLog.FieldText(QStringLiteral("at")),
                               dcLog.FieldText(QStringLiteral("station")), dcLog.FieldText(QStringLiteral("what")),
                               dcLog.FieldText(QStringLiteral("hash"))});
    } catch (const store::StoreError &e) {
        if (store::isMissingTable(e))
            return std::nullopt;
        throw;
    }
    return entries;
}

// What is wrong with the chain, one line a fault; none when every entry is as it
// was added and none is missing between the first and the last.
QStringList faultsOf(const QVector<Entry> &entries)
{
    QStringList faults;
    QString previous;
    qint64 expected = 1;
    for (const Entry &e : entries) {
        if (e.seq != expected)
            faults << (e.seq > expected
                           ? QStringLiteral("entries %1 to %2 are missing").arg(expected).arg(e.seq - 1)
                           : QStringLiteral("entry %1 is out of its place (after %2)").arg(e.seq).arg(expected - 1));
        // The hash as the entry was added, on the hash before it as it is now.
        if (store::Connection::logHash(previous, e.seq, e.at, e.station, e.what) != e.hash)
            faults << QStringLiteral("entry %1 (%2, %3: \"%4\") is not as it was recorded")
                          .arg(e.seq)
                          .arg(e.at, e.station, e.what);
        previous = e.hash;
        expected = e.seq + 1;
    }
    return faults;
}

} // namespace

int runLog(const QStringList &args)
{
    const QString me = QStringLiteral("pollaris-admin log");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Print the election's own record, one line an entry: its number, its time (UTC), the\n"
                       "station it came from and what happened. It holds the changes made by administrators,\n"
                       "their log-ins, the stations' starts and ends; never a vote nor a voter's log-in."));
    parser.addHelpOption();
    QCommandLineOption sinceOption(QStringLiteral("since"),
                                   QStringLiteral("Only the entries from TIME on (local time, as 2026-12-07 or "
                                                  "2026-12-07T11:02)."),
                                   QStringLiteral("TIME"));
    QCommandLineOption verifyOption(QStringLiteral("verify"),
                                    QStringLiteral("Check that no entry was changed or taken out since it was added, "
                                                   "by the hash that chains each to the one before."));
    parser.addOptions({sinceOption, verifyOption, Target::serverOption()});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The election file (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (const std::optional<int> done = parseCommandLine(parser, args, QStringLiteral("log")))
        return *done;
    QDateTime since;
    if (parser.isSet(sinceOption)) {
        since =
            QDateTime::fromString(parser.value(sinceOption).replace(QLatin1Char(' '), QLatin1Char('T')), Qt::ISODate);
        if (!since.isValid()) {
            Console::err(QStringLiteral("%1: --since takes a date and time such as 2026-12-07T11:02\n").arg(me));
            return 2;
        }
    }
    QString target;
    if (const std::optional<int> wrong = electionToRead(parser, QStringLiteral("log"), target))
        return *wrong;

    std::optional<QVector<Entry>> entries;
    try {
        entries = readRecord(target);
    } catch (const store::StoreError &e) {
        Console::err(
            QStringLiteral("%1: %2: %3 (error %4)\n").arg(me, Target::describe(target), e.text()).arg(e.number()));
        return 1;
    }
    if (!entries) {
        Console::out(QStringLiteral("%1 keeps no record yet.\n").arg(Target::describe(target)));
        return 0;
    }
    if (parser.isSet(verifyOption)) {
        const QStringList faults = faultsOf(*entries);
        if (!faults.isEmpty()) {
            Console::err(QStringLiteral("%1: the record of %2 was altered: %3\n")
                             .arg(me, Target::describe(target), faults.join(QStringLiteral("; "))));
            return 1;
        }
        Console::out(QStringLiteral("The record of %1 holds %2 entries, each as it was added and none missing "
                                    "between the first and the last.\n")
                         .arg(Target::describe(target))
                         .arg(entries->size()));
        return 0;
    }
    const QString from = since.isValid() ? since.toUTC().toString(Qt::ISODate) : QString();
    for (const Entry &e : *entries)
        if (from.isEmpty() || e.at >= from)
            Console::out(QStringLiteral("%1  %2  %3  %4\n").arg(e.seq, 5).arg(e.at, e.station, e.what));
    return 0;
}

} // namespace Commands
