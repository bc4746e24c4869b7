#pragma once

#include <QApplication>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class Screen;

namespace Shell {

// The fourteen screen slots, in the order the screens are registered.
enum class Slot {
    frmMainAdmin,
    frmAddPos,
    frmAddCandidate,
    frmEditCand,
    frmAdminUsers,
    frmAddUser,
    frmEditUser,
    frmAdminStart,
    frmMain,
    frmAdminLogIn,
    frmChangeAdminPW,
    frmVoter,
    frmVoterLogIn,
    frmCountVotes,
    Count
};

std::unique_ptr<Screen> &slot(Slot which);

// The one object of screen T, created at its first use.
template <class T> T &Get()
{
    auto &s = slot(T::kSlot);
    if (!s)
        s.reset(new T);
    return static_cast<T &>(*s);
}

// Show: create if need be, load once, make visible and bring to the front.
template <class T> T &Show()
{
    T &screen = Get<T>();
    screen.Show();
    return screen;
}

template <class T> void Hide() { Get<T>().Hide(); }

bool Exists(Slot which);

// The folder of the running program, where the election file lives.
QString Path();

// Where the election is: the server named by --server CONNINFO on the command
// line, or else the file candpos4.mdb in the program's folder.
QString Target();

// With a server named, connects to it at once, so that a server out of reach is
// reported at start rather than at the first screen that reads. The station's
// start goes on the election's record.
void OpenElection();

// Appends an entry to the election's own record, as coming from this station (its
// host name, or the name given with --station NAME). Record fails as any write
// does; RecordIfPossible records what it can and nothing else (a station that
// ends because its election cannot be reached cannot record that there).
void Record(const QString &what);
void RecordIfPossible(const QString &what) noexcept;

// A polling-station kiosk (POLLARIS_KIOSK=1, set by pollaris-kiosk): every screen
// fills the display without a frame, its content centred and enlarged.
bool Kiosk();

// Waits ms milliseconds inside a handler, the screens drawn meanwhile and no click
// or key taken.
void Pause(int ms);

// Ends the program at once: no further handler runs and nothing is asked.
void End(int status);

// Reports a failure of the engine or of a screen (number and text) in a critical
// box, then ends the program with a non-zero status.
void Fatal(int number, const QString &text);

// Runs one handler of a screen, one that Qt calls, to its end. A failure of the
// store or of a screen object stops it here, at the handler's own boundary, and is
// reported through Fatal: nothing is ever thrown back into Qt. Once the program has
// ended no further handler runs. False when the handler did not run to its end.
// A handler that meets another station's write to the same records at the same
// moment (a conflict of the store) runs again from its first step, a few times,
// as long as nothing of it has been seen; otherwise it ends in a refusal that
// says so, and the program goes on.
bool Handle(const std::function<void()> &handler);
// Counts what the user has seen: every message box and every screen shown or hidden.
int Seen();
void NoteScreenChange();
// True while a handler runs: a screen loaded from inside one leaves its failures to
// that handler's boundary.
bool InHandler();

// Connects a control's signal to a handler of a screen, run through Handle.
template <class Control, class Signal, class Form, class... Args>
QMetaObject::Connection Connect(const Control *control, Signal signal, Form *form, void (Form::*handler)(Args...))
{
    return QObject::connect(control, signal, form,
                            [form, handler](Args... args) { Handle([&] { (form->*handler)(args...); }); });
}

// Opens the program on its start-up screen and runs it; returns the exit status.
int Run();

// The application object: the program's name, resources and font.
class Application final : public QApplication {
    Q_OBJECT
public:
    Application(int &argc, char **argv);
};

// --- test seam ---------------------------------------------------------------
// In test mode End records the status instead of ending the process, and the
// program's folder is the one given; with a server given, the election is there.
void setTestMode(const QString &programFolder, const QString &server = QString());
std::optional<int> endedWith();
// Destroys every screen without ending anything, and forgets the last End.
void reset();

} // namespace Shell
