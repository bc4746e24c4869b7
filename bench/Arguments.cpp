#include "Arguments.h"

#include "Harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

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

} // namespace

std::vector<char *> takeArguments(int argc, char **argv)
{
    std::vector<char *> args(argv, argv + argc);
    // --pollaris_server=CONNINFO: every screen action on that server instead of the file.
    for (auto it = args.begin() + 1; it != args.end(); ++it)
        if (std::strncmp(*it, "--pollaris_server=", 18) == 0) {
            g_server = QString::fromUtf8(*it + 18);
            args.erase(it);
            break;
        }
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
    args.push_back(nullptr);
    return args;
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
                 "  [--pollaris_server=CONNINFO]  the elections copied to that PostgreSQL server, and every action\n"
                 "                                and its floor run there\n"
                 "Defaults added unless given: --benchmark_min_time=0.3 --benchmark_repetitions=5\n"
                 "  --benchmark_display_aggregates_only=true\n"
                 "scripts/bench-table writes the table of medians of a JSON run into README.md.\n");
}
