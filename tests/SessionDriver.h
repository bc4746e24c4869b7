#pragma once

// The scripted user (sessiondriver) as a child process: copied beside an election
// file, since the program finds its file in its own folder, fed a script and read
// back line by line. The child inherits QT_QPA_PLATFORM=offscreen from the test.

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

// Boxes of the voter's road, as the driver reports them.
const QString kAdmitted = "Exclamation\tPollaris\tWarning! Users can only login once";
const QString kSpent = "Critical\tError!\tUser has already voted!";
const QString kThanks = "Information\tYour vote has been added\tThank you for voting!";

// Copies the driver into the folder of an election file; returns its path there.
inline QString installDriver(const QString &folder)
{
    const QString source = QCoreApplication::applicationDirPath() + QStringLiteral("/sessiondriver");
    const QString target = folder + QStringLiteral("/sessiondriver");
    const QFile::Permissions all = QFile::permissions(source) | QFile::ExeOther | QFile::ReadOther;
    return QFile::copy(source, target) && QFile::setPermissions(target, all) ? target : QString();
}

struct DriverRun {
    QProcess p;
    QByteArray pending;
    QStringList got;

    explicit DriverRun(const QString &driver, const QStringList &arguments = {})
    {
        p.setProgram(driver);
        p.setArguments(arguments);
    }
    ~DriverRun() { finish(0); }

    // Starts the program and waits until its main menu is up (or it has ended).
    bool start()
    {
        p.start();
        return p.waitForStarted(20000) && waitUntil([this] { return lines().contains(QStringLiteral("ready")); });
    }
    void send(const QStringList &script, bool last = false)
    {
        for (const QString &line : script)
            p.write(line.toUtf8() + '\n');
        p.waitForBytesWritten(5000);
        if (last)
            p.closeWriteChannel();
    }
    // False when the program ended, or went quiet for long, before done() held.
    template <typename Done> bool waitUntil(Done done)
    {
        while (!done())
            if (p.state() == QProcess::NotRunning || !p.waitForReadyRead(30000))
                return done();
        return true;
    }
    // SIGKILL, like pulling the plug; true when it hit a running program.
    bool killNow()
    {
        p.kill();
        return p.waitForFinished(20000) && p.exitStatus() == QProcess::CrashExit;
    }
    // Waits for the program to end by itself: its exit status, or -1 when it
    // crashed or had to be killed.
    int finish(int msecs = 60000)
    {
        if (!p.waitForFinished(msecs))
            killNow();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QStringList lines()
    {
        pending += p.readAllStandardOutput();
        for (int end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
            got << QString::fromUtf8(pending.left(end));
        return got;
    }
    // The lines of a kind, cut off: "ok\t" for the script lines whose handlers had returned, "box\t" for boxes.
    QStringList tagged(const QString &tag)
    {
        return lines().filter(QRegularExpression('^' + tag)).replaceInStrings(QRegularExpression('^' + tag), QString());
    }
    QStringList acknowledged() { return tagged(QStringLiteral("ok\t")); }
    QStringList boxes() { return tagged(QStringLiteral("box\t")); }
};
