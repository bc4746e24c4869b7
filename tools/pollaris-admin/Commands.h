#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QCommandLineParser;
class QCoreApplication;

// One function per subcommand; each takes the program name followed by the
// subcommand's own arguments and returns the exit status.
namespace Commands {
int runNew(const QStringList &args);
int runImportVoters(const QStringList &args);
int runImportBallot(const QStringList &args);
int runSlips(const QStringList &args);
int runResults(const QStringList &args);
int runBackup(const QStringList &args);
int runReport(const QStringList &args);
int runStatus(const QStringList &args);
int runCopy(const QStringList &args);
int runLog(const QStringList &args);

// The application object for the command line: a graphical one, without a
// display, for the commands that draw pages (report, slips).
std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv);

// The election file beside the tool, where the program looks for it.
QString defaultElectionFile();

// How the tool names itself in the election's record: this computer's host name.
QString toolStation();

// Reads the command line of 'pollaris-admin NAME'. A fault in it is reported
// (status 2) and --help prints the command's own help (status 0): the status is
// then returned, and the command ends with it. Nothing means: go on.
std::optional<int> parseCommandLine(QCommandLineParser &parser, const QStringList &args, const QString &name);

// The election a command that reads one works on: its one argument FILE, or the
// server given with --server, or else the file beside the tool. What is wrong
// with it (two of them, a missing file) is reported and the status returned.
std::optional<int> electionToRead(const QCommandLineParser &parser, const QString &name, QString &target);
// The same for an import, whose arguments are CSV [FILE]: the file to import from,
// and the election it goes into.
std::optional<int> electionToImportInto(const QCommandLineParser &parser, const QString &name, QString &csv,
                                        QString &target);
} // namespace Commands
