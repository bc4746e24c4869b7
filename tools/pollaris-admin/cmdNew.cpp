#include "Commands.h"
#include "Console.h"
#include "NewFile.h"
#include "Target.h"
#include "store/ElectionFile.h"
#include "store/StoreError.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
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
        QStringLiteral("Password of the first administrator (asked without echo when not given). Other users of "
                       "this computer can read it in the list of processes: prefer --password-stdin."),
        QStringLiteral("PASSWORD"));
    QCommandLineOption passwordStdinOption(
        QStringLiteral("password-stdin"),
        QStringLiteral("Read the password of the first administrator as one line from standard input "
                       "(needs --admin)."));
    QCommandLineOption demoOption(QStringLiteral("demo"),
                                  QStringLiteral("Fill a small sample election: positions, candidates and voters."));
    parser.addOptions({adminOption, passwordOption, passwordStdinOption, demoOption, Target::serverOption(),
                       Target::stationRoleOption()});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The file to create (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (const std::optional<int> done = parseCommandLine(parser, args, QStringLiteral("new")))
        return *done;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        Console::err(QStringLiteral("pollaris-admin new: too many arguments\n"));
        return 2;
    }
    QString file = Target::of(parser, positional.value(0));
    if (const QString why = Target::check(parser, positional.value(0)); !why.isEmpty()) {
        Console::err(QStringLiteral("pollaris-admin new: %1\n").arg(why));
        return 2;
    }
    // As installed, the file beside the tool is a link into the election data
    // folder, made by the package where only root may change it: the new file is
    // made at its end. A link named on the command line is refused, as any path
    // that already holds something.
    if (positional.isEmpty() && !Target::isServer(file) && QFileInfo(file).isSymLink())
        file = QFileInfo(file).symLinkTarget();
    if (const QString why = Target::isServer(file) ? QString() : NewFile::refusal(file); !why.isEmpty()) {
        Console::err(QStringLiteral("pollaris-admin new: %1\n").arg(why));
        return 1;
    }

    const bool passwordFromStdin = parser.isSet(passwordStdinOption);
    if (passwordFromStdin && (parser.isSet(passwordOption) || !parser.isSet(adminOption))) {
        Console::err(QStringLiteral("pollaris-admin new: --password-stdin takes the place of --password and needs "
                                    "--admin NAME\n"));
        return 2;
    }
    if (parser.isSet(passwordOption))
        Console::err(QStringLiteral("pollaris-admin new: warning: a password given with --password can be read by "
                                    "other users of this computer in the list of processes; use --password-stdin\n"));

    QString admin = parser.value(adminOption);
    if (!parser.isSet(adminOption) && !Console::prompt(QStringLiteral("Administrator user name: "), admin)) {
        Console::err(
            QStringLiteral("pollaris-admin new: %1: no administrator name given; nothing was created\n").arg(file));
        return 1;
    }
    QString password = parser.value(passwordOption);
    if (passwordFromStdin) {
        if (!Console::readLine(password)) {
            Console::err(QStringLiteral("pollaris-admin new: %1: no password on standard input; nothing was created\n")
                             .arg(file));
            return 1;
        }
    } else if (!parser.isSet(passwordOption)) {
        if (!Console::prompt(QStringLiteral("Administrator password: "), password, true)) {
            Console::err(QStringLiteral("pollaris-admin new: %1: no password given; nothing was created\n").arg(file));
            return 1;
        }
        if (Console::isTerminal()) {
            QString again;
            Console::prompt(QStringLiteral("Repeat the password: "), again, true);
            if (again != password) {
                Console::err(QStringLiteral("pollaris-admin new: %1: the two passwords differ; nothing was created\n")
                                 .arg(file));
                return 1;
            }
        }
    }
    if (admin.isEmpty()) {
        Console::err(
            QStringLiteral("pollaris-admin new: %1: the administrator name must not be empty; nothing was created\n")
                .arg(file));
        return 1;
    }
    if (admin.size() > kMaxAdminText || password.size() > kMaxAdminText) {
        Console::err(
            QStringLiteral("pollaris-admin new: %1: the administrator name and password take at most %2 characters; "
                           "nothing was created\n")
                .arg(file)
                .arg(kMaxAdminText));
        return 1;
    }

    // A file is made whole under a temporary name, then put in place without
    // replacing anything that appeared meanwhile; a server's database is filled
    // in one unit of work.
    QString failure;
    if (Target::isServer(file)) {
        try {
            store::createElection(file, admin, password, parser.isSet(demoOption), Target::stationRole(parser));
        } catch (const store::StoreError &e) {
            failure =
                QStringLiteral("cannot create %1: %2 (error %3)").arg(Target::describe(file), e.text()).arg(e.number());
        }
    } else {
        failure = NewFile::create(file, [&](const QString &partial) {
            QFile::remove(partial); // the file is made afresh by the engine
            try {
                store::createElection(partial, admin, password, parser.isSet(demoOption));
            } catch (const store::StoreError &e) {
                return QStringLiteral("cannot create %1: %2 (error %3)").arg(file, e.text()).arg(e.number());
            }
            return QString();
        });
    }
    if (!failure.isEmpty()) {
        Console::err(QStringLiteral("pollaris-admin new: %1\n").arg(failure));
        return 1;
    }
    Console::out(QStringLiteral("Created %1 with administrator '%2'.\n").arg(Target::describe(file), admin));
    if (parser.isSet(demoOption))
        Console::out(QStringLiteral("Sample election: 3 positions, 6 candidates; voters (user name / password): %1\n")
                         .arg(store::demoVoterList()));
    return 0;
}

} // namespace Commands
