// The state of the election on election day: how many accounts have logged in
// and how many votes each position has received so far. It shows no candidate's
// count and nothing about any single voter.

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
#include <unistd.h>

namespace Commands {

namespace {

QString count(qint64 n) { return QLocale(QLocale::English, QLocale::UnitedStates).toString(n); }

QString percent(qint64 part, qint64 whole)
{
    return whole > 0 ? QStringLiteral(" (%1%)").arg(100.0 * double(part) / double(whole), 0, 'f', 1) : QString();
}

QString statusBlock(const ElectionSnapshot &e)
{
    QString text = (e.onServer ? QStringLiteral("Election server: %1\nAt: %2\n\n")
                               : QStringLiteral("Election file: %1\nAt: %2\n\n"))
                       .arg(e.file, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
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
                       "voter is shown. The file is only read."));
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
        QString text = statusBlock(*election);
        if (inPlace)
            text = QStringLiteral("\033[H\033[2J") + text; // home, then clear the screen
        else if (!first)
            text = QLatin1Char('\n') + text;
        Console::out(text);
        std::fflush(stdout);
        if (seconds == 0)
            return 0;
        QThread::sleep(seconds);
    }
}

} // namespace Commands
