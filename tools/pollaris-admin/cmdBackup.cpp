#include "Commands.h"
#include "Console.h"
#include "NewFile.h"
#include "Target.h"
#include "store/SqliteConnection.h"
#include "store/StoreError.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

namespace Commands {

namespace {

// How long a backup keeps retrying while the program holds the file for a write.
constexpr int kBusyRetries = 500;
constexpr int kBusyPauseMs = 20;

QString firstColumn(store::SqliteConnection &db, const QString &sql)
{
    store::Statement stmt(db, sql);
    QString result;
    while (stmt.step())
        result += QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt.get(), 0)));
    return result;
}

// Copies every page of the source into the empty file at partial and checks the
// copy. Returns what went wrong, or an empty text; holdsVotes tells whether the
// copy shows any ballot cast or any voter who has logged in.
QString copyInto(const QString &partial, store::SqliteConnection &source, bool &holdsVotes)
{
    QString failure;
    try {
        std::shared_ptr<store::SqliteConnection> dest = store::SqliteConnection::open(partial);
        sqlite3_backup *backup = sqlite3_backup_init(dest->handle(), "main", source.handle(), "main");
        if (!backup)
            dest->fail(sqlite3_extended_errcode(dest->handle()));
        // All pages in one step: the source is read under one shared lock, so
        // the copy is one moment of the file even while votes are written.
        int rc = SQLITE_OK;
        int tries = 0;
        do {
            rc = sqlite3_backup_step(backup, -1);
            if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
                sqlite3_sleep(kBusyPauseMs);
        } while ((rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && ++tries < kBusyRetries);
        sqlite3_backup_finish(backup);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
            return QStringLiteral("%1 stayed locked by the program; try again").arg(source.path());
        if (rc != SQLITE_DONE)
            return QStringLiteral("copying %1: %2 (error %3)")
                .arg(source.path(), QString::fromUtf8(sqlite3_errstr(rc)))
                .arg(rc);
        const QString check = firstColumn(*dest, QStringLiteral("PRAGMA integrity_check"));
        if (check != QLatin1String("ok"))
            return QStringLiteral("the copy of %1 failed its integrity check: %2").arg(source.path(), check);
        try {
            holdsVotes = firstColumn(*dest, QStringLiteral("SELECT EXISTS (SELECT 1 FROM CandVote WHERE NumVotes <> 0)"
                                                           " OR EXISTS (SELECT 1 FROM Users WHERE HasVoted)")) ==
                         QLatin1String("1");
        } catch (const store::StoreError &) {
            holdsVotes = true; // a file that cannot say is treated as one that does
        }
    } catch (const store::StoreError &e) {
        failure = QStringLiteral("writing the copy %1: %2 (error %3)").arg(partial, e.text()).arg(e.number());
    }
    QFile::remove(partial + QStringLiteral("-journal"));
    return failure;
}

} // namespace

int runBackup(const QStringList &args)
{
    const QString me = QStringLiteral("pollaris-admin backup");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Write a consistent copy of the election file, also while the program is running and\n"
                       "votes are being cast. The copy is a new file: an existing COPY, a folder or a link is\n"
                       "refused, and nothing is ever overwritten. Once voting has begun, a copy holds the\n"
                       "ballots cast so far, and two copies compared give back every ballot cast between\n"
                       "them: keep every copy as secret as the election itself."));
    parser.addHelpOption();
    parser.addOption(Target::serverOption());
    parser.addPositionalArgument(QStringLiteral("COPY"), QStringLiteral("The copy to write; it must not exist yet."));
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The election file (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (const std::optional<int> done = parseCommandLine(parser, args, QStringLiteral("backup")))
        return *done;
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty() || positional.size() > 2) {
        Console::err(QStringLiteral("%1: expected COPY [FILE]\n").arg(me));
        return 2;
    }
    const QString copy = positional.at(0);
    // A server's election is copied out into a new file.
    if (parser.isSet(QStringLiteral("server"))) {
        if (const QString why = Target::check(parser, positional.value(1)); !why.isEmpty()) {
            Console::err(QStringLiteral("%1: %2\n").arg(me, why));
            return 2;
        }
        return Target::copyElection(me, Target::of(parser, QString()), QFileInfo(copy).absoluteFilePath(), QString());
    }
    const QString file = positional.size() > 1 ? positional.at(1) : defaultElectionFile();
    if (!QFileInfo(file).isFile()) {
        Console::err(QStringLiteral("%1: no election file %2\n").arg(me, file));
        return 1;
    }
    if (const QString why = NewFile::refusal(copy); !why.isEmpty()) {
        Console::err(QStringLiteral("%1: %2\n").arg(me, why));
        return 1;
    }

    bool holdsVotes = false;
    QString failure;
    try {
        std::shared_ptr<store::SqliteConnection> source = store::SqliteConnection::open(file);
        failure = NewFile::create(copy, [&](const QString &partial) { return copyInto(partial, *source, holdsVotes); });
    } catch (const store::StoreError &e) {
        failure = QStringLiteral("%1: %2 (error %3)").arg(file, e.text()).arg(e.number());
    }
    if (!failure.isEmpty()) {
        Console::err(QStringLiteral("%1: %2\n").arg(me, failure));
        return 1;
    }
    Console::out(QStringLiteral("Copied %1 to %2.\n").arg(file, copy));
    if (holdsVotes)
        Console::out(QStringLiteral(
            "The election file already holds votes. This copy shows the ballots cast up to now, and compared\n"
            "with an earlier or later copy it gives back every ballot cast between the two: keep it as secret\n"
            "as the election itself, where only the election's administrators can read it.\n"));
    return 0;
}

} // namespace Commands
