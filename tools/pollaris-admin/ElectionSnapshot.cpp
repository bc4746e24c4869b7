#include "ElectionSnapshot.h"
#include "Console.h"
#include "Target.h"

#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QObject>
#include <limits>

namespace {

struct Candidate {
    QString posKey;
    QString name;
    int tallyRows = 0;
};

QString describe(const QString &candId, const Candidate &c)
{
    return QStringLiteral("candidate '%1' (%2)").arg(candId, c.name);
}

// A tally counts only when it is a whole number the tally field can hold; a text
// such as '9' is no number, whatever it looks like.
qint64 wholeVotes(const QVariant &value, const QString &candId, const Candidate &c)
{
    QString what;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short: {
        const qint64 v = value.toLongLong();
        if (v >= std::numeric_limits<qint32>::min() && v <= std::numeric_limits<qint32>::max())
            return v;
        throw DamagedElection(
            QStringLiteral("the tally of %1 is %2, beyond what a tally can hold").arg(describe(candId, c)).arg(v));
    }
    case QMetaType::UnknownType: what = QStringLiteral("empty"); break;
    case QMetaType::QString: what = QStringLiteral("the text '%1'").arg(value.toString()); break;
    default: what = value.isNull() ? QStringLiteral("empty") : QStringLiteral("the number %1").arg(value.toString());
    }
    throw DamagedElection(
        QStringLiteral("the tally of %1 is %2, not a whole number of votes").arg(describe(candId, c), what));
}

} // namespace

bool PositionCount::tiedAtTop() const
{
    return ranked.size() >= 2 && ranked.at(0).votes > 0 && ranked.at(1).votes == ranked.at(0).votes;
}

bool ElectionSnapshot::nothingCast() const
{
    if (loggedIn != 0)
        return false;
    for (const PositionCount &p : positions)
        for (const CandidateCount &c : p.ranked)
            if (c.votes != 0)
                return false;
    return true;
}

