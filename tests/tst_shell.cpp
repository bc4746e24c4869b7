// The shell: one object per screen, load handlers once, the message-box seam,
// the one place where failures end the program, and the main menu.

#include "TestSupport.h"

#include "screens/frmAdminLogIn.h"
#include "screens/frmMain.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"

#include <QtWidgets>

// A screen of the test's own, in a slot the test binary uses for nothing else.
class CountingScreen final : public Screen {
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmCountVotes;
    CountingScreen() : Screen(QStringLiteral("Counting"), 3000, 2000) {}
    void Form_Load() override { ++loads; }
    static inline int loads = 0;
};

class ShellTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

private slots:
    void init()
    {
        db = std::make_unique<ElectionFolder>();
        startProgramIn(db->folder());
        CountingScreen::loads = 0;
    }
    void cleanup()
    {
        QCOMPARE(shownBoxes(), QStringList());
        QVERIFY(!Msg::hasUnusedAnswer());
        Shell::reset();
    }

    void eachScreenIsOneObjectLoadedOnceAtItsFirstShow()
    {
        CountingScreen &first = Shell::Get<CountingScreen>();
        QCOMPARE(CountingScreen::loads, 0);
        QCOMPARE(&Shell::Show<CountingScreen>(), &first);
        QVERIFY(first.isVisible() && CountingScreen::loads == 1);
        Shell::Hide<CountingScreen>();
        QVERIFY(!first.isVisible());
        Shell::Show<CountingScreen>();
        QCOMPARE(CountingScreen::loads, 1);
    }

    void messageBoxesAreRecordedAndAnsweredNoUnlessToldOtherwise()
    {
        QVERIFY(!Msg::Confirmation("Are you sure?"));
        Msg::setNextAnswer(Msg::Answer::Yes);
        QVERIFY(Msg::Confirmation("Are you sure?", "Delete User?"));
        QCOMPARE(shownBoxes(), (QStringList{box(Msg::Icon::Question, "Pollaris", "Are you sure?"),
                                            box(Msg::Icon::Question, "Delete User?", "Are you sure?")}));
    }

    void aFailureOfTheEngineIsReportedAndEndsTheProgram()
    {
        // A failure in a handler reaches the one failure handler.
        frmVoterLogIn &login = Shell::Show<frmVoterLogIn>();
        db->exec("DROP TABLE Users");
        click(login.cmdOK);
        const QString boxes = shownBoxes().join('\n');
        QVERIFY2(boxes.startsWith("Critical|Pollaris|Error 1: no such table") && !boxes.contains('\n'),
                 qPrintable(boxes));
        QVERIFY(Shell::endedWith().value_or(0) != 0);
    }

    void theMainMenuLeadsToBothLogInsAndClosingAScreenEndsTheProgram()
    {
        click(Shell::Show<frmMain>().lblLogUser);
        QVERIFY(!Shell::Get<frmMain>().isVisible() && Shell::Get<frmVoterLogIn>().isVisible());
        click(Shell::Show<frmMain>().lblLogAdmin);
        QVERIFY(!Shell::Get<frmMain>().isVisible() && Shell::Get<frmAdminLogIn>().isVisible());
        QCOMPARE(Shell::endedWith(), std::nullopt);
        Shell::Get<frmAdminLogIn>().close();
        QCOMPARE(Shell::endedWith(), std::optional<int>(0));
        Shell::reset();

        // Exit ends it too.
        startProgramIn(db->folder());
        click(Shell::Show<frmMain>().lblExit);
        QCOMPARE(Shell::endedWith(), std::optional<int>(0));
    }
};

POLLARIS_TEST_MAIN(ShellTest)
#include "tst_shell.moc"
