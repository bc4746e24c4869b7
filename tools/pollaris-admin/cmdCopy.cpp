#include "Commands.h"
#include "Console.h"
#include "Target.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace Commands {

int runCopy(const QStringList &args)
{
    const QString me = QStringLiteral("pollaris-admin copy");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Copy a whole election, as one consistent moment of it, between a file and a server,\n"
                       "either way. FROM and TO are each a file or a PostgreSQL connection string\n"
                       "(postgresql://host/election, service=NAME). TO must hold no election: a file\n"
                       "that does not exist yet, or a database without the election's tables."));
    parser.addHelpOption();
    parser.addOption(Target::stationRoleOption());
    parser.addPositionalArgument(QStringLiteral("FROM"), QStringLiteral("The election to copy."));
    parser.addPositionalArgument(QStringLiteral("TO"), QStringLiteral("Where the copy goes."));
    if (const std::optional<int> done = parseCommandLine(parser, args, QStringLiteral("copy")))
        return *done;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2) {
        Console::err(QStringLiteral("%1: expected FROM TO\n").arg(me));
        return 2;
    }
    const auto place = [](const QString &t) { return Target::isServer(t) ? t : QFileInfo(t).absoluteFilePath(); };
    return Target::copyElection(me, place(positional.at(0)), place(positional.at(1)), Target::stationRole(parser));
}

} // namespace Commands
