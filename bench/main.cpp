// pollaris-bench: times the real handlers of the real screens, offscreen, on
// synthetic election files the size of a large university, each beside its floor:
// the same statements run straight through SQLite with the same durability.
//
// Every action is timed from the handler's call until the events it leaves
// behind (layout, painting) have been processed, which is when the user sees the
// result. Each benchmark carries the counters
//   handler_ms  the part of the time spent in the handler itself,
//   floor_ms    the floor's mean time for one action, measured in the same run,
//   vs_floor    the action's time over the floor's.

#include "RawFile.h"
#include "SyntheticElection.h"

#include "screens/frmAddUser.h"
#include "screens/frmAdminStart.h"
#include "screens/frmAdminUsers.h"
#include "screens/frmCountVotes.h"
#include "screens/frmMain.h"
#include "screens/frmMainAdmin.h"
#include "screens/frmVoter.h"
#include "screens/frmVoterLogIn.h"
#include "shell/MessageBox.h"
#include "shell/Shell.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

ElectionSize g_size;                                       // the election of every action
ElectionSize g_resultsSize{100000, 200, 100000, 5000, 50}; // for the results: 100,000 tallies
std::unique_ptr<QTemporaryDir> g_dir;
QString g_mainFolder, g_resultsFolder;
QString g_active; // the folder the program runs on now

// --- helpers ------------------------------------------------------------------

