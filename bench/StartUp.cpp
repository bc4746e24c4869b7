// The start of the program, in this process and in a new one, and its peak memory.

#include "Harness.h"
#include "Probe.h"

#include "screens/frmMain.h"
#include "shell/Shell.h"

namespace {

// Start-up inside this process: the main menu made and shown.
void Run_inProcess(benchmark::State &state)
{
    Pair pair;
    for (auto _ : state) {
        Shell::reset();
        Shell::setTestMode(mainFolder());
        runningOn(mainFolder());
        settle();
        pair.time(state, [&] { Shell::Show<frmMain>(); });
        REQUIRE(Shell::Get<frmMain>().isVisible(), "the main menu is not shown");
    }
    pair.finish(state);
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

// Peak resident memory of a new process of the program: with the main menu
// shown, and with the voter accounts panel shown on the whole register.
void PeakMemory(benchmark::State &state)
{
    const QString folder = mainFolder();
    state.SetLabel(sizeLabel("users", g_size.users));
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

} // namespace

BENCHMARK(Run_inProcess)->Name("Run/in_process")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Run_newProcess)->Name("Run/new_process")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(PeakMemory)
    ->Name("PeakMemory/frmAdminUsers")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(1);
