#include "ServerWait.h"

#include "Shell.h"
#include "store/Connection.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>
#include <utility>

namespace ServerWait {

namespace {

std::function<void(bool, const QString &)> g_onChange;

// The window: a plain framed panel in the screens' colours, always on top of them.
class Window final : public QWidget {
public:
    Window() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    {
        setObjectName(QStringLiteral("frmServerWait"));
        // Named for what it says, so that a window list or a screen reader tells it from the boxes.
        setWindowTitle(QStringLiteral("Waiting for the election server"));
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(255, 255, 192));
        setPalette(p);
        setStyleSheet(QStringLiteral("#frmServerWait { border: 2px solid #000080; }"));
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(24, 18, 24, 18);
        lblWaiting = new QLabel(QStringLiteral("Waiting for the election server..."), this);
        QFont bold(QStringLiteral("Arial"));
        bold.setPointSizeF(12);
        bold.setBold(true);
        lblWaiting->setFont(bold);
        lblWaiting->setAlignment(Qt::AlignCenter);
        lblNote = new QLabel(QStringLiteral("This station goes on by itself as soon as the server answers again. "
                                            "Nothing that was saved is lost, and nothing is saved twice."),
                             this);
        lblNote->setWordWrap(true);
        lblNote->setAlignment(Qt::AlignCenter);
        lblDetail = new QLabel(this);
        lblDetail->setWordWrap(true);
        lblDetail->setAlignment(Qt::AlignCenter);
        lblDetail->setTextFormat(Qt::PlainText);
        layout->addWidget(lblWaiting);
        layout->addWidget(lblNote);
        layout->addWidget(lblDetail);
        setFixedWidth(420);
    }
    void showOver(const QString &detail)
    {
        lblDetail->setText(detail);
        adjustSize();
        // In the middle of the screen in use (the one visible window of the program).
        QRect area = QApplication::primaryScreen() ? QApplication::primaryScreen()->geometry() : QRect(0, 0, 800, 600);
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w != this && w->isVisible() && !w->isModal())
                area = w->geometry();
        move(area.center() - rect().center());
        show();
        raise();
    }
    QLabel *lblWaiting;
    QLabel *lblNote;
    QLabel *lblDetail;
};

Window *g_window = nullptr;
// How long the server has been out of reach, and why, for the election's record.
QElapsedTimer g_lost;
QString g_lostBecause, g_note;

void waiting(bool on, const QString &detail)
{
    if (g_onChange)
        g_onChange(on, detail);
    if (!on) {
        if (g_window)
            g_window->hide();
        if (g_lost.isValid())
            g_note = QStringLiteral("station reached the election server again after %1 s without it (%2)")
                         .arg(qMax<qint64>(1, g_lost.elapsed() / 1000))
                         .arg(g_lostBecause);
        g_lost.invalidate();
        return;
    }
    if (!g_lost.isValid()) {
        g_lost.start();
        g_lostBecause = detail;
    }
    if (!g_window)
        g_window = new Window;
    g_window->showOver(detail);
    // A second between tries, the window drawn meanwhile; no click or key reaches
    // the screens while the action under way waits.
    Shell::Pause(1000);
}

} // namespace

void install() { store::Connection::setServerWaiter(waiting); }

QString TakeNote() { return std::exchange(g_note, QString()); }

void setOnChange(std::function<void(bool, const QString &)> callback) { g_onChange = std::move(callback); }

} // namespace ServerWait
