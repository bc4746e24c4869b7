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
        const ElectionSnapshot election = ElectionSnapshot::read(file, false);
        if (asCsv)
            text += Csv::row({QStringLiteral("PosID"), QStringLiteral("PosName"), QStringLiteral("CandID"),
                              QStringLiteral("CandName"), QStringLiteral("NumVotes")});
        bool first = true;
        for (const PositionCount &position : election.positions) {
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
    } catch (const DamagedElection &e) {
        Console::err(
            QStringLiteral("%1: %2 is damaged and was not counted: %3\n").arg(me, Target::describe(file), e.message()));
        return 1;
    } catch (const store::StoreError &e) {
        Console::err(
            QStringLiteral("%1: %2: %3 (error %4)\n").arg(me, Target::describe(file), e.text()).arg(e.number()));
        return 1;
    } catch (const std::runtime_error &e) {
        Console::err(QStringLiteral("%1: %2: %3\n").arg(me, Target::describe(file), QString::fromStdString(e.what())));
        return 1;
    }
    Console::out(text);
    return 0;
}

} // namespace Commands
