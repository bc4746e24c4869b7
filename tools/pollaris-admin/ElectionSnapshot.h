#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <optional>
#include <stdexcept>

// One candidate's count, as the results screen lists it.
struct CandidateCount {
    QString candId;
    QString name;
    qint64 votes = 0;
};

// One position of the ballot with its candidates ranked as on the results
// screen: most votes first, equal tallies in the order the results query gives.
struct PositionCount {
    QString posId;
    QString name;
    QVector<CandidateCount> ranked;
    qint64 total = 0;  // votes cast in this position
    qint64 noVote = 0; // accounts that logged in to vote and cast none here

    // Two or more candidates share the highest tally, and it is not 0.
    bool tiedAtTop() const;
};

// Everything the tool reports about an election, read in one consistent
// snapshot of the file: the positions in the order of the ballot with their
// ranked counts, and the turnout. Nothing about any single voter is kept.
struct ElectionSnapshot {
    QString file;
    bool onServer = false; // file is then the server's connection string
    QByteArray sha256;     // of the file as it was counted; empty unless asked for
    qint64 accounts = 0;   // voter accounts registered
    qint64 loggedIn = 0;   // accounts that have logged in to vote
    // Log-ins the stations refused for a wrong user name or password, as the
    // election counted them (never what was typed); none in an election made
    // before they were counted.
    qint64 failedAdminLogIns = 0, failedVoterLogIns = 0;
    // SHA-256, in hex, of what was counted (the ballot, every tally, the turnout),
    // whichever engine holds it: the same election copied elsewhere gives the same.
    QByteArray digest;
    // The election's own record, in the order it was kept; hasRecord is false for an
    // election that keeps none yet.
    struct RecordEntry {
        qint64 seq;
        QString at, station, what;
    };
    bool hasRecord = false;
    QVector<RecordEntry> record;
    QVector<PositionCount> positions;

    // No account has logged in yet and every tally is 0: the ballot box is empty.
    bool nothingCast() const;

    // Reads the election file. Throws DamagedElection when a tally is not a whole
    // number of votes, or a candidate has no tally or more than one; failures of
    // the engine come as store::StoreError.
    static ElectionSnapshot read(const QString &file, bool withHash);
    // The same for a command: what kept it from being read (a damaged election,
    // a failure of the engine) is reported on the console as the command me says
    // it, and nothing is returned.
    static std::optional<ElectionSnapshot> readOrReport(const QString &me, const QString &file, bool withHash);
};

// A file that cannot be counted; the message names the candidate and the value.
class DamagedElection : public std::runtime_error {
public:
    explicit DamagedElection(const QString &message) : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};
