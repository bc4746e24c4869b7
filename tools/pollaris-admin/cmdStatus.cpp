// The state of the election on election day: how many accounts have logged in
// and how many votes each position has received so far. It shows no candidate's
// count and nothing about any single voter. On a server, also which server it
// reached and whether that server has a synchronous standby.

#include "Commands.h"
#include "Console.h"
#include "ElectionSnapshot.h"
#include "Target.h"
#include "store/StoreError.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QThread>
#include <cstdio>
#include <libpq-fe.h>
#include <memory>
#include <unistd.h>

namespace Commands {

namespace {

QString count(qint64 n) { return QLocale(QLocale::English, QLocale::UnitedStates).toString(n); }

QString percent(qint64 part, qint64 whole)
{
    return whole > 0 ? QStringLiteral(" (%1%)").arg(100.0 * double(part) / double(whole), 0, 'f', 1) : QString();
}

// The server a status reached, and what keeps its votes if its computer dies.
struct ServerFacts {
    QString said;    // for the line that names the server
    QString warning; // why the election is, or may soon be, on one computer alone; or empty
};

QString firstLine(const char *text) { return QString::fromUtf8(text).section(QLatin1Char('\n'), 0, 0).simplified(); }

// Asks the server the connection string reaches, as the program reaches it (of the
// servers it names, the one that takes writes, unless it says otherwise), which it
// is and whether it waits for a synchronous standby before it acknowledges a
// COMMIT: pg_stat_replication, whose state of each standby only superusers and
// members of pg_read_all_stats (pg_monitor) may read. What it cannot tell, it says.
ServerFacts serverFacts(const QString &conninfo)
{
    ServerFacts facts;
    const QByteArray info = conninfo.toUtf8();
    const char *keywords[] = {"connect_timeout", "target_session_attrs", "dbname", "fallback_application_name",
                              nullptr};
    const char *values[] = {"5", "read-write", info.constData(), "pollaris-admin", nullptr};
    const std::unique_ptr<PGconn, void (*)(PGconn *)> conn(PQconnectdbParams(keywords, values, 1), PQfinish);
    if (!conn || PQstatus(conn.get()) != CONNECTION_OK) {
        facts.said = QStringLiteral("which server answered could not be asked: %1")
                         .arg(conn ? firstLine(PQerrorMessage(conn.get())) : QStringLiteral("out of memory"));
        return facts;
    }
    const QString reached =
        QStringLiteral("%1 port %2").arg(QString::fromUtf8(PQhost(conn.get())), QString::fromUtf8(PQport(conn.get())));
    const std::unique_ptr<PGresult, void (*)(PGresult *)> r(
        PQexec(conn.get(), "SELECT pg_is_in_recovery(), current_setting('synchronous_standby_names'),"
                           " (SELECT count(*) FROM pg_stat_replication),"
                           " (SELECT count(*) FROM pg_stat_replication WHERE sync_state IS NULL),"
                           " (SELECT string_agg(application_name, ', ' ORDER BY application_name)"
                           "  FROM pg_stat_replication WHERE sync_state IN ('sync', 'quorum')),"
                           " current_user"),
        PQclear);
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1) {
        facts.said = QStringLiteral("reached %1; whether it has a synchronous standby could not be asked: %2")
                         .arg(reached, firstLine(PQresultErrorMessage(r.get())));
        return facts;
    }
    const auto field = [&](int c) { return QString::fromUtf8(PQgetvalue(r.get(), 0, c)); };
    const bool standby = field(0) == QLatin1String("t");
    const QString names = field(1), synchronous = field(4), role = field(5);
    const int senders = field(2).toInt(), hidden = field(3).toInt();
    const QString readme = QStringLiteral("see \"A second server\" in the README");
    if (standby) {
        facts.said = QStringLiteral("reached %1, itself a standby: read-only, it follows another server").arg(reached);
    } else if (!synchronous.isEmpty()) {
        facts.said = QStringLiteral("reached %1; synchronous standby: %2").arg(reached, synchronous);
    } else if (names.isEmpty()) {
        facts.said = QStringLiteral("reached %1; synchronous standby: none").arg(reached);
        facts.warning = QStringLiteral("the election server %1 has no synchronous standby: every vote it acknowledges "
                                       "is on that one computer, and lost if its disk is (%2)")
                            .arg(reached, readme);
    } else if (hidden > 0) {
        facts.said = QStringLiteral("reached %1; synchronous standby: cannot be told, the role %2 may not read the "
                                    "standbys' state (GRANT pg_monitor TO %2 lets it)")
                         .arg(reached, role);
    } else {
        facts.said = QStringLiteral("reached %1; synchronous standby: none connected (%2 standby connections)")
                         .arg(reached)
                         .arg(senders);
        facts.warning = QStringLiteral("the election server %1 waits for a synchronous standby "
                                       "(synchronous_standby_names = '%2') and none is connected: no vote is saved "
                                       "until one is back, or the setting is emptied (%3)")
                            .arg(reached, names, readme);
    }
    return facts;
}

QString statusBlock(const ElectionSnapshot &e, const ServerFacts &server)
{
    const QString at = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QString text = e.onServer ? QStringLiteral("Election server: %1 (%2)\nAt: %3\n\n").arg(e.file, server.said, at)
                              : QStringLiteral("Election file: %1\nAt: %2\n\n").arg(e.file, at);
    const int width = int(count(e.accounts).size());
    text += QStringLiteral("Accounts registered:  %1\n").arg(count(e.accounts), width);
    text += QStringLiteral("Logged in to vote:    %1%2\n")
                .arg(count(e.loggedIn), width)
                .arg(percent(e.loggedIn, e.accounts));
    text += QStringLiteral("Not yet logged in:    %1%2\n")
                .arg(count(e.accounts - e.loggedIn), width)
                .arg(percent(e.accounts - e.loggedIn, e.accounts));
    text += QStringLiteral("Failed log-ins:       %1 administrator, %2 voter\n")
                .arg(count(e.failedAdminLogIns))
                .arg(count(e.failedVoterLogIns));
    text += QStringLiteral("\nVotes cast so far, by position:\n");
    if (e.positions.isEmpty())
        text += QStringLiteral("  (no positions on the ballot)\n");
    int codeWidth = 0;
    for (const PositionCount &p : e.positions)
        codeWidth = std::max(codeWidth, int(p.posId.size()));
    for (const PositionCount &p : e.positions)
        text += QStringLiteral("  %1  %2  %3\n").arg(p.posId, -codeWidth).arg(count(p.total), 9).arg(p.name);
    return text;
}

} // namespace