// Lets the event loop finish what an action left pending (delayed layout, paint).
void settle()
{
    for (int i = 0; i < 2; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

template <class F> double seconds(F &&f)
{
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

QString makeFolder(const char *name, const ElectionSize &size)
{
    if (!g_dir) {
        g_dir = std::make_unique<QTemporaryDir>();
        if (!g_dir->isValid())
            throw std::runtime_error("cannot make a temporary folder");
    }
    const QString folder = g_dir->filePath(QString::fromLatin1(name));
    QDir().mkpath(folder);
    std::fprintf(stderr, "pollaris-bench: making %s election (%d voter accounts, %d positions, %d candidates) ...",
                 name, size.users, size.positions, size.candidates);
    std::fflush(stderr);
    const double took = seconds([&] { Synthetic::create(folder, size); });
    std::fprintf(stderr, " %.1f s\n", took);
    return folder;
}

const QString &mainFolder()
{
    if (g_mainFolder.isEmpty())
        g_mainFolder = makeFolder("main", g_size);
    return g_mainFolder;
}

const QString &resultsFolder()
{
    if (g_resultsFolder.isEmpty())
        g_resultsFolder = makeFolder("results", g_resultsSize);
    return g_resultsFolder;
}

QString fileIn(const QString &folder) { return folder + QStringLiteral("/candpos4.mdb"); }

// Runs the program on the folder, with a fresh set of screens when it changes.
void useFolder(const QString &folder)
{
    if (g_active == folder)
        return;
    Shell::reset();
    Shell::setTestMode(folder);
    g_active = folder;
}

// The time of each action and of its floor over one repetition.
struct Pair {
    double action = 0;
    double floor = 0;
    double handler = 0;
    void add(benchmark::State &state, double actionSeconds)
    {
        action += actionSeconds;
        state.SetIterationTime(actionSeconds);
    }
    // Times the handler, then what it left to the event loop; the iteration's
    // time is the sum.
    template <class F> void time(benchmark::State &state, F &&run)
    {
        const double ran = seconds(run);
        handler += ran;
        add(state, ran + seconds(settle));
    }
    void finish(benchmark::State &state) const
    {
        const double n = double(state.iterations());
        if (n == 0)
            return;
        if (handler > 0)
            state.counters["handler_ms"] = handler * 1e3 / n;
        if (floor <= 0)
            return;
        state.counters["floor_ms"] = floor * 1e3 / n;
        state.counters["vs_floor"] = action / floor;
    }
};

bool onlyBox(const QString &text)
{
    const QList<Msg::Shown> shown = Msg::takeShown();
    return shown.size() == 1 && shown.first().text == text;
}

bool noBox() { return Msg::takeShown().isEmpty(); }

int indexOfCode(QListWidget *codes, const QString &code)
{
    for (int i = 0; i < codes->count(); ++i)
        if (codes->item(i)->text() == code)
            return i;
    return -1;
}

// Accounts taken by the log-in benchmarks, one per admitted log-in, counted from
// the front; the floor's own writes go to accounts counted from the back.
int g_nextVoter = 1;
int g_nextFloorVoter = 0;
int g_nextNewAccount = 1;

#define REQUIRE(cond, message)                                                                                         \
    if (!(cond)) {                                                                                                     \
        state.SkipWithError(message);                                                                                  \
        break;                                                                                                         \
    }

// --- start-up -------------------------------------------------------------------

// Start-up inside this process: the main menu made and shown.
void Run_inProcess(benchmark::State &state)
{
    Pair pair;
    for (auto _ : state) {
        Shell::reset();
        Shell::setTestMode(mainFolder());
        g_active = mainFolder();
        settle();
        pair.time(state, [&] { Shell::Show<frmMain>(); });
        REQUIRE(Shell::Get<frmMain>().isVisible(), "the main menu is not shown");
    }
    pair.finish(state);
}

// Starts this program again as a probe; returns the seconds until it wrote its
// first line, and that line.
double probe(const QStringList &args, QByteArray *firstLine, QByteArray *rest)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto start = Clock::now();
    p.start(QCoreApplication::applicationFilePath(), args);
    if (!p.waitForStarted(-1))
        return -1;
    while (!p.canReadLine())
        if (!p.waitForReadyRead(-1))
            return -1;
    const double t = std::chrono::duration<double>(Clock::now() - start).count();
    *firstLine = p.readLine().trimmed();
    p.waitForFinished(-1);
    if (rest)
        *rest = p.readAll();
    return t;
}

// Start-up of a new process of the program up to the main menu shown; its floor
// is the start of the same binary, which writes its line at once.
void Run_newProcess(benchmark::State &state)
{
    Pair pair;
    const QString folder = mainFolder();
    for (auto _ : state) {
        QByteArray line;
        const double t = probe({QStringLiteral("--pollaris_probe=startup"), folder}, &line, nullptr);
        REQUIRE(t > 0 && line == "shown", "the start-up probe failed");
        pair.add(state, t);
        QByteArray bare;
        pair.floor += probe({QStringLiteral("--pollaris_probe=bare")}, &bare, nullptr);
    }
    pair.finish(state);
}

// --- the voter's road ---------------------------------------------------------------

void VoterLogIn_cmdOK_Click(benchmark::State &state, bool found)
{
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

// Choosing position 1 (the large one) or 2 (the small one) on the ballot.
void Voter_cmbbxPosition_Click(benchmark::State &state, int position, int candidates)
{
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

// Clicking a candidate of position 1 or 2, in turn near the top and the bottom.
void Voter_lstCandidate_Click(benchmark::State &state, int position)
{
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

// --- the administrator's road ------------------------------------------------------

void AdminStartDataLoad(benchmark::State &state)
{
    useFolder(mainFolder());
    RawFile raw(fileIn(mainFolder()));
    frmAdminStart &panel = Shell::Show<frmAdminStart>();
    settle();
    Pair pair;
    for (auto _ : state) {
        pair.time(state, [&] { panel.AdminStartDataLoad(); });
        REQUIRE(panel.lblUser->text().trimmed().toInt() >= g_size.users, "the voters are not counted");
        pair.floor += seconds([&] {
            raw.run(FloorSql::kPositionsAll);
            raw.run(FloorSql::kCandidatesAll);
            raw.run(FloorSql::kUsersAll);
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

// Picking an account, in turn near the top and near the bottom of the list.
void AdminUsers_lstUser_Click(benchmark::State &state)
{
    frmAdminUsers &panel = usersPanel();
    RawFile raw(fileIn(mainFolder()));
    const int count = panel.lstUser->count();
    Pair pair;
    int turn = 0;
    for (auto _ : state) {
        const int row = (turn++ % 2) ? 10 : count - 10;
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
        // The screen reads each table once and deletes the rows of the listed
        // codes by their place; the floor reads both tables whole, then deletes
        // the same rows set-wise.
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

// The results of position 1 or 2 of the larger election.
void GetnDisplay(benchmark::State &state, int position, int candidates)
{
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
            raw.run(FloorSql::kCandidatesOfPosition, {code});
            raw.run(FloorSql::kTalliesRanked);
        });
    }
    pair.finish(state);
}

// --- peak memory ---------------------------------------------------------------------

qint64 peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

// Peak resident memory of a new process of the program: with the main menu
// shown, and with the voter accounts panel shown on the whole register.
void PeakMemory(benchmark::State &state)
{
    const QString folder = mainFolder();
    for (auto _ : state) {
        QByteArray line, rest;
        const double t = probe({QStringLiteral("--pollaris_probe=users"), folder}, &line, &rest);
        REQUIRE(t > 0 && line.startsWith("VmHWM "), "the memory probe failed");
        state.SetIterationTime(t);
        state.counters["VmHWM_MiB"] = double(line.mid(6).toLongLong()) / 1024.0;
        QByteArray menuLine, menuRest;
        probe({QStringLiteral("--pollaris_probe=startup"), folder}, &menuLine, &menuRest);
        if (menuRest.startsWith("VmHWM "))
            state.counters["menu_VmHWM_MiB"] = double(menuRest.mid(6).trimmed().toLongLong()) / 1024.0;
    }
}

// The probes run in a new process of this program, started by the two above.
int runProbe(const QString &kind, int argc, char **argv)
{
    if (kind == QLatin1String("bare")) {
        std::printf("shown\n");
        std::fflush(stdout);
        return 0;
    }
    if (argc < 3)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[2]);
    Shell::Application app(argc, argv);
    Shell::setTestMode(folder);
    if (kind == QLatin1String("startup")) {
        Shell::Show<frmMain>();
        settle();
        std::printf("shown\nVmHWM %lld\n", (long long)peakKiB());
    } else if (kind == QLatin1String("users")) {
        Shell::Show<frmAdminStart>().cmdUsers->click();
        settle();
        if (Shell::Get<frmAdminUsers>().lstUser->count() == 0)
            return 1;
        std::printf("VmHWM %lld\n", (long long)peakKiB());
    }
    std::fflush(stdout);
    // Ends at once, as the program's own End does.
    std::_Exit(0);
}

// --- the table in the README ---------------------------------------------------------

// The figure of each benchmark from Google Benchmark's JSON output: the median
// over the repetitions, or the one run when there was one.
struct Figure {
    double ms = -1;
    QMap<QString, double> counters;
};

QString number(double v, int decimals) { return v < 0 ? QStringLiteral("—") : QString::number(v, 'f', decimals); }

// Writes the table of medians between the two marker lines of the README.
int writeTable(const QString &jsonPath, const QString &readmePath)
{
    QFile in(jsonPath);
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "pollaris-bench: cannot read %s\n", qPrintable(jsonPath));
        return 1;
    }
    const QJsonObject root = QJsonDocument::fromJson(in.readAll()).object();
    const QJsonObject context = root.value(QStringLiteral("context")).toObject();
    QStringList order;
    QMap<QString, Figure> figures;
    QMap<QString, bool> fromMedian;
    static const QSet<QString> notCounters = {QStringLiteral("name"),
                                              QStringLiteral("run_name"),
                                              QStringLiteral("run_type"),
                                              QStringLiteral("repetitions"),
                                              QStringLiteral("repetition_index"),
                                              QStringLiteral("threads"),
                                              QStringLiteral("iterations"),
                                              QStringLiteral("real_time"),
                                              QStringLiteral("cpu_time"),
                                              QStringLiteral("time_unit"),
                                              QStringLiteral("family_index"),
                                              QStringLiteral("per_family_instance_index"),
                                              QStringLiteral("aggregate_name"),
                                              QStringLiteral("aggregate_unit"),
                                              QStringLiteral("error_occurred"),
                                              QStringLiteral("error_message")};
    for (const QJsonValue &v : root.value(QStringLiteral("benchmarks")).toArray()) {
        const QJsonObject b = v.toObject();
        QString name = b.value(QStringLiteral("run_name")).toString();
        name.remove(QStringLiteral("/manual_time"));
        name.remove(QRegularExpression(QStringLiteral("/iterations:\\d+|/repeats:\\d+")));
        const bool median = b.value(QStringLiteral("aggregate_name")).toString() == QLatin1String("median");
        const bool single = b.value(QStringLiteral("run_type")).toString() == QLatin1String("iteration");
        if (!median && !single)
            continue;
        if (!order.contains(name))
            order << name;
        if (fromMedian.value(name) && !median)
            continue;
        if (b.value(QStringLiteral("error_occurred")).toBool())
            continue;
        Figure f;
        const double unit = b.value(QStringLiteral("time_unit")).toString() == QLatin1String("ms") ? 1.0 : 1e-6;
        f.ms = b.value(QStringLiteral("real_time")).toDouble() * unit;
        for (auto it = b.begin(); it != b.end(); ++it)
            if (!notCounters.contains(it.key()) && it.value().isDouble())
                f.counters.insert(it.key(), it.value().toDouble());
        figures.insert(name, f);
        fromMedian.insert(name, median);
    }

    QStringList lines;
    lines << QStringLiteral("Measured %1 on %2 cores (`nproc`), %3; load average at the start %4; "
                            "election of %5.")
                 .arg(
                     context.value(QStringLiteral("date")).toString().left(10),
                     context.value(QStringLiteral("nproc")).toString(),
                     context.value(QStringLiteral("cpu_model")).toString(),
                     [&] {
                         QStringList loads;
                         for (const QJsonValue &l : context.value(QStringLiteral("load_avg")).toArray())
                             loads << QString::number(l.toDouble(), 'f', 2);
                         return loads.join(QStringLiteral(", "));
                     }(),
                     context.value(QStringLiteral("election")).toString());
    lines << QString();
    lines << QStringLiteral("| Action (handler / size) | median ms | of it the handler | floor ms | vs_floor |");
    lines << QStringLiteral("|---|---:|---:|---:|---:|");
    QString memory;
    for (const QString &name : order) {
        const Figure f = figures.value(name);
        if (name.startsWith(QLatin1String("PeakMemory"))) {
            memory = QStringLiteral("Peak memory (VmHWM) of the program with the voter accounts panel open on the "
                                    "whole register: %1 MiB (main menu only: %2 MiB).")
                         .arg(number(f.counters.value(QStringLiteral("VmHWM_MiB"), -1), 1),
                              number(f.counters.value(QStringLiteral("menu_VmHWM_MiB"), -1), 1));
            continue;
        }
        QString ms = number(f.ms, f.ms >= 0 && f.ms < 1 ? 3 : 1);
        if (f.counters.contains(QStringLiteral("beyond_floor_ms")))
            ms += QStringLiteral(" (%1 beyond floor)")
                      .arg(number(f.counters.value(QStringLiteral("beyond_floor_ms")), 1));
        const double handler = f.counters.value(QStringLiteral("handler_ms"), -1);
        lines << QStringLiteral("| `%1` | %2 | %3 | %4 | %5 |")
                     .arg(name, ms, number(handler, handler >= 0 && handler < 1 ? 3 : 1),
                          number(f.counters.value(QStringLiteral("floor_ms"), -1),
                                 f.counters.value(QStringLiteral("floor_ms"), 1) < 1 ? 3 : 1),
                          number(f.counters.value(QStringLiteral("vs_floor"), -1), 2));
    }
    if (!memory.isEmpty())
        lines << QString() << memory;

    QFile readme(readmePath);
    if (!readme.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "pollaris-bench: cannot read %s\n", qPrintable(readmePath));
        return 1;
    }
    QString text = QString::fromUtf8(readme.readAll());
    readme.close();
    const QString begin = QStringLiteral("<!-- bench:begin -->"), end = QStringLiteral("<!-- bench:end -->");
    const qsizetype from = text.indexOf(begin), to = text.indexOf(end);
    if (from < 0 || to < from) {
        std::fprintf(stderr, "pollaris-bench: %s has no %s ... %s markers\n", qPrintable(readmePath), qPrintable(begin),
                     qPrintable(end));
        return 1;
    }
    text.replace(from + begin.size(), to - from - begin.size(),
                 QLatin1Char('\n') + lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    if (!readme.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "pollaris-bench: cannot write %s\n", qPrintable(readmePath));
        return 1;
    }
    readme.write(text.toUtf8());
    return 0;
}

// --- set-up ------------------------------------------------------------------------

std::string cpuModel()
{
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly))
        for (const QByteArray &line : info.readAll().split('\n'))
            if (line.startsWith("model name"))
                return line.mid(line.indexOf(':') + 1).trimmed().toStdString();
    return "unknown";
}

void printOwnHelp()
{
    benchmark::PrintDefaultHelp();
    std::fprintf(stdout,
                 "\npollaris-bench options (sizes of the synthetic elections):\n"
                 "  [--pollaris_users=N]          voter accounts (default 100000)\n"
                 "  [--pollaris_positions=N]      positions (default 200)\n"
                 "  [--pollaris_candidates=N]     candidates, each with a tally (default 10000)\n"
                 "  [--pollaris_result_tallies=N] candidates and tallies of the results election (default 100000)\n"
                 "  --pollaris_table OUT.json README.md\n"
                 "                                write the table of medians of a finished run into README.md\n"
                 "Defaults added unless given: --benchmark_min_time=0.3 --benchmark_repetitions=5\n"
                 "  --benchmark_display_aggregates_only=true\n");
}

void registerAll()
{
    using benchmark::RegisterBenchmark;
    const std::string users = "/users:" + std::to_string(g_size.users);
    const std::string positions = "/positions:" + std::to_string(g_size.positions);
    const std::string candidatesAmong = "/among:" + std::to_string(g_size.candidates);
    const std::string tallies = "/tallies:" + std::to_string(g_resultsSize.candidates);
    const int big = g_size.bigPosition, small = g_size.smallPosition;
    std::vector<benchmark::internal::Benchmark *> all;

    all.push_back(RegisterBenchmark("Run/in_process", Run_inProcess));
    all.push_back(RegisterBenchmark("Run/new_process", Run_newProcess));

    all.push_back(RegisterBenchmark(("frmVoterLogIn::cmdOK_Click/found:1" + users).c_str(),
                                    [](benchmark::State &s) { VoterLogIn_cmdOK_Click(s, true); }));
    all.push_back(RegisterBenchmark(("frmVoterLogIn::cmdOK_Click/found:0" + users).c_str(),
                                    [](benchmark::State &s) { VoterLogIn_cmdOK_Click(s, false); }));
    all.push_back(RegisterBenchmark(("frmVoter::MainVoterDataLoad" + positions).c_str(), MainVoterDataLoad));
    all.push_back(RegisterBenchmark(
        ("frmVoter::cmbbxPosition_Click/candidates:" + std::to_string(small) + candidatesAmong).c_str(),
        [small](benchmark::State &s) { Voter_cmbbxPosition_Click(s, 2, small); }));
    all.push_back(
        RegisterBenchmark(("frmVoter::cmbbxPosition_Click/candidates:" + std::to_string(big) + candidatesAmong).c_str(),
                          [big](benchmark::State &s) { Voter_cmbbxPosition_Click(s, 1, big); }));
    all.push_back(RegisterBenchmark(
        ("frmVoter::lstCandidate_Click/candidates:" + std::to_string(small) + candidatesAmong).c_str(),
        [](benchmark::State &s) { Voter_lstCandidate_Click(s, 2); }));
    all.push_back(
        RegisterBenchmark(("frmVoter::lstCandidate_Click/candidates:" + std::to_string(big) + candidatesAmong).c_str(),
                          [](benchmark::State &s) { Voter_lstCandidate_Click(s, 1); }));
    all.push_back(RegisterBenchmark(("frmVoter::cmdVote_Click/tallies:" + std::to_string(g_size.candidates)).c_str(),
                                    Voter_cmdVote_Click));

    all.push_back(RegisterBenchmark(("frmAdminStart::AdminStartDataLoad" + users).c_str(), AdminStartDataLoad));
    all.push_back(RegisterBenchmark(("frmAdminUsers::AdminUserDataLoad" + users).c_str(), AdminUserDataLoad));
    all.push_back(RegisterBenchmark(("frmAdminUsers::lstUser_Click" + users).c_str(), AdminUsers_lstUser_Click));
    all.push_back(RegisterBenchmark(("frmAddUser::cmdOK_Click/duplicate:1" + users).c_str(),
                                    [](benchmark::State &s) { AddUser_cmdOK_Click(s, true); }));
    all.push_back(RegisterBenchmark(("frmAddUser::cmdOK_Click/duplicate:0" + users).c_str(),
                                    [](benchmark::State &s) { AddUser_cmdOK_Click(s, false); }));
    all.push_back(RegisterBenchmark(("frmMainAdmin::MainAdminDataLoad" + positions).c_str(), MainAdminDataLoad));
    for (int n : {50, 500, 2000, 8000, 32000})
        all.push_back(RegisterBenchmark(
            ("frmMainAdmin::cmdDelPos_Click/candidates:" + std::to_string(n) + candidatesAmong).c_str(),
            [n](benchmark::State &s) { MainAdmin_cmdDelPos_Click(s, n); }));
    all.push_back(RegisterBenchmark(
        ("frmCountVotes::GetnDisplay/candidates:" + std::to_string(g_resultsSize.smallPosition) + tallies).c_str(),
        [](benchmark::State &s) { GetnDisplay(s, 2, g_resultsSize.smallPosition); }));
    all.push_back(RegisterBenchmark(
        ("frmCountVotes::GetnDisplay/candidates:" + std::to_string(g_resultsSize.bigPosition) + tallies).c_str(),
        [](benchmark::State &s) { GetnDisplay(s, 1, g_resultsSize.bigPosition); }));
    for (auto *b : all)
        b->UseManualTime()->Unit(benchmark::kMillisecond);

    RegisterBenchmark(("PeakMemory/frmAdminUsers" + users).c_str(), PeakMemory)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(1);
}

// Takes --pollaris_NAME=N off the command line.
bool takeSize(std::vector<char *> &args, const char *name, int *value)
{
    const std::string prefix = std::string("--pollaris_") + name + "=";
    for (auto it = args.begin() + 1; it != args.end(); ++it) {
        if (std::strncmp(*it, prefix.c_str(), prefix.size()) == 0) {
            *value = std::atoi(*it + prefix.size());
            args.erase(it);
            return true;
        }
    }
    return false;
}

bool given(const std::vector<char *> &args, const char *flag)
{
    for (size_t i = 1; i < args.size(); ++i)
        if (std::strncmp(args[i], flag, std::strlen(flag)) == 0)
            return true;
    return false;
}

// The offscreen platform says on every raise that it cannot raise a window,
// which would bury the figures; everything else the toolkit says is passed on.
QtMessageHandler g_qtMessages = nullptr;
void quietMessages(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text.contains(QLatin1String("does not support raise")) || text.contains(QLatin1String("XDG_RUNTIME_DIR")))
        return;
    g_qtMessages(type, context, text);
}

} // namespace

