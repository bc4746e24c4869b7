// pollaris-admin: the administrator's companion to Pollaris. It prepares and
// reads election files; the program itself never creates one.

#include "Commands.h"
#include "Console.h"
#include "store/Connection.h"
#include "store/PgConnection.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

struct Command {
    const char *name;
    const char *summary;
    int (*run)(const QStringList &args);
};

const Command kCommands[] = {
    {"new", "create a new election file", Commands::runNew},
    {"import-voters", "register the voters listed in a CSV file", Commands::runImportVoters},
    {"import-ballot", "add the positions and candidates listed in a CSV file", Commands::runImportBallot},
    {"slips", "print each voter's user name and password on a slip (PDF)", Commands::runSlips},
    {"results", "print the ranked results of every position", Commands::runResults},
    {"backup", "write a consistent copy of the election file", Commands::runBackup},
    {"copy", "copy a whole election between a file and a server", Commands::runCopy},
    {"report", "write the results report (or the zero report) as a PDF", Commands::runReport},
    {"status", "show the turnout and the votes cast so far", Commands::runStatus},
    {"log", "print (or verify) the election's own record", Commands::runLog},
};

// The list of commands: on standard output when asked for, on standard error
// when the command line was not understood.
void usage(bool asked)
{
    QString text = QStringLiteral("Usage: pollaris-admin COMMAND [OPTIONS] [FILE]\n"
                                  "       pollaris-admin --help | --version\n\n"
                                  "The administrator's companion to Pollaris.\n\nCommands:\n");
    for (const auto &c : kCommands)
        text += QStringLiteral("  %1  %2\n").arg(QString::fromLatin1(c.name), -14).arg(QString::fromLatin1(c.summary));
    text += QStringLiteral("\nFILE is the election file, by default candpos4.mdb beside this tool.\n"
                           "Run 'pollaris-admin COMMAND --help' for the options of a command.\n");
    if (asked)
        Console::out(text);
    else
        Console::err(text);
}

} // namespace

int main(int argc, char **argv)
{
    const auto app = Commands::makeApplication(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pollaris-admin"));
    // The tool's units are the longest (a whole register imported, an election
    // copied): it waits longer for the stations than they wait for one another, and
    // a server lets its session think longer inside a unit.
    store::Connection::setLockWaitMs(30000);
    store::PgConnection::setIdleInUnitMs(60000);
    QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        usage(false);
        return 2;
    }
    const QString name = args.at(1);
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help")) {
        usage(true);
        return 0;
    }
    if (name == QLatin1String("--version")) {
        Console::out(QStringLiteral("pollaris-admin %1\n").arg(QStringLiteral(POLLARIS_VERSION)));
        return 0;
    }
    for (const auto &c : kCommands) {
        if (name == QLatin1String(c.name)) {
            args.removeAt(1);
            return c.run(args);
        }
    }
    Console::err(QStringLiteral("pollaris-admin: unknown command '%1'\n").arg(name));
    Console::err(QStringLiteral("Run 'pollaris-admin --help' for the list of commands.\n"));
    return 2;
}
