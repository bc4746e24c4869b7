#pragma once

#include <QString>
#include <QVariant>
#include <initializer_list>

struct sqlite3;
struct pg_conn;

// The floor of an action: the same statements the store runs, straight through
// the SQLite C API on a connection of its own with the same durability (rollback
// journal deleted after each write, every commit synced) and the same page cache.
// Each statement is prepared, stepped to the end with every column of every row
// read, and finalized, as an ad-hoc query must be. Where the store compares texts
// with its own Unicode-aware function, the floor uses the engine's built-in NOCASE.
//
// On a server (pollaris-bench --pollaris_server=CONNINFO) the floor is the same
// statement on a libpq session of its own, the names as the server keeps them and
// the texts compared by the election's own collation.
class RawFile {
public:
    explicit RawFile(const QString &path);
    ~RawFile();
    RawFile(const RawFile &) = delete;
    RawFile &operator=(const RawFile &) = delete;

    // Runs one statement with the given values bound in order; returns the number
    // of rows it gave. The rowid of the first row, if any, is left in lastRowid().
    qint64 run(const char *sql, std::initializer_list<QVariant> values = {});
    void exec(const char *sql);
    qint64 lastRowid() const { return m_firstRowid; }
    // Sum of the bytes read, so that no read can be left out by the compiler.
    qint64 bytesRead() const { return m_bytes; }

private:
    qint64 runOnServer(const char *sql, std::initializer_list<QVariant> values);
    sqlite3 *m_db = nullptr;
    pg_conn *m_pg = nullptr;
    qint64 m_firstRowid = 0;
    qint64 m_bytes = 0;
};

// The statements of the store, as it builds them.
namespace FloorSql {
inline constexpr const char *kUsersAll = "SELECT rowid, * FROM \"Users\" ORDER BY rowid";
inline constexpr const char *kUserByName =
    "SELECT rowid, * FROM \"Users\" WHERE \"Username\" = ?1 COLLATE NOCASE ORDER BY rowid";
inline constexpr const char *kSetHasVoted = "UPDATE \"Users\" SET \"HasVoted\"=?1 WHERE rowid=?2";
inline constexpr const char *kAddUser =
    "INSERT INTO \"Users\" (\"Name\",\"Username\",\"Password\",\"HasVoted\") VALUES (?,?,?,?)";
inline constexpr const char *kPositionsAll = "SELECT rowid, * FROM \"Positions\" ORDER BY rowid";
inline constexpr const char *kPositionById =
    "SELECT rowid, * FROM \"Positions\" WHERE \"PosID\" = ?1 COLLATE NOCASE ORDER BY rowid";
inline constexpr const char *kCandidatesAll = "SELECT rowid, * FROM \"CandInfo\" ORDER BY rowid";
inline constexpr const char *kCandidatesOfPosition =
    "SELECT rowid, * FROM \"CandInfo\" WHERE \"PosID\" = ?1 COLLATE NOCASE ORDER BY rowid";
inline constexpr const char *kCandidateById =
    "SELECT rowid, * FROM \"CandInfo\" WHERE \"CandID\" = ?1 COLLATE NOCASE ORDER BY rowid";
inline constexpr const char *kTallyById =
    "SELECT rowid, * FROM \"CandVote\" WHERE \"CandID\" = ?1 COLLATE NOCASE ORDER BY rowid";
inline constexpr const char *kTalliesAll = "SELECT rowid, * FROM \"CandVote\" ORDER BY rowid";
inline constexpr const char *kSetTally = "UPDATE \"CandVote\" SET \"NumVotes\"=?1 WHERE rowid=?2";
inline constexpr const char *kTalliesRanked = "SELECT rowid, * FROM \"CandVote\" ORDER BY \"NumVotes\" DESC, rowid";
// The cheapest statements that answer the same question as a screen: a count, and
// the ranked tallies of one position through the indexes.
inline constexpr const char *kCountPositions = "SELECT count(*) FROM \"Positions\"";
inline constexpr const char *kCountCandidates = "SELECT count(*) FROM \"CandInfo\"";
inline constexpr const char *kCountUsers = "SELECT count(*) FROM \"Users\"";
inline constexpr const char *kResultsOfPosition =
    "SELECT i.\"CandName\", v.\"NumVotes\" FROM \"CandInfo\" i JOIN \"CandVote\" v ON v.\"CandID\" = i.\"CandID\" "
    "WHERE i.\"PosID\" = ?1 COLLATE NOCASE ORDER BY v.\"NumVotes\" DESC";
} // namespace FloorSql
