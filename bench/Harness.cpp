#include "Harness.h"

#include "shell/MessageBox.h"
#include "shell/Shell.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <libpq-fe.h>
#include <memory>
#include <stdexcept>

QString g_server;
ElectionSize g_size;
ElectionSize g_resultsSize{100000, 200, 100000, 5000, 50};

namespace {

std::unique_ptr<QTemporaryDir> g_dir;
QString g_mainFolder, g_resultsFolder;
QString g_active; // the folder the program runs on now
QHash<QString, QString> g_serverOf;

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

QString serverFor(const QString &folder)
{
    if (g_serverOf.contains(folder))
        return g_serverOf.value(folder);
    const QString database = QStringLiteral("pollaris_bench_") + QFileInfo(folder).fileName();
    PGconn *admin = PQconnectdb(g_server.toUtf8().constData());
    for (const QString &sql : {QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)"),
                               QStringLiteral("CREATE DATABASE %1 ENCODING 'UTF8' TEMPLATE template0")}) {
        PGresult *r = PQexec(admin, sql.arg(database).toUtf8().constData());
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        if (!ok) {
            const std::string message = PQerrorMessage(admin);
            PQfinish(admin);
            throw std::runtime_error("cannot make the server's election: " + message);
        }
    }
    PQfinish(admin);
    const QString target = g_server + QStringLiteral(" dbname=") + database;
    std::fprintf(stderr, "pollaris-bench: copying %s to the server ...", qPrintable(QFileInfo(folder).fileName()));
    std::fflush(stderr);
    QProcess copy;
    const double took = seconds([&] {
        copy.start(QStringLiteral(POLLARIS_ADMIN_PATH), {QStringLiteral("copy"), fileIn(folder), target});
        copy.waitForFinished(-1);
    });
    if (copy.exitStatus() != QProcess::NormalExit || copy.exitCode() != 0)
        throw std::runtime_error("pollaris-admin copy failed: " + copy.readAllStandardError().toStdString());
    std::fprintf(stderr, " %.1f s\n", took);
    g_serverOf.insert(folder, target);
    return target;
}

void useFolder(const QString &folder)
{
    if (g_active == folder)
        return;
    Shell::reset();
    Shell::setTestMode(folder, onServer() ? serverFor(folder) : QString());
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
