#include "Screen.h"

#include "Look.h"
#include "Shell.h"
#include "store/RecordCursor.h"

#include <QCloseEvent>
#include <QGridLayout>

Screen::Screen(const QString &caption, int clientWidthTwips, int clientHeightTwips) : QWidget(nullptr)
{
    Look::window(this, caption, clientWidthTwips, clientHeightTwips);
    if (Shell::Kiosk()) {
        m_kioskFrame = Look::kioskFrame(caption);
        (new QGridLayout(m_kioskFrame))->addWidget(this, 0, 0, Qt::AlignCenter);
    }
}

Screen::~Screen()
{
    if (m_kioskFrame) {
        setParent(nullptr);
        delete m_kioskFrame;
    }
    Form_Terminate();
}

QString Screen::DatabasePath() { return Shell::Target(); }

void Screen::Show()
{
    if (!m_loaded) {
        m_loaded = true;
        const auto load = [this] {
            Form_Load();
            for (auto *cursor : findChildren<store::RecordCursor *>(Qt::FindDirectChildrenOnly))
                cursor->RefreshOnFirstUse();
        };
        // Shown from a handler, the screen's failures stop that handler at its own
        // boundary; shown at start-up, the load is a handler of its own.
        if (Shell::InHandler())
            load();
        else if (!Shell::Handle(load))
            return;
    }
    // A window that appears comes to the front by itself; one already visible is raised.
    QWidget *frame = window();
    const bool wasVisible = frame->isVisible();
    if (!wasVisible)
        Shell::NoteScreenChange();
    if (m_kioskFrame) {
        Look::showKioskFrame(m_kioskFrame);
    } else {
        show();
    }
    if (wasVisible)
        frame->raise();
    frame->activateWindow();
}

void Screen::Hide()
{
    if (window()->isVisible())
        Shell::NoteScreenChange();
    window()->hide();
}

void Screen::Form_Terminate() { Shell::End(0); }

void Screen::closeEvent(QCloseEvent *event)
{
    event->accept();
    Shell::End(0);
}
