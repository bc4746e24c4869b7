#pragma once

#include <QString>
#include <memory>

namespace store {

class Connection;

// Creates a new election file with its five tables and a first administrator
// account. Refuses to touch a file that already exists. With demo set, also fills
// a small sample election so that both roads of the program can be tried at once.
void createElectionFile(const QString &path, const QString &adminName, const QString &adminPassword, bool demo);
// The role a server gives the polling stations unless told otherwise.
inline const char *const kDefaultStationRole = "pollaris_station";
// The same at any target: a new file, or an empty database on a server (one that
// holds any of the election's tables is refused). On a server, the account that
// makes it owns it (the administrators' role), and the stations' role, made if
// missing, gets a polling station's rights on it.
void createElection(const QString &target, const QString &adminName, const QString &adminPassword, bool demo,
                    const QString &stationRole = QString::fromLatin1(kDefaultStationRole));
// Creates the five tables, and nothing else of the election's data, inside a unit
// of writes left open for the caller to fill and commit. A new file is left
// behind when the caller fails; a server's database is left empty.
std::shared_ptr<Connection> beginNewElection(const QString &target,
                                             const QString &stationRole = QString::fromLatin1(kDefaultStationRole));

// The table definitions of an election file, as plain SQL the stock sqlite3
// shell understands.
// The user names and passwords of the sample voters, for the newcomer.
QString demoVoterList();

extern const char *const kElectionSchema;

} // namespace store
