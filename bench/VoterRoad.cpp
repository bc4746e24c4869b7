// The voter's road: log-in, the ballot's lists and details, and the vote.

#include "Harness.h"
#include "RawFile.h"

#include "screens/frmVoter.h"
#include "screens/frmVoterLogIn.h"
#include "shell/MessageBox.h"
#include "shell/Shell.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace {

// Accounts taken by the log-in benchmarks, one per admitted log-in, counted from
// the front; the floor's own writes go to accounts counted from the back.
int g_nextVoter = 1;
int g_nextFloorVoter = 0;

void VoterLogIn_cmdOK_Click(benchmark::State &state, bool found)
{
    state.SetLabel(sizeLabel("users", g_size.users));
    useFolder(mainFolder());
    RawFile raw(fileIn(mainFolder()));
    frmVoterLogIn &login = Shell::Show<frmVoterLogIn>();
    // The ballot is made at the first admitted log-in; make it before timing.
    Shell::Show<frmVoter>();
    Shell::Get<frmVoter>().Hide();
    Pair pair;
    for (auto _ : state) {
        const int voter = g_nextVoter;
        REQUIRE(voter < g_size.users - g_nextFloorVoter - 1, "out of fresh voter accounts");
        Shell::Get<frmVoter>().Hide();
        Shell::Show<frmVoterLogIn>();
        login.txtUsername->setText(found ? Synthetic::userName(voter) : QStringLiteral("9999999999"));
        login.txtPassword->setText(Synthetic::password(voter));
        Msg::takeShown();
        settle();
        pair.time(state, [&] { login.cmdOK->click(); });
        if (found) {
            ++g_nextVoter;
            REQUIRE(onlyBox(QStringLiteral("Warning! Users can only login once")), "the voter was not admitted");
            REQUIRE(Shell::Get<frmVoter>().isVisible(), "the ballot is not shown");
        } else {
            REQUIRE(onlyBox(QStringLiteral("Incorrect Username!")), "an unknown user name was not refused");
        }

        const QString floorVoter =
            found ? Synthetic::userName(g_size.users - g_nextFloorVoter++) : QStringLiteral("9999999999");
        pair.floor += seconds([&] {
            raw.run(FloorSql::kUserByName, {floorVoter});
            if (found) {
                raw.run(FloorSql::kSetHasVoted, {1, raw.lastRowid()});
                raw.run(FloorSql::kPositionsAll);
            }
        });
    }
    pair.finish(state);
}

frmVoter &freshBallot()
{
    useFolder(mainFolder());
    frmVoter &ballot = Shell::Show<frmVoter>();
    ballot.MainVoterDataLoad(0);
    Msg::takeShown();
    settle();
    return ballot;
}

void MainVoterDataLoad(benchmark::State &state)
{
    state.SetLabel(sizeLabel("positions", g_size.positions));
    frmVoter &ballot = freshBallot();
    RawFile raw(fileIn(mainFolder()));
    Pair pair;
    for (auto _ : state) {
        pair.time(state, [&] { ballot.MainVoterDataLoad(0); });
        REQUIRE(ballot.cmbbxPosition->count() == g_size.positions, "not every position is listed");
        pair.floor += seconds([&] { raw.run(FloorSql::kPositionsAll); });
    }
    pair.finish(state);
}

// The candidates of position 1 (the large one) or 2 (the small one), and of all.
std::string candidatesLabel(int position)
{
    return sizeLabel("candidates", position == 1 ? g_size.bigPosition : g_size.smallPosition) + "/" +
           sizeLabel("among", g_size.candidates);
}

// Choosing position 1 (the large one) or 2 (the small one) on the ballot.
void Voter_cmbbxPosition_Click(benchmark::State &state, int position)
{
    const int candidates = position == 1 ? g_size.bigPosition : g_size.smallPosition;
    state.SetLabel(candidatesLabel(position));
    frmVoter &ballot = freshBallot();
    RawFile raw(fileIn(mainFolder()));
    const QString code = Synthetic::positionId(position);
    const int index = indexOfCode(ballot.lstPosID, code);
    Pair pair;
    for (auto _ : state) {
        REQUIRE(index >= 0, "the position is not on the ballot");
        ballot.cmbbxPosition->setCurrentIndex(-1);
        settle();
        pair.time(state, [&] { ballot.cmbbxPosition->setCurrentIndex(index); });
        REQUIRE(ballot.lstCandidate->count() == candidates, "the candidates are not all listed");
        pair.floor += seconds([&] { raw.run(FloorSql::kCandidatesOfPosition, {code}); });
    }
    pair.finish(state);
}

