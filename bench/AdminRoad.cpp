// The administrator's road: the panel's figures, the voter accounts panel and
// its add dialog, the candidates and positions panel, and the results.

#include "Harness.h"
#include "RawFile.h"

#include "screens/frmAddUser.h"
#include "screens/frmAdminStart.h"
#include "screens/frmAdminUsers.h"
#include "screens/frmCountVotes.h"
#include "screens/frmMainAdmin.h"
#include "shell/MessageBox.h"
#include "shell/Shell.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace {

int g_nextNewAccount = 1;

void AdminStartDataLoad(benchmark::State &state)
{
    state.SetLabel(sizeLabel("users", g_size.users));
    useFolder(mainFolder());
    RawFile raw(fileIn(mainFolder()));
    frmAdminStart &panel = Shell::Show<frmAdminStart>();
    settle();
    Pair pair;
    for (auto _ : state) {
        pair.time(state, [&] { panel.AdminStartDataLoad(); });
        REQUIRE(panel.lblUser->text().trimmed().toInt() >= g_size.users, "the voters are not counted");
        pair.floor += seconds([&] {
            raw.run(FloorSql::kCountPositions);
            raw.run(FloorSql::kCountCandidates);
            raw.run(FloorSql::kCountUsers);
        });
    }
    pair.finish(state);
}

frmAdminUsers &usersPanel()
{
    useFolder(mainFolder());
    frmAdminUsers &panel = Shell::Show<frmAdminUsers>();
    panel.AdminUserDataLoad();
    Msg::takeShown();
    settle();
    return panel;
}

void AdminUserDataLoad(benchmark::State &state)
{
    state.SetLabel(sizeLabel("users", g_size.users));
    frmAdminUsers &panel = usersPanel();
    RawFile raw(fileIn(mainFolder()));
    Pair pair;
    for (auto _ : state) {
        pair.time(state, [&] { panel.AdminUserDataLoad(); });
        REQUIRE(panel.lstUser->count() >= g_size.users, "not every account is listed");
        pair.floor += seconds([&] { raw.run(FloorSql::kUsersAll); });
    }
    pair.finish(state);
}

// Picking an account, in turn near the top and near the bottom of the list. As a
// user does, the list is first scrolled to the entry, untimed: the click itself
// is what is timed.
void AdminUsers_lstUser_Click(benchmark::State &state)
{
    state.SetLabel(sizeLabel("users", g_size.users));
    frmAdminUsers &panel = usersPanel();
    RawFile raw(fileIn(mainFolder()));
    const int count = panel.lstUser->count();
    Pair pair;
    int turn = 0;
    for (auto _ : state) {
        const int row = (turn++ % 2) ? 10 : count - 10;
        panel.lstUser->scrollToItem(panel.lstUser->item(row));
        settle();
        pair.time(state, [&] { panel.lstUser->setCurrentRow(row); });
        const QString name = panel.lstUser->item(row)->text();
        REQUIRE(panel.lblStudUsername->text() == name, "the account's details are not shown");
        pair.floor += seconds([&] { raw.run(FloorSql::kUserByName, {name}); });
    }
    pair.finish(state);
}

// OK on the add dialog: a user name already taken, or a new account stored and
// the panel's list rebuilt.
void AddUser_cmdOK_Click(benchmark::State &state, bool duplicate)
{
    state.SetLabel(sizeLabel("users", g_size.users));
    usersPanel();
    RawFile raw(fileIn(mainFolder()));
    frmAddUser &dialog = Shell::Show<frmAddUser>();
    Pair pair;
    for (auto _ : state) {
        const QString id = duplicate ? Synthetic::userName(g_size.users / 2)
                                     : QStringLiteral("N%1").arg(g_nextNewAccount++, 7, 10, QLatin1Char('0'));
        Shell::Get<frmAdminUsers>().Hide();
        Shell::Show<frmAddUser>();
        dialog.txtName->setText(QStringLiteral("New Student Reyes"));
        dialog.txtStudentID->setText(id);
        dialog.txtPassword->setText(QStringLiteral("secret99"));
        Msg::takeShown();
        settle();
        pair.time(state, [&] { dialog.cmdOK->click(); });
        if (duplicate) {
            REQUIRE(onlyBox(QStringLiteral("Duplicate User Account Found!")), "the duplicate was not refused");
        } else {
            REQUIRE(noBox() && Shell::Get<frmAdminUsers>().isVisible(), "the account was not added");
        }
        const QString floorId = duplicate ? id : QStringLiteral("F%1").arg(g_nextNewAccount, 7, 10, QLatin1Char('0'));
        pair.floor += seconds([&] {
            if (raw.run(FloorSql::kUserByName, {floorId}) == 0) {
                raw.run(FloorSql::kAddUser,
                        {QStringLiteral("New Student Reyes"), floorId, QStringLiteral("secret99"), 0});
                raw.run(FloorSql::kUsersAll);
            }
        });
    }
    pair.finish(state);
}

void MainAdminDataLoad(benchmark::State &state)
{
    state.SetLabel(sizeLabel("positions", g_size.positions));
    useFolder(mainFolder());
    RawFile raw(fileIn(mainFolder()));
    frmMainAdmin &panel = Shell::Show<frmMainAdmin>();
    settle();
    Pair pair;
    for (auto _ : state) {
        pair.time(state, [&] { panel.MainAdminDataLoad(0); });
        REQUIRE(panel.cmbbxPosition->count() == g_size.positions, "not every position is listed");
        pair.floor += seconds([&] { raw.run(FloorSql::kPositionsAll); });
    }
    pair.finish(state);
}

// Deleting a position with its candidates and their tallies. Each iteration
// first adds a position of the given number of candidates, and one more for the
// floor, beside the whole election.
int g_nextDeleted = 1;

