#include "SyntheticElection.h"

#include "store/ElectionFile.h"

#include <sqlite3.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace Synthetic {

QString userName(int i) { return QStringLiteral("2026%1").arg(i, 6, 10, QLatin1Char('0')); }
QString password(int i) { return QStringLiteral("pw%1").arg(i, 6, 10, QLatin1Char('0')); }
QString positionId(int i) { return QStringLiteral("P%1").arg(i, 3, 10, QLatin1Char('0')); }
QString candidateId(int i) { return QStringLiteral("C%1").arg(i, 7, 10, QLatin1Char('0')); }

namespace {

void check(sqlite3 *db, int rc)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(sqlite3_errmsg(db));
}

struct Insert {
    Insert(sqlite3 *db, const char *sql) : db(db) { check(db, sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr)); }
    ~Insert() { sqlite3_finalize(stmt); }
    void text(int index, const QString &value)
    {
        const QByteArray utf8 = value.toUtf8();
        check(db, sqlite3_bind_text(stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT));
    }
    void integer(int index, qint64 value) { check(db, sqlite3_bind_int64(stmt, index, value)); }
    void run()
    {
        check(db, sqlite3_step(stmt));
        sqlite3_reset(stmt);
    }
    sqlite3 *db;
    sqlite3_stmt *stmt = nullptr;
};

} // namespace

void create(const QString &folder, const ElectionSize &size)
{
    const QString path = folder + QStringLiteral("/candpos4.mdb");
    store::createElectionFile(path, QStringLiteral("admin"), QStringLiteral("secret"), false);

    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot open the new election file");
    check(db,
          sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL; BEGIN", nullptr, nullptr, nullptr));
    {
        Insert pos(db, "INSERT INTO Positions (PosID, PosName) VALUES (?, ?)");
        for (int p = 1; p <= size.positions; ++p) {
            pos.text(1, positionId(p));
            pos.text(2, QStringLiteral("Position %1").arg(p));
            pos.run();
        }

        // Which position each candidate runs for: the two sized positions, then the
        // rest round-robin; dealt out in turn so that every position's candidates
        // lie spread over the whole table.
        std::vector<int> remaining(size_t(size.positions) + 1, 0);
        remaining[1] = size.bigPosition;
        if (size.positions >= 2)
            remaining[2] = size.smallPosition;
        int left = size.candidates - size.bigPosition - (size.positions >= 2 ? size.smallPosition : 0);
        for (int p = 3; p <= size.positions && left > 0; ++p) {
            const int share = left / (size.positions - p + 1);
            remaining[size_t(p)] = share;
            left -= share;
        }
        std::vector<int> order;
        order.reserve(size_t(size.candidates));
        for (bool any = true; any;) {
            any = false;
            for (int p = 1; p <= size.positions; ++p)
                if (remaining[size_t(p)] > 0) {
                    --remaining[size_t(p)];
                    order.push_back(p);
                    any = true;
                }
        }

        Insert cand(db, "INSERT INTO CandInfo (CandID, CandName, StudentNum, PosID) VALUES (?, ?, ?, ?)");
        Insert vote(db, "INSERT INTO CandVote (CandID, NumVotes) VALUES (?, ?)");
        quint32 seed = 12345;
        for (size_t c = 0; c < order.size(); ++c) {
            const int id = int(c) + 1;
            cand.text(1, candidateId(id));
            cand.text(2, QStringLiteral("Candidate %1 Dela Cruz").arg(id));
            cand.text(3, QStringLiteral("2025-%1").arg(id, 6, 10, QLatin1Char('0')));
            cand.text(4, positionId(order[c]));
            cand.run();
            seed = seed * 1103515245u + 12345u;
            vote.text(1, candidateId(id));
            vote.integer(2, qint64((seed >> 16) % 1000));
            vote.run();
        }

        Insert user(db, "INSERT INTO Users (Name, Username, Password, HasVoted) VALUES (?, ?, ?, 0)");
        for (int u = 1; u <= size.users; ++u) {
            user.text(1, QStringLiteral("Student %1 Santos").arg(u));
            user.text(2, userName(u));
            user.text(3, password(u));
            user.run();
        }
    }
    check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr));
    sqlite3_close_v2(db);
}

} // namespace Synthetic
