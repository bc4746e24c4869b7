#include "Commands.h"
#include "Console.h"
#include "Target.h"
#include "store/ElectionFile.h"
#include "store/StoreError.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace Commands {

QString defaultElectionFile() { return QCoreApplication::applicationDirPath() + QStringLiteral("/candpos4.mdb"); }

namespace {
// The administrator log-in takes at most 50 characters in each field: a longer
// name or password could never be typed.
constexpr int kMaxAdminText = 50;
} // namespace

int runNew(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Create a new election file with its five tables and a first administrator account.\n"
                       "An existing file is never overwritten."));
    parser.addHelpOption();
    QCommandLineOption adminOption(QStringLiteral("admin"),
                                   QStringLiteral("User name of the first administrator (asked when not given)."),
                                   QStringLiteral("NAME"));
    QCommandLineOption passwordOption(
        QStringLiteral("password"),
        QStringLiteral("Password of the first administrator (asked without echo when not given)."),
        QStringLiteral("PASSWORD"));
    QCommandLineOption demoOption(QStringLiteral("demo"),
                                  QStringLiteral("Fill a small sample election: positions, candidates and voters."));
    parser.addOptions({adminOption, passwordOption, demoOption, Target::serverOption()});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The file to create (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (!parser.parse(args)) {
        Console::err(QStringLiteral("pollaris-admin new: %1\n").arg(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        Console::out(parser.helpText().replace(QStringLiteral("pollaris-admin [options]"),
                                               QStringLiteral("pollaris-admin new [options]")));
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        Console::err(QStringLiteral("pollaris-admin new: too many arguments\n"));
        return 2;
    }
    const QString file = Target::of(parser, positional.value(0));
    if (const QString why = Target::check(parser, positional.value(0)); !why.isEmpty()) {
        Console::err(QStringLiteral("pollaris-admin new: %1\n").arg(why));
        return 2;
    }
    if (!Target::isServer(file) && QFileInfo::exists(file)) {
        Console::err(QStringLiteral("pollaris-admin new: %1 already exists; it was left untouched\n").arg(file));
        return 1;
    }

    QString admin = parser.value(adminOption);
    if (!parser.isSet(adminOption) && !Console::prompt(QStringLiteral("Administrator user name: "), admin)) {
        Console::err(QStringLiteral("pollaris-admin new: no administrator name given\n"));
        return 1;
    }
    QString password = parser.value(passwordOption);
    if (!parser.isSet(passwordOption)) {
        if (!Console::prompt(QStringLiteral("Administrator password: "), password, true)) {
            Console::err(QStringLiteral("pollaris-admin new: no password given\n"));
            return 1;
        }
        if (Console::isTerminal()) {
            QString again;
            Console::prompt(QStringLiteral("Repeat the password: "), again, true);
            if (again != password) {
                Console::err(QStringLiteral("pollaris-admin new: the two passwords differ\n"));
                return 1;
            }
        }
    }
    if (admin.isEmpty()) {
        Console::err(QStringLiteral("pollaris-admin new: the administrator name must not be empty\n"));
        return 1;
    }
    if (admin.size() > kMaxAdminText || password.size() > kMaxAdminText) {
        Console::err(
            QStringLiteral("pollaris-admin new: the administrator name and password take at most %1 characters\n")
                .arg(kMaxAdminText));
        return 1;
    }

    try {
        store::createElection(file, admin, password, parser.isSet(demoOption));
    } catch (const store::StoreError &e) {
        Console::err(QStringLiteral("pollaris-admin new: cannot create %1: %2 (error %3)\n")
                         .arg(Target::describe(file), e.text())
                         .arg(e.number()));
        return 1;
    }
    Console::out(QStringLiteral("Created %1 with administrator '%2'.\n").arg(Target::describe(file), admin));
    if (parser.isSet(demoOption))
        Console::out(QStringLiteral("Sample election: 3 positions, 6 candidates; voters (user name / password): %1\n")
                         .arg(store::demoVoterList()));
    return 0;
}

} // namespace Commands