// Clicking a candidate of position 1 or 2, in turn near the top and the bottom,
// the list scrolled to it first, untimed, as a user scrolls before clicking.
void Voter_lstCandidate_Click(benchmark::State &state, int position)
{
    state.SetLabel(candidatesLabel(position));
    frmVoter &ballot = freshBallot();
    RawFile raw(fileIn(mainFolder()));
    ballot.cmbbxPosition->setCurrentIndex(indexOfCode(ballot.lstPosID, Synthetic::positionId(position)));
    settle();
    const int count = ballot.lstCandidate->count();
    Pair pair;
    int turn = 0;
    for (auto _ : state) {
        REQUIRE(count > 20, "the position has too few candidates");
        const int row = (turn++ % 2) ? 10 : count - 10;
        ballot.lstCandidate->scrollToItem(ballot.lstCandidate->item(row));
        settle();
        pair.time(state, [&] { ballot.lstCandidate->setCurrentRow(row); });
        const QString code = ballot.lstCandID->item(row)->text();
        REQUIRE(ballot.lstCandID->currentRow() == row && !ballot.lblCandPosition->text().isEmpty(),
                "the candidate's details are not shown");
        pair.floor += seconds([&] {
            raw.run(FloorSql::kCandidateById, {code});
            raw.run(FloorSql::kPositionById, {Synthetic::positionId(position)});
        });
    }
    pair.finish(state);
}

// One vote, on disk when the handler returns; every vote goes to the first
// candidate of the last position still open, and the ballot is reloaded when
// only the two sized positions are left.
void Voter_cmdVote_Click(benchmark::State &state)
{
    state.SetLabel(sizeLabel("tallies", g_size.candidates));
    frmVoter &ballot = freshBallot();
    RawFile raw(fileIn(mainFolder()));
    Pair pair;
    int floorTally = 1000;
    for (auto _ : state) {
        if (ballot.cmbbxPosition->count() <= 2)
            ballot.MainVoterDataLoad(0);
        const int open = ballot.cmbbxPosition->count();
        ballot.cmbbxPosition->setCurrentIndex(open - 1);
        ballot.lstCandidate->setCurrentRow(0);
        REQUIRE(ballot.lstCandID->currentRow() == 0, "no candidate is selected");
        settle();
        pair.time(state, [&] { ballot.cmdVote->click(); });
        REQUIRE(noBox() && ballot.cmbbxPosition->count() == open - 1, "the vote was not taken");
        // The floor votes for candidate 1, whom the ballot above never chooses.
        pair.floor += seconds([&] {
            raw.exec("BEGIN IMMEDIATE");
            raw.run(FloorSql::kTallyById, {Synthetic::candidateId(1)});
            raw.run(FloorSql::kSetTally, {++floorTally, raw.lastRowid()});
            raw.exec("COMMIT");
        });
    }
    pair.finish(state);
    if (state.iterations() > 0)
        state.counters["beyond_floor_ms"] = (pair.action - pair.floor) * 1e3 / double(state.iterations());
}

} // namespace

BENCHMARK_CAPTURE(VoterLogIn_cmdOK_Click, found, true)
    ->Name("frmVoterLogIn::cmdOK_Click/found:1")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(VoterLogIn_cmdOK_Click, unknown, false)
    ->Name("frmVoterLogIn::cmdOK_Click/found:0")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(MainVoterDataLoad)->Name("frmVoter::MainVoterDataLoad")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Voter_cmbbxPosition_Click, small, 2)
    ->Name("frmVoter::cmbbxPosition_Click/small")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Voter_cmbbxPosition_Click, big, 1)
    ->Name("frmVoter::cmbbxPosition_Click/big")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Voter_lstCandidate_Click, small, 2)
    ->Name("frmVoter::lstCandidate_Click/small")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Voter_lstCandidate_Click, big, 1)
    ->Name("frmVoter::lstCandidate_Click/big")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Voter_cmdVote_Click)->Name("frmVoter::cmdVote_Click")->UseManualTime()->Unit(benchmark::kMillisecond);
