#pragma once

// New processes of pollaris-bench itself, for what can only be measured from
// outside: the start of the program, and its peak memory.

#include <QByteArray>
#include <QStringList>

// Starts this program again as a probe; returns the seconds until it wrote its
// first line (negative when it failed), that line, and what it wrote after it.
double probe(const QStringList &args, QByteArray *firstLine, QByteArray *rest);

// The peak resident memory of this process so far (VmHWM), in KiB; -1 if unknown.
qint64 peakKiB();

// The probe's side: runs the probe of the given kind (--pollaris_probe=KIND FOLDER)
// and ends the process.
int runProbe(const QString &kind, int argc, char **argv);