int main(int argc, char **argv)
{
    g_qtMessages = qInstallMessageHandler(quietMessages);
    // The screens are drawn offscreen unless a platform is asked for.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc >= 2 && std::strncmp(argv[1], "--pollaris_probe=", 17) == 0)
        return runProbe(QString::fromLatin1(argv[1] + 17), argc, argv);

    // The table of medians from a finished run's JSON output, written into the README.
    if (argc == 4 && std::strcmp(argv[1], "--pollaris_table") == 0) {
        QCoreApplication app(argc, argv);
        return writeTable(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }

    std::vector<char *> args(argv, argv + argc);
    takeSize(args, "users", &g_size.users);
    takeSize(args, "positions", &g_size.positions);
    takeSize(args, "candidates", &g_size.candidates);
    takeSize(args, "result_tallies", &g_resultsSize.candidates);
    g_resultsSize.users = g_size.users;
    g_resultsSize.positions = g_size.positions;
    // The two sized positions must fit the candidates asked for.
    for (ElectionSize *s : {&g_size, &g_resultsSize}) {
        s->positions = std::max(s->positions, 3);
        s->bigPosition = std::min(s->bigPosition, s->candidates / 2);
        s->smallPosition = std::min(s->smallPosition, s->candidates / 4);
    }

    static char minTime[] = "--benchmark_min_time=0.3";
    static char repetitions[] = "--benchmark_repetitions=5";
    static char aggregates[] = "--benchmark_display_aggregates_only=true";
    if (!given(args, "--benchmark_min_time"))
        args.insert(args.begin() + 1, minTime);
    if (!given(args, "--benchmark_repetitions"))
        args.insert(args.begin() + 1, repetitions);
    if (!given(args, "--benchmark_display_aggregates_only") && !given(args, "--benchmark_report_aggregates_only"))
        args.insert(args.begin() + 1, aggregates);
    int count = int(args.size());
    args.push_back(nullptr);

    benchmark::Initialize(&count, args.data(), printOwnHelp);
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;

    Shell::Application app(count, args.data());
    benchmark::AddCustomContext("cpu_model", cpuModel());
    benchmark::AddCustomContext("nproc", std::to_string(QThread::idealThreadCount()));
    benchmark::AddCustomContext("election", std::to_string(g_size.users) + " voter accounts, " +
                                                std::to_string(g_size.positions) + " positions, " +
                                                std::to_string(g_size.candidates) + " candidates with tallies");
    registerAll();
    int status = 0;
    try {
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "pollaris-bench: %s\n", e.what());
        status = 1;
    }
    benchmark::Shutdown();
    Shell::reset();
    return status;
}