ElectionSnapshot ElectionSnapshot::read(const QString &file, bool withHash)
{
    ElectionSnapshot snap;
    // A server's election has no bytes of its own to hash: it is named instead.
    snap.onServer = store::Connection::isServer(file);
    snap.file = snap.onServer ? file : QFileInfo(file).absoluteFilePath();
    withHash = withHash && !snap.onServer;

    QObject owner;
    store::RecordCursor dcPos(QStringLiteral("dcPos"), QStringLiteral("Positions"), &owner);
    store::RecordCursor dcCandInfo(QStringLiteral("dcCandInfo"), QStringLiteral("CandInfo"), &owner);
    store::RecordCursor dcCandVote(QStringLiteral("dcCandVote"), QStringLiteral("CandVote"), &owner);
    store::RecordCursor dcUser(QStringLiteral("dcUser"), QStringLiteral("Users"), &owner);
    for (store::RecordCursor *c : {&dcPos, &dcCandInfo, &dcCandVote, &dcUser})
        c->setDatabaseName(file);

    // The bytes are hashed through a handle opened before the snapshot and closed
    // after it: closing another handle on the file while the engine holds its
    // locks would release them, and a vote could slip in between count and hash.
    QFile bytes(file);
    if (withHash && !bytes.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("cannot read %1: %2").arg(file, bytes.errorString()).toStdString());
    // The counts of failed log-ins, kept apart from the ballot: an election made
    // before they were kept has no table of them until a log-in fails.
    store::RecordCursor dcCounts(QStringLiteral("dcCounts"), QStringLiteral("pollaris_counts"), &owner);
    dcCounts.setDatabaseName(file);
    try {
        for (dcCounts.Refresh(); !dcCounts.EOF_(); dcCounts.MoveNext()) {
            const QString what = dcCounts.FieldText(QStringLiteral("what"));
            const qint64 n = dcCounts.Field(QStringLiteral("count")).toLongLong();
            if (what == QLatin1String("administrator log-ins failed"))
                snap.failedAdminLogIns = n;
            else if (what == QLatin1String("voter log-ins failed"))
                snap.failedVoterLogIns = n;
        }
    } catch (const store::StoreError &e) {
        if (!store::isMissingTable(e))
            throw;
    }

    // The election's own record, apart from the count too (a file gains it with its
    // first entry).
    store::RecordCursor dcLog(QStringLiteral("dcLog"), QStringLiteral("Select * from pollaris_log"), &owner);
    dcLog.setDatabaseName(file);
    try {
        for (dcLog.Refresh(); !dcLog.EOF_(); dcLog.MoveNext())
            snap.record.push_back({dcLog.Field(QStringLiteral("seq")).toLongLong(),
                                   dcLog.FieldText(QStringLiteral("at")), dcLog.FieldText(QStringLiteral("station")),
                                   dcLog.FieldText(QStringLiteral("what"))});
        snap.hasRecord = true;
    } catch (const store::StoreError &e) {
        if (!store::isMissingTable(e))
            throw;
    }

    // Every read below sees the file as it is now; no vote is written meanwhile.
    store::Transaction snapshot(dcPos.connection());

    dcUser.setRecordSource(QStringLiteral("Select * From Users"));
    dcUser.Refresh();
    for (; !dcUser.EOF_(); dcUser.MoveNext()) {
        ++snap.accounts;
        if (dcUser.Field(QStringLiteral("HasVoted")).toBool())
            ++snap.loggedIn;
    }

    // The ballot's positions; a candidate belongs to every position whose code
    // equals its own by the store's text equality, as the results screen asks.
    QHash<QString, bool> positionKeys;
    dcPos.setRecordSource(QStringLiteral("Select * from Positions"));
    dcPos.Refresh();
    for (; !dcPos.EOF_(); dcPos.MoveNext()) {
        PositionCount p;
        p.posId = dcPos.FieldText(QStringLiteral("PosID"));
        p.name = dcPos.FieldText(QStringLiteral("PosName"));
        positionKeys.insert(store::TextKey(p.posId), true);
        snap.positions.push_back(p);
    }

    QHash<QString, Candidate> candidates;
    QStringList candidateOrder;
    dcCandInfo.setRecordSource(QStringLiteral("Select * from CandInfo"));
    dcCandInfo.Refresh();
    for (; !dcCandInfo.EOF_(); dcCandInfo.MoveNext()) {
        if (dcCandInfo.Field(QStringLiteral("PosID")).isNull())
            continue;
        Candidate c{store::TextKey(dcCandInfo.FieldText(QStringLiteral("PosID"))),
                    dcCandInfo.FieldText(QStringLiteral("CandName")), 0};
        if (!positionKeys.contains(c.posKey))
            continue; // on no ballot: nobody can vote for it, nothing shows it
        const QString candId = dcCandInfo.FieldText(QStringLiteral("CandID"));
        if (candId.isEmpty())
            throw DamagedElection(QStringLiteral("candidate '%1' has no code and so no tally").arg(c.name));
        if (const auto it = candidates.constFind(candId); it != candidates.constEnd())
            throw DamagedElection(
                QStringLiteral("two candidates have the code '%1': %2 and %3").arg(candId, it->name, c.name));
        candidates.insert(candId, c);
        candidateOrder << candId;
    }

    // Every tally, most votes first, in the results screen's order; each pairs with
    // the candidate of exactly the same code. Tallies of no candidate are ignored.
    QHash<QString, QVector<CandidateCount>> rankedByPosition;
    dcCandVote.setRecordSource(QStringLiteral("Select * From CandVote Order by Numvotes Desc"));
    dcCandVote.Refresh();
    for (; !dcCandVote.EOF_(); dcCandVote.MoveNext()) {
        const QString candId = dcCandVote.FieldText(QStringLiteral("CandID"));
        auto it = candidates.find(candId);
        if (it == candidates.end())
            continue;
        ++it->tallyRows;
        const qint64 votes = wholeVotes(dcCandVote.Field(QStringLiteral("Numvotes")), candId, *it);
        rankedByPosition[it->posKey].push_back({candId, it->name, votes});
    }
    for (const QString &candId : candidateOrder) {
        const Candidate &c = candidates[candId];
        if (c.tallyRows == 0)
            throw DamagedElection(QStringLiteral("%1 has no tally").arg(describe(candId, c)));
        if (c.tallyRows > 1)
            throw DamagedElection(QStringLiteral("%1 has %2 tallies").arg(describe(candId, c)).arg(c.tallyRows));
    }

    QStringList counted{QStringLiteral("accounts %1, logged in %2").arg(snap.accounts).arg(snap.loggedIn)};
    for (PositionCount &p : snap.positions) {
        p.ranked = rankedByPosition.value(store::TextKey(p.posId));
        counted << QStringLiteral("position %1 %2").arg(p.posId, p.name);
        for (const CandidateCount &c : p.ranked) {
            p.total += c.votes;
            counted << QStringLiteral("candidate %1 %2 %3").arg(c.candId, c.name).arg(c.votes);
        }
        p.noVote = snap.loggedIn - p.total;
    }
    snap.digest =
        QCryptographicHash::hash(counted.join(QLatin1Char('\n')).toUtf8(), QCryptographicHash::Sha256).toHex();

    if (withHash) {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (!hash.addData(&bytes))
            throw std::runtime_error(QStringLiteral("cannot read %1: %2").arg(file, bytes.errorString()).toStdString());
        snap.sha256 = hash.result().toHex();
    }
    return snap;
}

std::optional<ElectionSnapshot> ElectionSnapshot::readOrReport(const QString &me, const QString &file, bool withHash)
{
    const QString what = Target::describe(file);
    try {
        return read(file, withHash);
    } catch (const DamagedElection &e) {
        Console::err(QStringLiteral("%1: %2 is damaged and was not counted: %3\n").arg(me, what, e.message()));
    } catch (const store::StoreError &e) {
        Console::err(QStringLiteral("%1: %2: %3 (error %4)\n").arg(me, what, e.text()).arg(e.number()));
    } catch (const std::runtime_error &e) {
        Console::err(QStringLiteral("%1: %2: %3\n").arg(me, what, QString::fromStdString(e.what())));
    }
    return std::nullopt;
}
