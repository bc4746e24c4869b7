#include "Probe.h"

#include "Harness.h"

#include "screens/frmAdminStart.h"
#include "screens/frmAdminUsers.h"
#include "screens/frmMain.h"
#include "shell/Shell.h"

#include <QCoreApplication>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>

double probe(const QStringList &args, QByteArray *firstLine, QByteArray *rest)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto start = Clock::now();
    p.start(QCoreApplication::applicationFilePath(), args);
    if (!p.waitForStarted(-1))
        return -1;
    while (!p.canReadLine())
        if (!p.waitForReadyRead(-1))
            return -1;
    const double t = std::chrono::duration<double>(Clock::now() - start).count();
    *firstLine = p.readLine().trimmed();
    p.waitForFinished(-1);
    if (rest)
        *rest = p.readAll();
    return t;
}

qint64 peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

int runProbe(const QString &kind, int argc, char **argv)
{
    if (kind == QLatin1String("bare")) {
        std::printf("shown\n");
        std::fflush(stdout);
        return 0;
    }
    if (argc < 3)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[2]);
    Shell::Application app(argc, argv);
    Shell::setTestMode(folder);
    if (kind == QLatin1String("startup")) {
        Shell::Show<frmMain>();
        settle();
        std::printf("shown\nVmHWM %lld\n", (long long)peakKiB());
    } else if (kind == QLatin1String("users")) {
        Shell::Show<frmAdminStart>().cmdUsers->click();
        settle();
        if (Shell::Get<frmAdminUsers>().lstUser->count() == 0)
            return 1;
        std::printf("VmHWM %lld\n", (long long)peakKiB());
    }
    std::fflush(stdout);
    // Ends at once, as the program's own End does.
    std::_Exit(0);
}