QString addDoomedPosition(RawFile &raw, int candidates)
{
    const int n = g_nextDeleted++;
    const QString code = QStringLiteral("D%1").arg(n, 4, 10, QLatin1Char('0'));
    raw.exec("BEGIN");
    raw.run("INSERT INTO Positions (PosID, PosName) VALUES (?, ?)", {code, QStringLiteral("Doomed %1").arg(n)});
    for (int c = 0; c < candidates; ++c) {
        const QString id = QStringLiteral("D%1").arg(qint64(n) * 100000 + c, 9, 10, QLatin1Char('0'));
        raw.run("INSERT INTO CandInfo (CandID, CandName, StudentNum, PosID) VALUES (?, ?, ?, ?)",
                {id, QStringLiteral("Doomed candidate %1").arg(c), QStringLiteral("2025-9%1").arg(c), code});
        raw.run("INSERT INTO CandVote (CandID, NumVotes) VALUES (?, ?)", {id, c});
    }
    raw.exec("COMMIT");
    return code;
}

void MainAdmin_cmdDelPos_Click(benchmark::State &state, int candidates)
{
    state.SetLabel(sizeLabel("among", g_size.candidates));
    useFolder(mainFolder());
    RawFile raw(fileIn(mainFolder()));
    frmMainAdmin &panel = Shell::Show<frmMainAdmin>();
    Pair pair;
    for (auto _ : state) {
        const QString code = addDoomedPosition(raw, candidates);
        panel.MainAdminDataLoad(0);
        panel.cmbbxPosition->setCurrentIndex(indexOfCode(panel.lstPosID, code));
        REQUIRE(panel.lstCandID->count() == candidates, "the position's candidates are not listed");
        Msg::takeShown();
        Msg::setNextAnswer(Msg::Answer::Yes);
        settle();
        pair.time(state, [&] { panel.cmdDelPos->click(); });
        REQUIRE(Msg::takeShown().size() == 1 && raw.run(FloorSql::kPositionById, {code}) == 0 &&
                    raw.run(FloorSql::kCandidatesOfPosition, {code}) == 0,
                "the position was not deleted");

        const QString floorCode = addDoomedPosition(raw, candidates);
        // The screen reads the position's candidates and the tallies once each, and
        // deletes the rows of those candidates by their place; the floor reads both
        // tables whole, then deletes the same rows set-wise.
        pair.floor += seconds([&] {
            raw.exec("BEGIN IMMEDIATE");
            raw.run(FloorSql::kCandidatesAll);
            raw.run(FloorSql::kTalliesAll);
            raw.run("DELETE FROM \"CandVote\" WHERE \"CandID\" IN (SELECT \"CandID\" FROM \"CandInfo\" "
                    "WHERE \"PosID\" = ?1)",
                    {floorCode});
            raw.run("DELETE FROM \"CandInfo\" WHERE \"PosID\" = ?1", {floorCode});
            raw.run(FloorSql::kPositionById, {floorCode});
            raw.run("DELETE FROM \"Positions\" WHERE rowid=?", {raw.lastRowid()});
            raw.exec("COMMIT");
        });
    }
    pair.finish(state);
}

// The results of position 1 (the large one) or 2 (the small one) of the larger election.
void GetnDisplay(benchmark::State &state, int position)
{
    const int candidates = position == 1 ? g_resultsSize.bigPosition : g_resultsSize.smallPosition;
    state.SetLabel(sizeLabel("candidates", candidates) + "/" + sizeLabel("tallies", g_resultsSize.candidates));
    useFolder(resultsFolder());
    RawFile raw(fileIn(resultsFolder()));
    frmCountVotes &results = Shell::Show<frmCountVotes>();
    const QString code = Synthetic::positionId(position);
    settle();
    Pair pair;
    for (auto _ : state) {
        pair.time(state, [&] { results.GetnDisplay(code); });
        REQUIRE(results.lstResults->count() == candidates, "not every candidate is ranked");
        pair.floor += seconds([&] {
            raw.run(FloorSql::kPositionById, {code});
            raw.run(FloorSql::kResultsOfPosition, {code});
        });
    }
    pair.finish(state);
}

} // namespace

BENCHMARK(AdminStartDataLoad)
    ->Name("frmAdminStart::AdminStartDataLoad")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(AdminUserDataLoad)->Name("frmAdminUsers::AdminUserDataLoad")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(AdminUsers_lstUser_Click)
    ->Name("frmAdminUsers::lstUser_Click")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(AddUser_cmdOK_Click, duplicate, true)
    ->Name("frmAddUser::cmdOK_Click/duplicate:1")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(AddUser_cmdOK_Click, fresh, false)
    ->Name("frmAddUser::cmdOK_Click/duplicate:0")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(MainAdminDataLoad)->Name("frmMainAdmin::MainAdminDataLoad")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MainAdmin_cmdDelPos_Click, c50, 50)
    ->Name("frmMainAdmin::cmdDelPos_Click/candidates:50")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MainAdmin_cmdDelPos_Click, c500, 500)
    ->Name("frmMainAdmin::cmdDelPos_Click/candidates:500")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MainAdmin_cmdDelPos_Click, c2000, 2000)
    ->Name("frmMainAdmin::cmdDelPos_Click/candidates:2000")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MainAdmin_cmdDelPos_Click, c8000, 8000)
    ->Name("frmMainAdmin::cmdDelPos_Click/candidates:8000")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MainAdmin_cmdDelPos_Click, c32000, 32000)
    ->Name("frmMainAdmin::cmdDelPos_Click/candidates:32000")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GetnDisplay, small, 2)
    ->Name("frmCountVotes::GetnDisplay/small")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GetnDisplay, big, 1)
    ->Name("frmCountVotes::GetnDisplay/big")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
