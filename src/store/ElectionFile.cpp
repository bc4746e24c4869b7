#include "ElectionFile.h"

#include "Connection.h"
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

void insert(sqlite3 *db, const char *sql, std::initializer_list<QString> values)
{
    sqlite3_stmt *stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    int index = 1;
    for (const QString &v : values) {
        QByteArray text = v.toUtf8();
        if (rc == SQLITE_OK)
            rc = sqlite3_bind_text(stmt, index++, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
    if (rc == SQLITE_OK)
        rc = sqlite3_step(stmt) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_OK)
        throw StoreError(rc, QString::fromUtf8(sqlite3_errmsg(db)));
}

} // namespace

QString demoVoterList()
{
    QStringList lines;
    for (const auto &v : kDemoVoters)
        lines << QStringLiteral("%1 / %2").arg(QString::fromUtf8(v.username), QString::fromUtf8(v.password));
    return lines.join(QStringLiteral(", "));
}

void createElectionFile(const QString &path, const QString &adminName, const QString &adminPassword, bool demo)
{
    if (QFileInfo::exists(path))
        throw StoreError(SQLITE_CANTOPEN, QStringLiteral("The file already exists: %1").arg(path));

    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    auto close = [&] { sqlite3_close_v2(db); };
    // The file SQLite made, at the end of any links in the path: a failure
    // removes that file, never a link that leads to it.
    QString created;
    try {
        if (rc != SQLITE_OK)
            throw StoreError(rc, QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
        created = QString::fromUtf8(sqlite3_db_filename(db, "main"));
        // It holds the voters' passwords: for its owner and group only (the
        // group that runs the election), before anything is written; its
        // journal takes the same mode.
        if (::chmod(sqlite3_db_filename(db, "main"), 0660) != 0)
            throw StoreError(SQLITE_CANTOPEN,
                             QString::fromLocal8Bit(std::strerror(errno)) + QStringLiteral(": ") + path);
        auto exec = [&](const char *sql) {
            if (int r = sqlite3_exec(db, sql, nullptr, nullptr, nullptr); r != SQLITE_OK)
                throw StoreError(r, QString::fromUtf8(sqlite3_errmsg(db)));
        };
        exec("PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL; BEGIN");
        exec(kElectionSchema);
        insert(db, "INSERT INTO Administrators (AdminUsername, AdminPassword) VALUES (?, ?)",
               {adminName, adminPassword});
        if (demo) {
            for (const auto &p : kDemoPositions)
                insert(db, "INSERT INTO Positions (PosID, PosName) VALUES (?, ?)",
                       {QString::fromUtf8(p.id), QString::fromUtf8(p.name)});
            for (const auto &c : kDemoCandidates) {
                insert(db, "INSERT INTO CandInfo (CandID, CandName, StudentNum, PosID) VALUES (?, ?, ?, ?)",
                       {QString::fromUtf8(c.id), QString::fromUtf8(c.name), QString::fromUtf8(c.studentNum),
                        QString::fromUtf8(c.posId)});
                insert(db, "INSERT INTO CandVote (CandID, NumVotes) VALUES (?, 0)", {QString::fromUtf8(c.id)});
            }
            for (const auto &v : kDemoVoters)
                insert(db, "INSERT INTO Users (Name, Username, Password, HasVoted) VALUES (?, ?, ?, 0)",
                       {QString::fromUtf8(v.name), QString::fromUtf8(v.username), QString::fromUtf8(v.password)});
        }
        exec("COMMIT");
        close();
    } catch (...) {
        close();
        if (!created.isEmpty())
            QFile::remove(created);
        throw;
    }
}

} // namespace store
