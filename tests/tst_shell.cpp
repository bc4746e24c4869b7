// The shell: failures reported once, end on close.

#include "TestSupport.h"

#include "screens/frmAdminLogIn.h"
#include "screens/frmAdminStart.h"
#include "screens/frmMain.h"
#include "screens/frmMainAdmin.h"
#include "screens/frmVoter.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"

#include <QtWidgets>

class ShellTest : public ScreenTest {
    Q_OBJECT

private slots:
    void closingAnyScreenEndsTheProgram()
    {
        frmMain &menu = Shell::Show<frmMain>();
        QCOMPARE(Shell::endedWith(), std::nullopt);
        menu.close();
        QCOMPARE(Shell::endedWith(), std::optional<int>(0));
    }

    void aFailureStopsItsHandlerAndIsReportedOnce_data()
    {
        QTest::addColumn<int>("where");
        QTest::addColumn<QString>("table");
        QTest::newRow("in a handler") << 0 << "Users";
        QTest::newRow("in a load outside any handler") << 1 << "Users";
        QTest::newRow("in a load inside a handler") << 2 << "Positions";
    }
    void aFailureStopsItsHandlerAndIsReportedOnce()
    {
        QFETCH(int, where);
        QFETCH(QString, table);
        if (where == 0) {
            frmVoterLogIn &login = Shell::Show<frmVoterLogIn>();
            db->exec("DROP TABLE Users");
            click(login.cmdOK);
            QVERIFY(login.isVisible() && !Shell::Exists(Shell::Slot::frmVoter));
        } else if (where == 1) {
            db->exec("DROP TABLE Users");
            QVERIFY(!Shell::Show<frmAdminStart>().isVisible());
        } else {
            frmAdminStart &start = Shell::Show<frmAdminStart>();
            db->exec("DROP TABLE Positions");
            click(start.cmdCandPos);
            QVERIFY(!start.isVisible() && !Shell::Get<frmMainAdmin>().isVisible());
        }
        const QStringList boxes = shownBoxes();
        QVERIFY2(boxes.size() == 1 && boxes[0].startsWith("Critical|Pollaris|Error 1: no such table: " + table),
                 qPrintable(boxes.join('\n')));
        QVERIFY(Shell::endedWith().value_or(0) != 0);
        // Once ended, no handler runs any more.
        click(Shell::Show<frmMain>().lblLogAdmin);
        QVERIFY(!Shell::Exists(Shell::Slot::frmAdminLogIn) && shownBoxes().isEmpty());
    }
};

POLLARIS_TEST_MAIN(ShellTest)
#include "tst_shell.moc"
