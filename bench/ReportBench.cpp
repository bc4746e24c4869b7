// The results report of a large election, made by the real companion tool in a
// process of its own, as the committee runs it at the close of polls: 200
// positions, 10,000 candidates (one position of 5,000) and 100,000 voter
// accounts, half of them logged in. Its floor, measured in the same run, is the
// plain-text results of the same file, which reads the same snapshot and draws
// nothing. Counters:
//   pages     pages of the report
//   floor_ms  the mean time of the plain-text results
//   vs_floor  the report's time over the floor's

#include "SyntheticElection.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>
#include <sqlite3.h>

namespace {

const ElectionSize kReportSize{100000, 200, 10000, 5000, 50};

QString reportFolder()
{
    static std::unique_ptr<QTemporaryDir> dir;
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>();
        Synthetic::create(dir->path(), kReportSize);
        // Half of the accounts have logged in, so that the report is not a zero report.
        sqlite3 *db = nullptr;
        sqlite3_open_v2(QDir(dir->path()).filePath(QStringLiteral("candpos4.mdb")).toUtf8().constData(), &db,
                        SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "UPDATE Users SET HasVoted = 1 WHERE rowid % 2 = 0", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db);
    }
    return dir->path();
}

// Runs the tool; the seconds it took, or -1 when it failed.
double runTool(const QStringList &args, QByteArray *out)
{
    QProcess p;
    QElapsedTimer timer;
    timer.start();
    p.start(QStringLiteral(POLLARIS_ADMIN_PATH), args);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return -1;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (out)
        *out = p.readAllStandardOutput();
    return seconds;
}

void Report(benchmark::State &state)
{
    const QString folder = reportFolder();
    const QString file = QDir(folder).filePath(QStringLiteral("candpos4.mdb"));
    double report = 0, floor = 0;
    int run = 0, pages = 0;
    for (auto _ : state) {
        const QString pdf = QDir(folder).filePath(QStringLiteral("report-%1.pdf").arg(++run));
        QByteArray said;
        const double t = runTool({QStringLiteral("report"), QStringLiteral("--out"), pdf, file}, &said);
        QFile::remove(pdf);
        if (t < 0) {
            state.SkipWithError("pollaris-admin report failed");
            break;
        }
        state.SetIterationTime(t);
        report += t;
        const auto m = QRegularExpression(QStringLiteral("\\((\\d+) pages?\\)")).match(QString::fromUtf8(said));
        pages = m.captured(1).toInt();
        const double f = runTool({QStringLiteral("results"), file}, nullptr);
        if (f < 0) {
            state.SkipWithError("pollaris-admin results failed");
            break;
        }
        floor += f;
    }
    const double n = double(state.iterations());
    if (n > 0 && floor > 0) {
        state.counters["pages"] = pages;
        state.counters["floor_ms"] = floor * 1e3 / n;
        state.counters["vs_floor"] = report / floor;
    }
}

BENCHMARK(Report)
    ->Name("pollaris-admin report/positions:200/candidates:10000/users:100000")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