int runStatus(const QStringList &args)
{
    const QString me = QStringLiteral("pollaris-admin status");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Show how many voter accounts have logged in to vote and how many votes each\n"
                       "position has received so far. No candidate's count and nothing about any single\n"
                       "voter is shown. The file is only read. On a server, also which server answered\n"
                       "and whether it has a synchronous standby, with a warning when it has none."));
    parser.addHelpOption();
    QCommandLineOption watchOption(QStringLiteral("watch"),
                                   QStringLiteral("Show it again every SECONDS (1 to 3600) until interrupted; on a "
                                                  "terminal in place, otherwise as one block after another."),
                                   QStringLiteral("SECONDS"));
    parser.addOptions({watchOption, Target::serverOption()});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The election file (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (const std::optional<int> done = parseCommandLine(parser, args, QStringLiteral("status")))
        return *done;
    int seconds = 0;
    if (parser.isSet(watchOption)) {
        bool ok = false;
        seconds = parser.value(watchOption).toInt(&ok);
        if (!ok || seconds < 1 || seconds > 3600) {
            Console::err(QStringLiteral("%1: --watch takes a number of seconds from 1 to 3600\n").arg(me));
            return 2;
        }
    }
    QString file;
    if (const std::optional<int> wrong = electionToRead(parser, QStringLiteral("status"), file))
        return *wrong;

    const bool inPlace = seconds > 0 && isatty(STDOUT_FILENO);
    for (bool first = true;; first = false) {
        const std::optional<ElectionSnapshot> election = ElectionSnapshot::readOrReport(me, file, false);
        if (!election)
            return 1;
        const ServerFacts server = election->onServer ? serverFacts(file) : ServerFacts();
        QString text = statusBlock(*election, server);
        if (inPlace)
            text = QStringLiteral("\033[H\033[2J") + text; // home, then clear the screen
        else if (!first)
            text = QLatin1Char('\n') + text;
        Console::out(text);
        std::fflush(stdout);
        if (!server.warning.isEmpty())
            Console::err(QStringLiteral("%1: warning: %2\n").arg(me, server.warning));
        if (seconds == 0)
            return 0;
        QThread::sleep(seconds);
    }
}

} // namespace Commands
