#include "Guessing.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

namespace Guessing {

namespace {

int g_failures = 0;
std::function<void(int)> g_pause;

void pauseDrawing(int ms)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
        QThread::msleep(50);
    }
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

void Failed() { ++g_failures; }

void Succeeded() { g_failures = 0; }

void setPause(std::function<void(int)> pause) { g_pause = std::move(pause); }

void reset() { g_failures = 0; }

} // namespace Guessing
