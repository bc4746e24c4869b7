#include "Commands.h"
#include "Console.h"
#include "Target.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QHash>
#include <QObject>
#include <QVector>

namespace Commands {

namespace {

struct Tally {
    QString candId;
    qint64 votes;
};

// One line of the results screen: the name, a filler of dashes that pads the
// line towards 70 characters less the tally, then the tally with its sign place
// (a space for zero or more). Computed in 64 bits so that no tally overflows.
QString resultLine(const QString &name, qint64 votes)
{
    const qint64 filler = 70 - qint64(name.size()) - votes;
    QString line = name;
    if (filler >= 1)
        line += QString(qsizetype(filler), QLatin1Char('-'));
    line += votes >= 0 ? QStringLiteral(" %1").arg(votes) : QString::number(votes);
    return line;
}

// RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes doubled.
QString csvField(const QString &value)
{
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"')) && !value.contains(QLatin1Char('\n')) &&
        !value.contains(QLatin1Char('\r')))
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString csvRow(const QStringList &fields)
{
    QStringList out;
    for (const QString &f : fields)
        out << csvField(f);
    return out.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

} // namespace

int runResults(const QStringList &args)
{
    const QString me = QStringLiteral("pollaris-admin results");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Print the ranked results of every position, most votes first, each line as the\n"
                       "results screen shows it. The file is only read."));
    parser.addHelpOption();
    QCommandLineOption csvOption(QStringLiteral("csv"),
                                 QStringLiteral("Print CSV instead: one row per candidate (position code, position "
                                                "name, candidate code, name, votes) after a header row."));
    parser.addOptions({csvOption, Target::serverOption()});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The election file (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (!parser.parse(args)) {
        Console::err(QStringLiteral("%1: %2\n").arg(me, parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        Console::out(parser.helpText().replace(QStringLiteral("pollaris-admin [options]"),
                                               QStringLiteral("pollaris-admin results [options]")));
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        Console::err(QStringLiteral("%1: too many arguments\n").arg(me));
        return 2;
    }
    const QString file = Target::of(parser, positional.value(0));
    if (const QString why = Target::check(parser, positional.value(0)); !why.isEmpty()) {
        Console::err(QStringLiteral("%1: %2\n").arg(me, why));
        return 2;
    }
    if (!Target::isServer(file) && !QFileInfo(file).isFile()) {
        Console::err(QStringLiteral("%1: no election file %2\n").arg(me, file));
        return 1;
    }
    const bool asCsv = parser.isSet(csvOption);

    QString text;
    try {
        QObject owner;
        store::RecordCursor dcPos(QStringLiteral("dcPos"), QStringLiteral("Positions"), &owner);
        store::RecordCursor dcCandInfo(QStringLiteral("dcCandInfo"), QStringLiteral("CandInfo"), &owner);
        store::RecordCursor dcCandVote(QStringLiteral("dcCandVote"), QStringLiteral("CandVote"), &owner);
        for (store::RecordCursor *c : {&dcPos, &dcCandInfo, &dcCandVote})
            c->setDatabaseName(file);

        // Every tally once, most votes first, ties in the order they were added.
        QVector<Tally> tallies;
        dcCandVote.setRecordSource(QStringLiteral("Select * From CandVote Order by Numvotes Desc"));
        dcCandVote.Refresh();
        while (!dcCandVote.EOF_()) {
            const QVariant votes = dcCandVote.Field(QStringLiteral("Numvotes"));
            const QString candId = dcCandVote.FieldText(QStringLiteral("CandID"));
            // A tally without a value is no number at all: say so rather than print 0.
            if (votes.isNull()) {
                Console::err(QStringLiteral("%1: the tally of candidate '%2' has no value\n").arg(me, candId));
                return 1;
            }
            tallies.push_back({candId, votes.toLongLong()});
            dcCandVote.MoveNext();
        }

        if (asCsv)
            text += csvRow({QStringLiteral("PosID"), QStringLiteral("PosName"), QStringLiteral("CandID"),
                            QStringLiteral("CandName"), QStringLiteral("NumVotes")});
        dcPos.setRecordSource(QStringLiteral("Select * from Positions"));
        dcPos.Refresh();
        bool first = true;
        while (!dcPos.EOF_()) {
            const QString posId = dcPos.FieldText(QStringLiteral("PosID"));
            const QString posName = dcPos.FieldText(QStringLiteral("PosName"));
            // The position's candidates by their exact code; the first row of a
            // code wins, as in the results screen.
            QHash<QString, QString> names;
            dcCandInfo.setRecordSource(QStringLiteral("Select * From CandInfo Where PosID ='") + posId +
                                       QStringLiteral("'"));
            dcCandInfo.Refresh();
            while (!dcCandInfo.EOF_()) {
                const QString candId = dcCandInfo.FieldText(QStringLiteral("CandID"));
                if (!candId.isEmpty() && !names.contains(candId))
                    names.insert(candId, dcCandInfo.FieldText(QStringLiteral("CandName")));
                dcCandInfo.MoveNext();
            }
            if (!asCsv) {
                if (!first)
                    text += QLatin1Char('\n');
                text += posName + QLatin1Char('\n');
            }
            first = false;
            for (const Tally &t : tallies) {
                const auto it = names.constFind(t.candId);
                if (it == names.constEnd())
                    continue;
                if (asCsv)
                    text += csvRow({posId, posName, t.candId, it.value(), QString::number(t.votes)});
                else
                    text += resultLine(it.value(), t.votes) + QLatin1Char('\n');
            }
            dcPos.MoveNext();
        }
    } catch (const store::StoreError &e) {
        Console::err(QStringLiteral("%1: %2 (error %3)\n").arg(me, e.text()).arg(e.number()));
        return 1;
    }
    Console::out(text);
    return 0;
}

} // namespace Commands
