#include "Guessing.h"

#include "Shell.h"

#include "store/Connection.h"

#include <QApplication>

namespace Guessing {

namespace {

int g_failures = 0;
std::function<void(int)> g_pause;

void pauseDrawing(int ms)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Shell::Pause(ms);
    QApplication::restoreOverrideCursor();
}

} // namespace

int NextWaitMs()
{
    if (g_failures < kFreeTries)
        return 0;
    const int doubling = qMin(g_failures - kFreeTries, 15);
    return qMin(1000 << doubling, kLongestWaitMs);
}

void BeforeAttempt()
{
    if (const int ms = NextWaitMs(); ms > 0)
        (g_pause ? g_pause : pauseDrawing)(ms);
}

void Failed(LogIn kind)
{
    ++g_failures;
    // Each failed administrator's log-in is in the election's record, never what was typed.
    if (kind == LogIn::Administrator)
        Shell::Record(QStringLiteral("administrator log-in failed"));
    store::Connection::open(Shell::Target())
        ->countFailure(kind == LogIn::Administrator ? QStringLiteral("administrator log-ins failed")
                                                    : QStringLiteral("voter log-ins failed"));
}

void Succeeded() { g_failures = 0; }

void setPause(std::function<void(int)> pause) { g_pause = std::move(pause); }

void reset() { g_failures = 0; }

} // namespace Guessing
