#include "Target.h"

#include "Commands.h"
#include "Console.h"
#include "NewFile.h"
#include "store/Connection.h"
#include "store/ElectionFile.h"
#include "store/PgConnection.h"
#include "store/StoreError.h"

#include <QFile>
#include <QFileInfo>
#include <QVector>
#include <sqlite3.h>
#include <sys/stat.h>

namespace Target {

namespace {

const char *const kTables[] = {"Positions", "CandInfo", "CandVote", "Users", "Administrators"};

// One table as read: its field names, then each row's values in order.
struct Rows final : store::RowSink {
    QStringList names;
    QVector<QVector<QVariant>> rows;
    void columns(const QStringList &n) override { names = n; }
    void row(qint64, qint64) override { rows.push_back({}); }
    void integer(qint64 value) override { rows.back() << value; }
    void real(double value) override { rows.back() << value; }
    void text(const char *utf8, int bytes) override { rows.back() << QString::fromUtf8(utf8, bytes); }
    void null() override { rows.back() << QVariant(); }
};

} // namespace

QCommandLineOption serverOption()
{
    return QCommandLineOption(QStringLiteral("server"),
                              QStringLiteral("The election on a PostgreSQL server instead of a file: a libpq "
                                             "connection string such as postgresql://host/election or "
                                             "service=NAME. Passwords go in ~/.pgpass or a service file."),
                              QStringLiteral("CONNINFO"));
}

QCommandLineOption stationRoleOption()
{
    return QCommandLineOption(QStringLiteral("station-role"),
                              QStringLiteral("On a server, the role of the polling stations, made if missing: it may "
                                             "take votes and nothing else (default: %1).")
                                  .arg(QString::fromLatin1(store::kDefaultStationRole)),
                              QStringLiteral("ROLE"), QString::fromLatin1(store::kDefaultStationRole));
}

QString stationRole(const QCommandLineParser &parser) { return parser.value(QStringLiteral("station-role")); }

QString of(const QCommandLineParser &parser, const QString &file)
{
    if (parser.isSet(QStringLiteral("server")))
        return parser.value(QStringLiteral("server"));
    return file.isEmpty() ? Commands::defaultElectionFile() : QFileInfo(file).absoluteFilePath();
}

QString check(const QCommandLineParser &parser, const QString &file)
{
    if (!parser.isSet(QStringLiteral("server")))
        return QString();
    if (!file.isEmpty())
        return QStringLiteral("give either FILE or --server, not both");
    if (!isServer(parser.value(QStringLiteral("server"))))
        return QStringLiteral("--server takes a connection string (postgresql://... or keyword=value)");
    return refusal(parser.value(QStringLiteral("server")));
}

bool isServer(const QString &target) { return store::Connection::isServer(target); }

QString refusal(const QString &target) { return isServer(target) ? store::PgConnection::refusalOf(target) : QString(); }

QString describe(const QString &target)
{
    return isServer(target) ? QStringLiteral("the election on the server \"%1\"").arg(target) : target;
}

int copyElection(const QString &me, const QString &from, const QString &to, const QString &stationRole)
{
    for (const QString &target : {from, to})
        if (const QString why = refusal(target); !why.isEmpty()) {
            Console::err(QStringLiteral("%1: %2\n").arg(me, why));
            return 2;
        }
    if (from == to) {
        Console::err(QStringLiteral("%1: the copy must go to another place\n").arg(me));
        return 2;
    }
    if (!isServer(from) && !QFileInfo(from).isFile()) {
        Console::err(QStringLiteral("%1: no election file %2\n").arg(me, from));
        return 1;
    }
    // Every table read within one unit: one moment of the election, even while
    // stations vote. A file is made whole beside its place and put there only
    // when nothing is in the way.
    QString counts;
    const auto fill = [&](const QString &into) -> QString {
        try {
            std::shared_ptr<store::Connection> source = store::Connection::open(from);
            std::shared_ptr<store::Connection> target;
            try {
                store::Transaction snapshot(*source);
                if (!isServer(into))
                    QFile::remove(into); // the file is made afresh by the engine
                target = store::beginNewElection(into, stationRole);
                for (const char *table : kTables) {
                    Rows rows;
                    source->select(store::Query{QString::fromLatin1(table), {}, {}, {}}, rows);
                    for (const auto &row : rows.rows)
                        target->insert(QString::fromLatin1(table), rows.names, row);
                    counts +=
                        QStringLiteral("%1%2 %3").arg(counts.isEmpty() ? "" : ", ").arg(rows.rows.size()).arg(table);
                }
                // The election's record and its counts of failed log-ins go with it,
                // entry for entry: the record's chain goes on from its last entry.
                for (const char *table : {"pollaris_counts", "pollaris_log"}) {
                    if (!source->holds(QString::fromLatin1(table)))
                        continue;
                    Rows rows;
                    source->select(store::Query{QString::fromLatin1(table), {}, {}, {}}, rows);
                    for (const auto &row : rows.rows)
                        target->insert(QString::fromLatin1(table), rows.names, row);
                }
                target->appendLog(Commands::toolStation(), QStringLiteral("copied from %1").arg(describe(from)));
                target->commit();
                // A copy in a file holds every password and vote: for its owner
                // alone, as a backup is (the stations' own file is made by new).
                if (!isServer(into) && ::chmod(QFile::encodeName(into).constData(), 0600) != 0)
                    throw store::StoreError(SQLITE_CANTOPEN,
                                            QStringLiteral("cannot make %1 private to its owner").arg(into));
                snapshot.Commit();
            } catch (...) {
                if (target)
                    target->rollback();
                throw;
            }
        } catch (const store::StoreError &e) {
            return QStringLiteral("%1 (error %2); nothing was copied").arg(e.text()).arg(e.number());
        }
        return QString();
    };
    const QString failure = isServer(to) ? fill(to) : NewFile::create(to, fill);
    if (!failure.isEmpty()) {
        Console::err(QStringLiteral("%1: %2\n").arg(me, failure));
        return 1;
    }
    Console::out(QStringLiteral("Copied %1 from %2 to %3.\n").arg(counts, describe(from), describe(to)));
    return 0;
}

} // namespace Target
