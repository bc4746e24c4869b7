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

#include "Arguments.h"
#include "Harness.h"
#include "Probe.h"

#include "shell/Shell.h"

#include <QFile>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

// The benchmarks register themselves, one file for each part of the program:
// StartUp.cpp, VoterRoad.cpp, AdminRoad.cpp.

namespace {

std::string cpuModel()
{
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly))
        for (const QByteArray &line : info.readAll().split('\n'))
            if (line.startsWith("model name"))
                return line.mid(line.indexOf(':') + 1).trimmed().toStdString();
    return "unknown";
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

    std::vector<char *> args = takeArguments(argc, argv);
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data(), printOwnHelp);
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;

    Shell::Application app(count, args.data());
    benchmark::AddCustomContext("cpu_model", cpuModel());
    benchmark::AddCustomContext("nproc", std::to_string(QThread::idealThreadCount()));
    benchmark::AddCustomContext("election", std::to_string(g_size.users) + " voter accounts, " +
                                                std::to_string(g_size.positions) + " positions, " +
                                                std::to_string(g_size.candidates) + " candidates with tallies");
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
