// The shell in a polling-station kiosk (POLLARIS_KIOSK=1): every screen in a
// frameless full-screen window of its own, centred, which nothing but the
// program's own Exit ends.

#include "TestSupport.h"

#include "screens/frmMain.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"

#include <QtWidgets>

class KioskTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    // The top-level windows on the display.
    static QList<QWidget *> shown()
    {
        QList<QWidget *> windows;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible())
                windows << w;
        return windows;
    }

private slots:
    void init() { db = std::make_unique<ElectionFolder>(), startProgramIn(db->folder()); }
    void cleanup()
    {
        QCOMPARE(shownBoxes(), QStringList());
        Shell::reset();
    }

    void eachScreenFillsTheDisplayWithoutAFrameAndCannotBeClosed()
    {
        frmMain &menu = Shell::Show<frmMain>();
        QWidget *frame = menu.window();
        QVERIFY(frame != &menu && shown() == QList<QWidget *>{frame});
        QVERIFY(frame->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(frame->isFullScreen() && frame->size() == frame->screen()->size());
        QCOMPARE(menu.mapTo(frame, menu.rect().center()), frame->rect().center());
        QCOMPARE(frame->windowTitle(), QStringLiteral("Pollaris"));

        QVERIFY(!frame->close());
        QVERIFY(frame->isVisible() && !Shell::endedWith());

        // The voter's road moves from one full-screen window to the next and back.
        click(menu.lblLogUser);
        frmVoterLogIn &login = Shell::Get<frmVoterLogIn>();
        QVERIFY(login.window() != frame && shown() == QList<QWidget *>{login.window()});
        QVERIFY(login.window()->isFullScreen() && login.txtUsername->isVisible());
        click(login.cmdCancel);
        QVERIFY(shown() == QList<QWidget *>{frame} && menu.isVisible());

        // Exit still ends the program (the launcher starts it again).
        click(menu.lblExit);
        QCOMPARE(Shell::endedWith(), std::optional<int>(0));
    }
};

int main(int argc, char **argv)
{
    qputenv("POLLARIS_KIOSK", "1");
    Shell::Application app(argc, argv);
    KioskTest tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_kiosk.moc"
