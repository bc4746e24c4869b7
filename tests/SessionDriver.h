#pragma once

// The scripted user (sessiondriver) as a child process: installed beside an
// election file, since the program finds its file in its own folder, fed a
// script and read back line by line.

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <csignal>
#include <memory>
#include <sys/types.h>

// Copies the driver into the folder of an election file; returns its path there.
inline QString installDriver(const QString &folder)
{
    const QString source = QCoreApplication::applicationDirPath() + QStringLiteral("/sessiondriver");
    const QString target = folder + QStringLiteral("/sessiondriver");
    QFile::remove(target);
    if (!QFile::copy(source, target))
        return QString();
    QFile::setPermissions(target, QFile::permissions(source) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther |
                                      QFile::ReadOther);
    return target;
}

class DriverRun {
public:
    explicit DriverRun(const QString &driver)
    {
        m_process.setProgram(driver);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(env);
    }
    ~DriverRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    QProcess &process() { return m_process; }

    // Starts the program and waits until its main menu is up (or it has ended).
    bool start()
    {
        m_process.start();
        if (!m_process.waitForStarted(20000))
            return false;
        return waitForLine(QStringLiteral("ready"));
    }
    void send(const QStringList &script)
    {
        for (const QString &line : script)
            m_process.write(line.toUtf8() + '\n');
        m_process.waitForBytesWritten(5000);
    }
    void endInput() { m_process.closeWriteChannel(); }

    // True when a line equal to wanted has arrived; false when the program ended
    // or nothing came for a long time.
    bool waitForLine(const QString &wanted, int msecs = 30000)
    {
        for (;;) {
            collect();
            if (m_lines.contains(wanted))
                return true;
            if (m_process.state() == QProcess::NotRunning || !m_process.waitForReadyRead(msecs)) {
                collect();
                return m_lines.contains(wanted);
            }
        }
    }
    // True once count actions have been acknowledged; false when the program
    // ended first or nothing came for a long time.
    bool waitForAcknowledged(int count, int msecs = 30000)
    {
        while (acknowledged().size() < count) {
            if (m_process.state() == QProcess::NotRunning || !m_process.waitForReadyRead(msecs))
                return acknowledged().size() >= count;
        }
        return true;
    }
    // SIGKILL: no handler, no clean-up, exactly like pulling the plug on the program.
    bool killNow()
    {
        const bool wasRunning = m_process.state() == QProcess::Running && ::kill(pid_t(m_process.processId()), SIGKILL) == 0;
        m_process.waitForFinished(20000);
        collect();
        return wasRunning && m_process.exitStatus() == QProcess::CrashExit;
    }
    // Waits for the program to end by itself; its exit status, or -1 when it
    // crashed or did not end.
    int finish(int msecs = 60000)
    {
        if (!m_process.waitForFinished(msecs) && m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
            collect();
            return -1;
        }
        collect();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    QStringList lines()
    {
        collect();
        return m_lines;
    }
    // The script lines whose handlers had returned.
    QStringList acknowledged()
    {
        QStringList done;
        for (const QString &line : lines())
            if (line.startsWith(QLatin1String("ok\t")))
                done << line.mid(3);
        return done;
    }
    QStringList boxes()
    {
        QStringList shown;
        for (const QString &line : lines())
            if (line.startsWith(QLatin1String("box\t")))
                shown << line.mid(4);
        return shown;
    }
    QString errors() { return QString::fromUtf8(m_process.readAllStandardError()); }

private:
    void collect()
    {
        m_pending += m_process.readAllStandardOutput();
        int end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            m_lines << QString::fromUtf8(m_pending.left(end));
            m_pending.remove(0, end + 1);
        }
    }
    QProcess m_process;
    QByteArray m_pending;
    QStringList m_lines;
};
