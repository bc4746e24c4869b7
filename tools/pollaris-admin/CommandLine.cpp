#include "Commands.h"
#include "Console.h"
#include "Target.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QSysInfo>

namespace Commands {

std::optional<int> parseCommandLine(QCommandLineParser &parser, const QStringList &args, const QString &name)
{
    const QString me = QStringLiteral("pollaris-admin ") + name;
    if (!parser.parse(args)) {
        Console::err(QStringLiteral("%1: %2\n").arg(me, parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        Console::out(
            parser.helpText().replace(QStringLiteral("pollaris-admin [options]"), me + QStringLiteral(" [options]")));
        return 0;
    }
    return std::nullopt;
}

QString toolStation()
{
    const QString host = QSysInfo::machineHostName();
    return (host.isEmpty() ? QStringLiteral("unnamed computer") : host) + QStringLiteral(" (pollaris-admin)");
}

std::optional<int> electionToRead(const QCommandLineParser &parser, const QString &name, QString &target)
{
    const QString me = QStringLiteral("pollaris-admin ") + name;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        Console::err(QStringLiteral("%1: too many arguments\n").arg(me));
        return 2;
    }
    if (const QString why = Target::check(parser, positional.value(0)); !why.isEmpty()) {
        Console::err(QStringLiteral("%1: %2\n").arg(me, why));
        return 2;
    }
    target = Target::of(parser, positional.value(0));
    if (!Target::isServer(target) && !QFileInfo(target).isFile()) {
        Console::err(QStringLiteral("%1: no election file %2\n").arg(me, target));
        return 1;
    }
    return std::nullopt;
}

std::optional<int> electionToImportInto(const QCommandLineParser &parser, const QString &name, QString &csv,
                                        QString &target)
{
    const QString me = QStringLiteral("pollaris-admin ") + name;
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty() || positional.size() > 2) {
        Console::err(QStringLiteral("%1: expected CSV [FILE]\n").arg(me));
        return 2;
    }
    csv = positional.at(0);
    target = Target::of(parser, positional.value(1));
    if (const QString why = Target::check(parser, positional.value(1)); !why.isEmpty()) {
        Console::err(QStringLiteral("%1: %2\n").arg(me, why));
        return 2;
    }
    if (!Target::isServer(target) && !QFileInfo(target).isFile()) {
        Console::err(
            QStringLiteral("%1: no election file %2 (create one with 'pollaris-admin new')\n").arg(me, target));
        return 1;
    }
    return std::nullopt;
}

} // namespace Commands
