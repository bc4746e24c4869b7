#include "Shell.h"

#include "MessageBox.h"
#include "Screen.h"
#include "screens/frmMain.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

// Resources of a static library must be registered by hand.
static void initResources() { Q_INIT_RESOURCE(resources); }

namespace Shell {

namespace {

std::array<std::unique_ptr<Screen>, size_t(Slot::Count)> g_slots;
bool g_testMode = false;
QString g_testFolder;
std::optional<int> g_endedWith;
bool g_ending = false;
bool g_quiet = false;

} // namespace

std::unique_ptr<Screen> &slot(Slot which) { return g_slots[size_t(which)]; }

bool Exists(Slot which) { return bool(g_slots[size_t(which)]); }

QString Path() { return g_testMode ? g_testFolder : QCoreApplication::applicationDirPath(); }

bool Kiosk()
{
    static const bool kiosk = qEnvironmentVariableIntValue("POLLARIS_KIOSK") == 1;
    return kiosk;
}

namespace {

// In a kiosk the screens are drawn larger, by one factor for all of them, so
// that the largest (the voter accounts panel is the widest at 592 pixels, the
// ballot the tallest at 489) fills most of the display. The display's size is
// read by a first connection to it, before the program's own; an administrator
// may set the factor instead with QT_SCALE_FACTOR.
int &scaleForDisplay(int &argc, char **argv)
{
    if (Kiosk() && !qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        QSize display;
        {
            // On copies: the probe takes Qt's own options out of what it gets.
            int probeArgc = argc;
            std::vector<char *> probeArgv(argv, argv + argc + 1);
            QGuiApplication probe(probeArgc, probeArgv.data());
            if (QScreen *screen = QGuiApplication::primaryScreen())
                display = screen->size();
        }
        // In quarter steps: most displays then hold a whole number of points.
        const qreal factor = std::floor(qMin(display.width() / 592.0, display.height() / 489.0) * 0.9 * 4) / 4;
        if (factor > 1.0)
            qputenv("QT_SCALE_FACTOR", QByteArray::number(factor, 'f', 2));
    }
    return argc;
}

} // namespace

void End(int status)
{
    if (g_quiet)
        return;
    if (g_testMode) {
        if (!g_endedWith)
            g_endedWith = status;
        return;
    }
    if (g_ending)
        return;
    g_ending = true;
    for (QWidget *w : QApplication::topLevelWidgets())
        w->hide();
    // Every change is already on disk; closing the file removes its journal.
    store::Connection::closeAll();
    std::fflush(nullptr);
    std::_Exit(status);
}

void Fatal(int number, const QString &text)
{
    Msg::Refusal(QStringLiteral("Error %1: %2").arg(number).arg(text));
    End(number == 0 ? 1 : (number & 0xff ? number & 0xff : 1));
}

int Run()
{
    try {
        if (Kiosk()) {
            // A station opens on its election or not at all: voters never meet a
            // main menu that fails at their first click.
            store::RecordCursor dcCheck(QStringLiteral("dcCheck"), QStringLiteral("Administrators"), nullptr);
            dcCheck.setDatabaseName(Screen::DatabasePath());
            dcCheck.Refresh();
        }
        Show<frmMain>();
    } catch (const store::StoreError &e) {
        Fatal(e.number(), e.text());
    } catch (const std::exception &e) {
        Fatal(0, QString::fromLocal8Bit(e.what()));
    }
    int status = QApplication::exec();
    End(status);
    return status;
}

Application::Application(int &argc, char **argv) : QApplication(scaleForDisplay(argc, argv), argv)
{
    setApplicationName(QStringLiteral("Pollaris"));
    initResources();
    setQuitOnLastWindowClosed(false);
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8.25);
    setFont(font);
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const store::StoreError &e) {
        Fatal(e.number(), e.text());
    } catch (const std::exception &e) {
        Fatal(0, QString::fromLocal8Bit(e.what()));
    }
    return false;
}

void setTestMode(const QString &programFolder)
{
    g_testMode = true;
    g_testFolder = programFolder;
    Msg::setRecording(true);
}

std::optional<int> endedWith() { return g_endedWith; }

void reset()
{
    g_quiet = true;
    for (auto &s : g_slots)
        s.reset();
    g_quiet = false;
    g_endedWith.reset();
    store::Connection::closeAll();
}

} // namespace Shell
