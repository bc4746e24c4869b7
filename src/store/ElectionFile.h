#pragma once

#include <QString>

namespace store {

// Creates a new election file with its five tables and a first administrator
// account. Refuses to touch a file that already exists. With demo set, also fills
// a small sample election so that both roads of the program can be tried at once.
void createElectionFile(const QString &path, const QString &adminName, const QString &adminPassword, bool demo);

// The table definitions of an election file, as plain SQL the stock sqlite3
// shell understands.
// The user names and passwords of the sample voters, for the newcomer.
QString demoVoterList();

extern const char *const kElectionSchema;

} // namespace store
