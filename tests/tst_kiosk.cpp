// Kiosk mode: each screen in a frameless, centred full-screen window that only Exit ends.

#include "TestSupport.h"

#include "screens/frmMain.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"

#include <QtWidgets>

class KioskTest : public ScreenTest {
    Q_OBJECT

    static QList<QWidget *> shown()
    {
        QList<QWidget *> windows = QApplication::topLevelWidgets();
        windows.removeIf([](QWidget *w) { return !w->isVisible(); });
        return windows;
    }

private slots:
    void eachScreenFillsTheDisplayWithoutAFrameAndCannotBeClosed()
    {
        frmMain &menu = Shell::Show<frmMain>();
        QWidget *frame = menu.window();
        QVERIFY(frame != &menu && shown() == QList<QWidget *>{frame});
        QVERIFY(frame->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(frame->isFullScreen() && frame->size() == frame->screen()->size());
        QCOMPARE(menu.mapTo(frame, menu.rect().center()), frame->rect().center());

        QVERIFY(!frame->close());
        QVERIFY(frame->isVisible() && !Shell::endedWith());

        click(menu.lblLogUser);
        frmVoterLogIn &login = Shell::Get<frmVoterLogIn>();
        QVERIFY(login.window() != frame && shown() == QList<QWidget *>{login.window()});
        QVERIFY(login.window()->isFullScreen() && login.txtUsername->isVisible());
        click(login.cmdCancel);
        QVERIFY(shown() == QList<QWidget *>{frame} && menu.isVisible());

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
