// The shell: one object per screen, load handlers once, the message-box seam,
// the one place where failures end the program, and the main menu.

#include "TestSupport.h"

#include "screens/frmAdminLogIn.h"
#include "screens/frmMain.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"
#include "shell/Screen.h"
#include "store/RecordCursor.h"

#include <QFile>
#include <QPushButton>
#include <memory>

namespace {

// A screen of the test's own, in a slot the test binary uses for nothing else.
class CountingScreen final : public Screen {
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmCountVotes;
    CountingScreen() : Screen(QStringLiteral("Counting"), 3000, 2000)
    {
        dcUser = new store::RecordCursor(QStringLiteral("dcUser"), QStringLiteral("Users"), this);
        cmdRead = Look::button(this, QStringLiteral("cmdRead"), QStringLiteral("&Read"));
        connect(cmdRead, &QPushButton::clicked, this, &CountingScreen::cmdRead_Click);
    }
    void Form_Load() override
    {
        ++loads;
        dcUser->setDatabaseName(DatabasePath());
    }
    void cmdRead_Click()
    {
        dcUser->setRecordSource(QStringLiteral("Select * from Users"));
        dcUser->Refresh();
        dcUser->MoveFirst();
    }
    static inline int loads = 0;
    store::RecordCursor *dcUser;
    QPushButton *cmdRead;
};

} // namespace

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
        QVERIFY(!Shell::Exists(Shell::Slot::frmCountVotes));
        CountingScreen &first = Shell::Get<CountingScreen>();
        QCOMPARE(CountingScreen::loads, 0);
        QCOMPARE(&Shell::Get<CountingScreen>(), &first);
        Shell::Show<CountingScreen>();
        QVERIFY(first.isVisible());
        // After the load handler, each cursor was refreshed with its record source.
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('n','u','p',0)"));
        QVERIFY(first.dcUser->BOF() && first.dcUser->EOF_());
        Shell::Hide<CountingScreen>();
        QVERIFY(!first.isVisible());
        Shell::Show<CountingScreen>();
        QCOMPARE(CountingScreen::loads, 1);
        QCOMPARE(&Shell::Show<CountingScreen>(), &first);
        QCOMPARE(first.windowTitle(), QStringLiteral("Counting"));
        QCOMPARE(first.size(), QSize(200, 133));
        QCOMPARE(Shell::endedWith(), std::nullopt);
    }

    void messageBoxesAreRecordedWithIconTitleAndText()
    {
        Msg::Refusal(QStringLiteral("Please enter a name!"));
        Msg::Warning(QStringLiteral("Select a User!"));
        Msg::Notice(QStringLiteral("Thank you for voting!"), QStringLiteral("Your vote has been added"));
        QVERIFY(!Msg::Confirmation(QStringLiteral("Are you sure?"), QStringLiteral("Delete User?")));
        Msg::setNextAnswer(Msg::Answer::Yes);
        QVERIFY(Msg::Confirmation(QStringLiteral("Are you sure?"), QStringLiteral("Delete User?")));
        QCOMPARE(shownBoxes(), (QStringList{
                                   box(Msg::Icon::Critical, "Pollaris", "Please enter a name!"),
                                   box(Msg::Icon::Exclamation, "Pollaris", "Select a User!"),
                                   box(Msg::Icon::Information, "Your vote has been added", "Thank you for voting!"),
                                   box(Msg::Icon::Question, "Delete User?", "Are you sure?"),
                                   box(Msg::Icon::Question, "Delete User?", "Are you sure?"),
                               }));
    }

    void aFailureOfTheEngineIsReportedAndEndsTheProgram()
    {
        // A failure in a handler: the click reaches the one failure handler.
        CountingScreen &loaded = Shell::Show<CountingScreen>();
        db->exec(QStringLiteral("DROP TABLE Users"));
        click(loaded.cmdRead);
        const QStringList boxes = shownBoxes();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().startsWith(QStringLiteral("Critical|Pollaris|Error 1: no such table")), qPrintable(boxes.first()));
        QVERIFY(Shell::endedWith().has_value());
        QVERIFY(*Shell::endedWith() != 0);
    }

    void closingOrDestroyingAScreenEndsTheProgram()
    {
        Shell::Show<frmMain>().close();
        QCOMPARE(Shell::endedWith(), std::optional<int>(0));
        Shell::reset();
        startProgramIn(db->folder());
        Shell::Show<frmMain>();
        Shell::slot(Shell::Slot::frmMain).reset();
        QCOMPARE(Shell::endedWith(), std::optional<int>(0));
    }

    void theMainMenuLeadsToBothLogInsAndExits()
    {
        frmMain &menu = Shell::Show<frmMain>();
        QCOMPARE(menu.windowTitle(), QStringLiteral("Pollaris"));
        QCOMPARE(menu.size(), QSize(473, 253));
        QCOMPARE(menu.lblLogUser->text(), QStringLiteral("Voter Log In"));
        QCOMPARE(menu.lblLogAdmin->text(), QStringLiteral("Administrator Log In"));
        QCOMPARE(menu.lblExit->text(), QStringLiteral("Exit"));
        QVERIFY(!menu.picTitleBar->pixmap().isNull());
        QCOMPARE(menu.palette().color(QPalette::Window), QColor(255, 255, 192));

        click(menu.lblLogUser);
        QVERIFY(!menu.isVisible());
        QVERIFY(Shell::Get<frmVoterLogIn>().isVisible());
        Shell::Hide<frmVoterLogIn>();
        menu.Show();

        click(menu.lblLogAdmin);
        QVERIFY(!menu.isVisible());
        QVERIFY(Shell::Get<frmAdminLogIn>().isVisible());
        Shell::Hide<frmAdminLogIn>();
        menu.Show();

        QCOMPARE(Shell::endedWith(), std::nullopt);
        click(menu.lblExit);
        QCOMPARE(Shell::endedWith(), std::optional<int>(0));
    }
};

POLLARIS_TEST_MAIN(ShellTest)
#include "tst_shell.moc"
