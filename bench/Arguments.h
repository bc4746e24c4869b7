#pragma once

// The command line of pollaris-bench: the sizes of the synthetic elections
// (--pollaris_NAME=N, taken off), then Google Benchmark's own options, with the
// program's defaults added where not given.

#include <vector>

// Sets g_size and g_resultsSize from the command line; returns the arguments
// left for Google Benchmark, ending with a null pointer.
std::vector<char *> takeArguments(int argc, char **argv);

void printOwnHelp();
