#include "ElectionFile.h"

#include "Connection.h"
#include "PgConnection.h"
#include "SqliteConnection.h"
#include "StoreError.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <sqlite3.h>
#include <sys/stat.h>

namespace store {

const char *const kElectionSchema = R"sql(
CREATE TABLE Positions (
    PosID   TEXT,
    PosName TEXT
);
CREATE TABLE CandInfo (
    CandID     TEXT,
    CandName   TEXT,
    StudentNum TEXT,
    PosID      TEXT
);
CREATE TABLE CandVote (
    CandID   TEXT,
    NumVotes INTEGER CHECK (NumVotes BETWEEN -2147483648 AND 2147483647)
);
-- The results read every tally, most votes first: kept in that order, with the
-- code beside it, the ranking of 100,000 tallies is read instead of sorted.
CREATE INDEX CandVoteRank ON CandVote (NumVotes DESC, CandID);
CREATE TABLE Users (
    Name     TEXT,
    Username TEXT,
    Password TEXT,
    HasVoted INTEGER
);
CREATE TABLE Administrators (
    AdminUsername TEXT,
    AdminPassword TEXT
);
)sql";

namespace {

struct DemoPosition {
    const char *id;
    const char *name;
};
struct DemoCandidate {
    const char *id;
    const char *name;
    const char *studentNum;
    const char *posId;
};
struct DemoVoter {
    const char *name;
    const char *username;
    const char *password;
};

const DemoPosition kDemoPositions[] = {{"PRES", "President"}, {"VP", "Vice President"}, {"SEC", "Secretary"}};
const DemoCandidate kDemoCandidates[] = {
    {"C001", "Maria Santos", "2023-0141", "PRES"}, {"C002", "John Reyes", "2023-0458", "PRES"},
    {"C003", "Ana Cruz", "2024-0012", "VP"},       {"C004", "Paolo Garcia", "2024-0377", "VP"},
    {"C005", "Liza Mendoza", "2025-0220", "SEC"},  {"C006", "Ramon Dela Rosa", "2025-0315", "SEC"}};
const DemoVoter kDemoVoters[] = {{"Carla Villanueva", "2026001", "vote1"},
                                 {"Daniel Tan", "2026002", "vote2"},
                                 {"Erika Lim", "2026003", "vote3"},
                                 {"Felix Ong", "2026004", "vote4"},
                                 {"Grace Uy", "2026005", "vote5"}};

// The first administrator and, when asked, the sample election, written through
// the engine's own row operations.
void fill(Connection &conn, const QString &adminName, const QString &adminPassword, bool demo)
{
    const auto text = [](const char *s) { return QVariant(QString::fromUtf8(s)); };
    conn.insert(QStringLiteral("Administrators"), {QStringLiteral("AdminUsername"), QStringLiteral("AdminPassword")},
                {adminName, adminPassword});
    if (!demo)
        return;
    for (const auto &p : kDemoPositions)
        conn.insert(QStringLiteral("Positions"), {QStringLiteral("PosID"), QStringLiteral("PosName")},
                    {text(p.id), text(p.name)});
    for (const auto &c : kDemoCandidates) {
        conn.insert(QStringLiteral("CandInfo"),
                    {QStringLiteral("CandID"), QStringLiteral("CandName"), QStringLiteral("StudentNum"),
                     QStringLiteral("PosID")},
                    {text(c.id), text(c.name), text(c.studentNum), text(c.posId)});
        conn.insert(QStringLiteral("CandVote"), {QStringLiteral("CandID"), QStringLiteral("NumVotes")},
                    {text(c.id), 0});
    }
    for (const auto &v : kDemoVoters)
        conn.insert(QStringLiteral("Users"),
                    {QStringLiteral("Name"), QStringLiteral("Username"), QStringLiteral("Password"),
                     QStringLiteral("HasVoted")},
                    {text(v.name), text(v.username), text(v.password), false});
}

} // namespace

QString demoVoterList()
{
    QStringList lines;
    for (const auto &v : kDemoVoters)
        lines << QStringLiteral("%1 / %2").arg(QString::fromUtf8(v.username), QString::fromUtf8(v.password));
    return lines.join(QStringLiteral(", "));
}

std::shared_ptr<Connection> beginNewElection(const QString &target, const QString &stationRole)
{
    if (Connection::isServer(target)) {
        std::shared_ptr<PgConnection> conn = PgConnection::open(target);
        if (conn->holdsElection())
            throw StoreError(ServerFailure, QStringLiteral("42P07: the database already holds an election"));
        conn->begin();
        conn->createSchema(stationRole);
        return conn;
    }
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
        throw StoreError(SQLITE_CANTOPEN, QStringLiteral("The file already exists: %1").arg(target));
    std::shared_ptr<SqliteConnection> conn = SqliteConnection::open(target, true);
    // It holds the voters' passwords: for its owner and group only (the group
    // that runs the election), before anything is written; its journal takes
    // the same mode.
    if (::chmod(QFile::encodeName(target).constData(), 0660) != 0)
        throw StoreError(SQLITE_CANTOPEN, QString::fromLocal8Bit(std::strerror(errno)) + QStringLiteral(": ") + target);
    conn->begin();
    conn->exec(kElectionSchema);
    conn->keepRecord();
    return conn;
}

void createElection(const QString &target, const QString &adminName, const QString &adminPassword, bool demo,
                    const QString &stationRole)
{
    const bool file = !Connection::isServer(target);
    if (file && (QFileInfo::exists(target) || QFileInfo(target).isSymLink()))
        throw StoreError(SQLITE_CANTOPEN, QStringLiteral("The file already exists: %1").arg(target));
    try {
        std::shared_ptr<Connection> conn = beginNewElection(target, stationRole);
        fill(*conn, adminName, adminPassword, demo);
        conn->commit();
    } catch (...) {
        // Nothing stood at the path before: what is there now is this half file.
        if (file)
            QFile::remove(target);
        throw;
    }
}

void createElectionFile(const QString &path, const QString &adminName, const QString &adminPassword, bool demo)
{
    if (Connection::isServer(path))
        throw StoreError(SQLITE_CANTOPEN, QStringLiteral("Not a file name: %1").arg(path));
    createElection(path, adminName, adminPassword, demo);
}

} // namespace store
