#include "Shell.h"

#include "Accessibility.h"
#include "MessageBox.h"
#include "Screen.h"
#include "ServerWait.h"
#include "modGlobalVar.h"
#include "screens/frmMain.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QScreen>
#include <QSysInfo>
#include <QThread>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <utility>
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
int g_handlers = 0;
int g_screenChanges = 0;
// How often a handler that met another station's write is run again.
constexpr int kConflictAttempts = 6;
QString g_server;
bool g_serverGiven = false;
std::shared_ptr<store::Connection> g_election;

} // namespace

std::unique_ptr<Screen> &slot(Slot which) { return g_slots[size_t(which)]; }

bool Exists(Slot which) { return bool(g_slots[size_t(which)]); }

QString Path() { return g_testMode ? g_testFolder : QCoreApplication::applicationDirPath(); }

QString Target() { return g_serverGiven ? g_server : Path() + QStringLiteral("/candpos4.mdb"); }

void OpenElection()
{
    if (g_serverGiven && !store::Connection::isServer(g_server))
        throw store::StoreError(store::ServerUnreachable,
                                QStringLiteral("--server takes a connection string (postgresql://HOST/DATABASE or "
                                               "service=NAME), not \"%1\"")
                                    .arg(g_server));
    if (g_serverGiven)
        g_election = store::Connection::open(g_server);
    RecordIfPossible(QStringLiteral("station started"));
}

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

void Pause(int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
        QThread::msleep(50);
    }
}

void Record(const QString &what)
{
    store::Connection::open(Target())->appendLog(store::Connection::logStation(), what);
}

void RecordIfPossible(const QString &what) noexcept
{
    try {
        Record(what);
    } catch (...) {
    }
}

void End(int status)
{
    if (g_quiet)
        return;
    if (!g_endedWith && !g_ending)
        RecordIfPossible(QStringLiteral("station ended (status %1)").arg(status));
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
    RecordIfPossible(QStringLiteral("station stopped by a failure: Error %1: %2").arg(number).arg(text));
    Msg::Refusal(QStringLiteral("Error %1: %2").arg(number).arg(text));
    End(number == 0 ? 1 : (number & 0xff ? number & 0xff : 1));
}

bool Handle(const std::function<void()> &handler)
{
    // In test mode End returns; the program counts as ended all the same, and a
    // handler that goes on after a failure inside it reports nothing more.
    if (g_endedWith)
        return false;
    // What the action changes on the screen is said after it, as a sighted user sees it.
    const Accessibility::ShownValues shown;
    std::optional<std::pair<int, QString>> failure;
    store::StoreError::Outcome outcome = store::StoreError::Outcome::Failure;
    bool retryable = false;
    for (int attempt = 1;; ++attempt) {
        failure.reset();
        retryable = false;
        const int seenBefore = Seen(), othersBefore = Msg::otherBoxesShown(), screensBefore = g_screenChanges;
        const qsizetype answersBefore = Msg::answersGiven().size();
        // A run that is undone leaves the session variables as they were.
        const std::array<QString, 4> session{modGlobalVar::AdminUser, modGlobalVar::AdminPass, modGlobalVar::VoterUser,
                                             modGlobalVar::VoterPass};
        struct Depth {
            Depth() { ++g_handlers; }
            ~Depth() { --g_handlers; }
        } depth;
        try {
            handler();
        } catch (const store::StoreError &e) {
            failure.emplace(e.number(), e.text());
            outcome = e.outcome();
            retryable = e.isRetryable();
        } catch (const std::exception &e) {
            failure.emplace(0, QString::fromLocal8Bit(e.what()));
        }
        // Nothing of the handler's own was written: another station got there
        // first (a unit of writes is undone whole, a single write is refused
        // whole), the server was lost in the middle of a unit and reached again,
        // or the election stayed busy all through the wait.
        if (retryable)
            std::tie(modGlobalVar::AdminUser, modGlobalVar::AdminPass, modGlobalVar::VoterUser,
                     modGlobalVar::VoterPass) = std::tie(session[0], session[1], session[2], session[3]);
        // While the user has seen nothing of it yet, the handler runs again from its
        // first step and reads the election afresh: the log-in then finds the account
        // spent, the vote the new tally, the duplicate test the code just taken.
        // A save lost with the server was not written at all, whatever the user had
        // answered before it: as long as nothing but questions was seen, it runs again
        // with the same answers, not asked again, and completes once.
        const bool onlyQuestions = Msg::otherBoxesShown() == othersBefore && g_screenChanges == screensBefore;
        if (!retryable || outcome == store::StoreError::Outcome::Busy || g_endedWith || attempt == kConflictAttempts ||
            (outcome == store::StoreError::Outcome::Resumed ? !onlyQuestions : Seen() != seenBefore))
            break;
        if (outcome == store::StoreError::Outcome::Resumed)
            Msg::answerAgain(Msg::answersGiven().mid(answersBefore));
        if (outcome == store::StoreError::Outcome::Conflict)
            QThread::msleep(QRandomGenerator::global()->bounded(1u, 4u << attempt));
    }
    Msg::answerAgain({});
    if (failure && retryable && !g_endedWith) {
        // The user has seen part of the action already (a question answered), the
        // same row was taken from under it again and again, or the wait ran out:
        // the action is refused, and the station goes on as it was.
        if (outcome == store::StoreError::Outcome::Busy)
            Msg::Refusal(QStringLiteral("The election is busy: another station has been saving for more than %1 "
                                        "seconds. Nothing was saved: please press the same button again.")
                             .arg(qMax(1, store::Connection::lockWaitMs() / 1000)));
        else if (outcome == store::StoreError::Outcome::Resumed)
            Msg::Refusal(QStringLiteral("The connection to the election server was lost in the middle of this, so "
                                        "nothing of it was saved. Look at it again, and repeat what is still needed."));
        else
            Msg::Refusal(QStringLiteral("Another station changed the same records at the same moment, so nothing of "
                                        "this was saved. Look at them again, and repeat what is still needed."));
        return false;
    }
    // What the station's account may not do is refused, and the station goes on.
    if (failure && outcome == store::StoreError::Outcome::Refused && !g_endedWith) {
        Msg::Refusal(failure->second);
        return false;
    }
    if (failure && !g_endedWith)
        Fatal(failure->first, failure->second);
    if (!failure)
        shown.AnnounceChanges();
    // A server reached again during the action goes on the record once the action is over.
    if (const QString note = ServerWait::TakeNote(); !note.isEmpty())
        RecordIfPossible(note);
    return !failure;
}

