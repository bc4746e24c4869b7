#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

// Where a command finds the election: a file, or a PostgreSQL server named with
// --server CONNINFO (a postgresql:// URI or keyword=value pairs such as
// service=NAME). Passwords come from ~/.pgpass or a service file, never from the
// command line.
namespace Target {

// The --server option, for every command that reads or writes an election.
QCommandLineOption serverOption();

// The --station-role option of the commands that make an election on a server,
// and its value.
QCommandLineOption stationRoleOption();
QString stationRole(const QCommandLineParser &parser);

// The election a command works on: the server given with --server, or else the
// file given (made absolute), or else candpos4.mdb beside the tool.
QString of(const QCommandLineParser &parser, const QString &file);

// Why the command line cannot name an election (FILE and --server both given, or
// a server string with a password in it); empty when it can.
QString check(const QCommandLineParser &parser, const QString &file);

bool isServer(const QString &target);

// Why a target cannot be used (a server string with a password in it, or one
// that is not understood); empty when it can.
QString refusal(const QString &target);

// The target as messages name it.
QString describe(const QString &target);

// Copies a whole election, as one consistent moment of it, from one target to
// another that holds no election: a new file, or a server database without the
// election's tables. A file is written beside its place under a passing name and
// put in place only when whole, never over anything that is there by then.
// Reports on the console as the command me; returns the exit status.
int copyElection(const QString &me, const QString &from, const QString &to, const QString &stationRole);

} // namespace Target
