#pragma once

#include <QString>
#include <memory>

namespace store {

class Connection;

// Creates a new election file with its five tables and a first administrator
// account. Refuses to touch a file that already exists. With demo set, also fills
// a small sample election so that both roads of the program can be tried at once.
void createElectionFile(const QString &path, const QString &adminName, const QString &adminPassword, bool demo);
// The same at any target: a new file, or an empty database on a server (one that
// holds any of the election's tables is refused).
void createElection(const QString &target, const QString &adminName, const QString &adminPassword, bool demo);
// Creates the five tables, and nothing else, inside a unit of writes left open
// for the caller to fill and commit. A new file is left behind when the caller
// fails; a server's database is left empty.
std::shared_ptr<Connection> beginNewElection(const QString &target);

// The table definitions of an election file, as plain SQL the stock sqlite3
// shell understands.
// The user names and passwords of the sample voters, for the newcomer.
QString demoVoterList();

extern const char *const kElectionSchema;

} // namespace store