int Seen() { return Msg::shownCount() + g_screenChanges; }

void NoteScreenChange() { ++g_screenChanges; }

bool InHandler() { return g_handlers > 0; }

int Run()
{
    // A failure to reach the election, or of the main menu's load, is reported as
    // any other and ends the program.
    Handle([] {
        OpenElection();
        if (Kiosk()) {
            // A station opens on its election or not at all: voters never meet a
            // main menu that fails at their first click. The ballot is what every
            // station may read.
            store::RecordCursor dcCheck(QStringLiteral("dcCheck"), QStringLiteral("Positions"), nullptr);
            dcCheck.setDatabaseName(Screen::DatabasePath());
            dcCheck.Refresh();
        }
        Show<frmMain>();
    });
    int status = QApplication::exec();
    End(status);
    return status;
}

Application::Application(int &argc, char **argv) : QApplication(scaleForDisplay(argc, argv), argv)
{
    setApplicationName(QStringLiteral("Pollaris"));
    initResources();
    Accessibility::install();
    // A station waits for a lost election server rather than ending.
    ServerWait::install();
    setQuitOnLastWindowClosed(false);
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8.25);
    setFont(font);
    // --server CONNINFO (or --server=CONNINFO) points the program at an election
    // on a PostgreSQL server.
    const QStringList args = arguments();
    // --station NAME names this station in the election's record (by default, the
    // computer's host name).
    QString station = QSysInfo::machineHostName();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--server"))
            g_serverGiven = true, g_server = args.value(++i);
        else if (args[i].startsWith(QLatin1String("--server=")))
            g_serverGiven = true, g_server = args[i].mid(9);
        else if (args[i] == QLatin1String("--station"))
            station = args.value(++i);
        else if (args[i].startsWith(QLatin1String("--station=")))
            station = args[i].mid(10);
    }
    store::Connection::setLogStation(station.isEmpty() ? QStringLiteral("unnamed station") : station);
}

void setTestMode(const QString &programFolder, const QString &server)
{
    g_testMode = true;
    g_testFolder = programFolder;
    g_server = server;
    g_serverGiven = !server.isEmpty();
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
    g_election.reset();
    store::Connection::closeAll();
}

} // namespace Shell
