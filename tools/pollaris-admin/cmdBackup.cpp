#include "Commands.h"
#include "Console.h"
#include "Target.h"
#include "store/SqliteConnection.h"
#include "store/StoreError.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <sqlite3.h>

namespace Commands {

namespace {

// How long a backup keeps retrying while the program holds the file for a write.
constexpr int kBusyRetries = 500;
constexpr int kBusyPauseMs = 20;

QString integrityOf(sqlite3 *db)
{
    sqlite3_stmt *stmt = nullptr;
    QString result;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW)
            result += QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
    } else {
        result = QString::fromUtf8(sqlite3_errmsg(db));
    }
    sqlite3_finalize(stmt);
    return result;
}

} // namespace

int runBackup(const QStringList &args)
{
    const QString me = QStringLiteral("pollaris-admin backup");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Write a consistent copy of the election file, safe while the program is running\n"
                       "and votes are being cast. An existing COPY is never overwritten."));
    parser.addHelpOption();
    parser.addOption(Target::serverOption());
    parser.addPositionalArgument(QStringLiteral("COPY"), QStringLiteral("The copy to write; it must not exist yet."));
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The election file (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (!parser.parse(args)) {
        Console::err(QStringLiteral("%1: %2\n").arg(me, parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        Console::out(parser.helpText().replace(QStringLiteral("pollaris-admin [options]"),
                                               QStringLiteral("pollaris-admin backup [options]")));
        return 0;
    }
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
        return Target::copyElection(me, Target::of(parser, QString()), QFileInfo(copy).absoluteFilePath());
    }
    const QString file = positional.size() > 1 ? positional.at(1) : defaultElectionFile();
    if (!QFileInfo(file).isFile()) {
        Console::err(QStringLiteral("%1: no election file %2\n").arg(me, file));
        return 1;
    }
    if (QFileInfo::exists(copy)) {
        Console::err(QStringLiteral("%1: %2 already exists; it was left untouched\n").arg(me, copy));
        return 1;
    }
    if (QFileInfo(copy).absoluteFilePath() == QFileInfo(file).absoluteFilePath()) {
        Console::err(QStringLiteral("%1: the copy must be another file\n").arg(me));
        return 2;
    }

    // The copy is written under a passing name beside its place and renamed
    // only when it is whole and checked, so that a failure leaves no half copy
    // and an existing file is never replaced.
    const QString partial = copy + QStringLiteral(".partial-%1").arg(QCoreApplication::applicationPid());
    sqlite3 *dest = nullptr;
    auto cleanup = qScopeGuard([&] {
        if (dest)
            sqlite3_close_v2(dest);
        QFile::remove(partial);
        QFile::remove(partial + QStringLiteral("-journal"));
    });
    QString failure;
    try {
        std::shared_ptr<store::SqliteConnection> source = store::SqliteConnection::open(file);
        if (QFileInfo::exists(partial)) {
            Console::err(QStringLiteral("%1: %2 is in the way\n").arg(me, partial));
            cleanup.dismiss();
            return 1;
        }
        int rc =
            sqlite3_open_v2(partial.toUtf8().constData(), &dest, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (rc != SQLITE_OK) {
            failure = QString::fromUtf8(dest ? sqlite3_errmsg(dest) : sqlite3_errstr(rc));
        } else if (sqlite3_backup *backup = sqlite3_backup_init(dest, "main", source->handle(), "main")) {
            // All pages in one step: the source is read under one shared lock, so
            // the copy is one moment of the file even while votes are written.
            int tries = 0;
            do {
                rc = sqlite3_backup_step(backup, -1);
                if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
                    sqlite3_sleep(kBusyPauseMs);
            } while ((rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && ++tries < kBusyRetries);
            sqlite3_backup_finish(backup);
            rc = rc == SQLITE_DONE ? sqlite3_errcode(dest) : rc;
            if (rc != SQLITE_OK)
                failure = rc == SQLITE_BUSY || rc == SQLITE_LOCKED
                              ? QStringLiteral("the election file stayed locked; try again")
                              : QString::fromUtf8(sqlite3_errstr(rc));
        } else {
            failure = QString::fromUtf8(sqlite3_errmsg(dest));
        }
    } catch (const store::StoreError &e) {
        failure = QStringLiteral("%1 (error %2)").arg(e.text()).arg(e.number());
    }
    if (failure.isEmpty()) {
        const QString check = integrityOf(dest);
        if (check != QLatin1String("ok"))
            failure = QStringLiteral("the copy failed its integrity check: ") + check;
    }
    if (failure.isEmpty() && sqlite3_close_v2(dest) != SQLITE_OK)
        failure = QStringLiteral("cannot close the copy");
    dest = nullptr;
    if (failure.isEmpty() && !QFile::rename(partial, copy))
        failure = QStringLiteral("cannot put the copy at %1").arg(copy);
    if (!failure.isEmpty()) {
        Console::err(QStringLiteral("%1: %2\n").arg(me, failure));
        return 1;
    }
    Console::out(QStringLiteral("Copied %1 to %2.\n").arg(file, copy));
    return 0;
}

} // namespace Commands
