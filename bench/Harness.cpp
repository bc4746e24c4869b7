#include "Harness.h"

#include "shell/MessageBox.h"
#include "shell/Shell.h"

#include <QCoreApplication>
#include <QDir>
#include <QListWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <stdexcept>

ElectionSize g_size;
ElectionSize g_resultsSize{100000, 200, 100000, 5000, 50};

namespace {

std::unique_ptr<QTemporaryDir> g_dir;
QString g_mainFolder, g_resultsFolder;
QString g_active; // the folder the program runs on now

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

} // namespace

void settle()
{
    for (int i = 0; i < 2; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
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

void useFolder(const QString &folder)
{
    if (g_active == folder)
        return;
    Shell::reset();
    Shell::setTestMode(folder);
    g_active = folder;
}

void runningOn(const QString &folder) { g_active = folder; }

void Pair::finish(benchmark::State &state) const
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

std::string sizeLabel(const char *what, int n) { return std::string(what) + ":" + std::to_string(n); }
