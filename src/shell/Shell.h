#pragma once

#include <QApplication>
#include <QString>
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

// A polling-station kiosk (POLLARIS_KIOSK=1, set by pollaris-kiosk): every screen
// fills the display without a frame, its content centred and enlarged.
bool Kiosk();

// Ends the program at once: no further handler runs and nothing is asked.
void End(int status);

// Reports a failure of the engine or of a screen (number and text) in a critical
// box, then ends the program with a non-zero status.
void Fatal(int number, const QString &text);

// Opens the program on its start-up screen and runs it; returns the exit status.
int Run();

// The application object: every event passes through notify, the one place where
// failures are caught and reported.
class Application final : public QApplication {
    Q_OBJECT
public:
    Application(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// --- test seam ---------------------------------------------------------------
// In test mode End records the status instead of ending the process, and the
// program's folder is the one given.
void setTestMode(const QString &programFolder);
std::optional<int> endedWith();
// Destroys every screen without ending anything, and forgets the last End.
void reset();

} // namespace Shell
