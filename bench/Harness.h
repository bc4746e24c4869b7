#pragma once

// What every benchmark of pollaris-bench shares: the synthetic elections it runs
// on, the program run in test mode on one of them, and the timing of an action
// beside its floor.

#include "SyntheticElection.h"

#include <QString>
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

class QListWidget;

using Clock = std::chrono::steady_clock;

extern ElectionSize g_size;        // the election of every action
extern ElectionSize g_resultsSize; // for the results: 100,000 tallies

// Lets the event loop finish what an action left pending (delayed layout, paint).
void settle();

template <class F> double seconds(F &&f)
{
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The two elections, made at their first use in a temporary folder.
const QString &mainFolder();
const QString &resultsFolder();
QString fileIn(const QString &folder);

// The server the program runs on (--pollaris_server=CONNINFO), or empty for the file.
extern QString g_server;
inline bool onServer() { return !g_server.isEmpty(); }
// The election of a folder on the server: a database of its own, a copy of the
// folder's file made by pollaris-admin copy at its first use.
QString serverFor(const QString &folder);

// Runs the program on the folder, with a fresh set of screens when it changes.
void useFolder(const QString &folder);
// Forgets the folder the program runs on, after its screens were reset by hand.
void runningOn(const QString &folder);

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
    void finish(benchmark::State &state) const;
};

bool onlyBox(const QString &text);
bool noBox();
int indexOfCode(QListWidget *codes, const QString &code);

// The size an action works on, shown after its name ("users:100000").
std::string sizeLabel(const char *what, int n);

#define REQUIRE(cond, message)                                                                                         \
    if (!(cond)) {                                                                                                     \
        state.SkipWithError(message);                                                                                  \
        break;                                                                                                         \
    }
