#include "Screen.h"

#include "Look.h"
#include "Shell.h"
#include "store/RecordCursor.h"

#include <QCloseEvent>

Screen::Screen(const QString &caption, int clientWidthTwips, int clientHeightTwips) : QWidget(nullptr)
{
    Look::window(this, caption, clientWidthTwips, clientHeightTwips);
}

Screen::~Screen() { Form_Terminate(); }

QString Screen::DatabasePath() { return Shell::Target(); }

void Screen::Show()
{
    if (!m_loaded) {
        m_loaded = true;
        const auto load = [this] {
            Form_Load();
            for (auto *cursor : findChildren<store::RecordCursor *>(Qt::FindDirectChildrenOnly))
                cursor->Refresh();
        };
        // Shown from a handler, the screen's failures stop that handler at its own
        // boundary; shown at start-up, the load is a handler of its own.
        if (Shell::InHandler())
            load();
        else if (!Shell::Handle(load))
            return;
    }
    // A window that appears comes to the front by itself; one already visible is raised.
    const bool wasVisible = isVisible();
    if (!wasVisible)
        Shell::NoteScreenChange();
    show();
    if (wasVisible)
        raise();
    activateWindow();
}

void Screen::Hide()
{
    if (isVisible())
        Shell::NoteScreenChange();
    hide();
}

void Screen::Form_Terminate() { Shell::End(0); }

void Screen::closeEvent(QCloseEvent *event)
{
    event->accept();
    Shell::End(0);
}
