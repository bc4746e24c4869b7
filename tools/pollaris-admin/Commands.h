#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QCoreApplication;

// One function per subcommand; each takes the program name followed by the
// subcommand's own arguments and returns the exit status.
namespace Commands {
int runNew(const QStringList &args);
int runImportVoters(const QStringList &args);
int runResults(const QStringList &args);
int runBackup(const QStringList &args);
int runReport(const QStringList &args);
int runStatus(const QStringList &args);
int runCopy(const QStringList &args);

// The application object for the command line: a graphical one, without a
// display, for the commands that draw.
std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv);

// The election file beside the tool, where the program looks for it.
QString defaultElectionFile();
} // namespace Commands
