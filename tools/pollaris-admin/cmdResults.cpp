#include "Commands.h"
#include "Console.h"
#include "Csv.h"
#include "ElectionSnapshot.h"
#include "Target.h"
#include "store/StoreError.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace Commands {

namespace {

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
                                                "name, candidate code, name, votes) after a header row. A text that "
                                                "begins with =, +, -, @, a tab or a carriage return is written with a "
                                                "leading ' so that a spreadsheet shows it as text and never runs it "
                                                "as a formula."));
    parser.addOptions({csvOption, Target::serverOption()});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The election file (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (const std::optional<int> done = parseCommandLine(parser, args, QStringLiteral("results")))
        return *done;
    QString file;
    if (const std::optional<int> wrong = electionToRead(parser, QStringLiteral("results"), file))
        return *wrong;
    const bool asCsv = parser.isSet(csvOption);

    const std::optional<ElectionSnapshot> election = ElectionSnapshot::readOrReport(me, file, false);
    if (!election)
        return 1;
    QString text;
    if (asCsv)
        text += Csv::row({QStringLiteral("PosID"), QStringLiteral("PosName"), QStringLiteral("CandID"),
                          QStringLiteral("CandName"), QStringLiteral("NumVotes")});
    bool first = true;
    for (const PositionCount &position : election->positions) {
        const QString &posId = position.posId;
        const QString &posName = position.name;
        if (!asCsv) {
            if (!first)
                text += QLatin1Char('\n');
            text += posName + QLatin1Char('\n');
        }
        first = false;
        for (const CandidateCount &t : position.ranked) {
            if (asCsv)
                text += Csv::row({Csv::text(posId), Csv::text(posName), Csv::text(t.candId), Csv::text(t.name),
                                  Csv::number(t.votes)});
            else
                text += resultLine(t.name, t.votes) + QLatin1Char('\n');
        }
    }
    Console::out(text);
    return 0;
}

} // namespace Commands
