#pragma once

#include <QString>

// The size of a synthetic election. Positions 1 and 2 are the large and the
// small one; the other candidates are spread evenly over the remaining positions.
struct ElectionSize {
    int users = 100000;
    int positions = 200;
    int candidates = 10000;
    int bigPosition = 5000; // candidates of position 1
    int smallPosition = 50; // candidates of position 2
};

// Codes and texts of the synthetic rows, so that the benchmarks can name them.
namespace Synthetic {
QString userName(int i); // i from 1
QString password(int i);
QString positionId(int i); // i from 1
QString candidateId(int i);

// Creates candpos4.mdb in folder with the program's own schema and administrator
// (admin / secret), then fills it in one transaction. Candidates and tallies are
// interleaved over the positions as an administrator adding them over time would.
void create(const QString &folder, const ElectionSize &size);
} // namespace Synthetic
