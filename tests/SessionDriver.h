#pragma once

// Stations: the scripted user (sessiondriver) as a child process on an election, fed
// script lines and read back line by line.

#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

// Boxes of the voter's road, as the driver reports them.
const QString kAdmitted = "Exclamation\tPollaris\tWarning! Users can only login once";
const QString kSpent = "Critical\tError!\tUser has already voted!";
const QString kThanks = "Information\tYour vote has been added\tThank you for voting!";
// The boxes of a day without faults: those, and confirmations (answered Yes).
inline bool everyday(const QString &box)
{
    return box == kAdmitted || box == kSpent || box == kThanks || box.startsWith("Question\t");
}
// The program's sessions on an election's server, for "SELECT count(*) " and the like.
const QString kSessions = "FROM pg_stat_activity WHERE datname = current_database() AND application_name = 'pollaris'";

// Accounts v1/pw1 to vN/pwN, none of them voted.
inline void addVoters(const ElectionFolder &db, int n)
{
    db.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                           "INSERT INTO Users SELECT 'Voter ' || i, 'v' || i, 'pw' || i, false FROM n")
                .arg(n));
}

struct DriverRun {
    QProcess p;
    QByteArray pending;
    QStringList got;
    QStringList unanswered; // lines sent and not yet acknowledged
    qsizetype taken = 0;    // lines of got handed on by take()
    bool up = false;        // "ready" seen

    // A station on the election: the driver is copied (once) into its folder, where the program
    // finds its file; the child inherits QT_QPA_PLATFORM=offscreen.
    explicit DriverRun(const ElectionFolder &db)
    {
        const QString source = QCoreApplication::applicationDirPath() + "/sessiondriver",
                      driver = db.folder() + "/sessiondriver";
        if (!QFile::exists(driver) && QFile::copy(source, driver))
            QFile::setPermissions(driver, QFile::permissions(source) | QFile::ExeOther | QFile::ReadOther);
        p.setProgram(driver);
        p.setArguments(db.programArguments());
    }
    ~DriverRun() { finish(0); }

    // Starts the program and waits until its main menu is up (or it has ended).
    bool start()
    {
        p.start();
        return p.waitForStarted(20000) && waitUntil([this] { return lines().contains(QStringLiteral("ready")); });
    }
    // Starts the program without waiting for it; ready() says when its main menu is up.
    void launch() { p.start(); }
    bool ready() { return up || (up = lines().contains(QStringLiteral("ready"))); }
    void send(const QStringList &script, bool last = false)
    {
        for (const QString &line : script)
            p.write(line.toUtf8() + '\n');
        unanswered << script;
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

    // What became of the lines sent, as it becomes known: outcome(line, true, said) once its handler
    // has returned, with what the program said meanwhile ("box\t...", "took\t..."); once the program
    // has ended, outcome(line, false, ...) for each line it never finished, the first with what it
    // said last. False once the program has ended.
    template <typename Outcome> bool take(Outcome outcome)
    {
        const bool running = p.state() != QProcess::NotRunning;
        const QStringList all = lines();
        for (qsizetype i = taken; i < all.size(); ++i)
            if (all[i].startsWith("ok\t") && !unanswered.isEmpty())
                outcome(unanswered.takeFirst(), true, all.mid(taken, i - taken)), taken = i + 1;
        for (; !running && !unanswered.isEmpty(); taken = all.size())
            outcome(unanswered.takeFirst(), false, all.mid(taken));
        return running;
    }
};
