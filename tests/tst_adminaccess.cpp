// The administrator's road: log-in, the panel's figures, log-out and the change
// of password, driven through the real screens against a real file.

#include "TestSupport.h"

#include "screens/frmAdminLogIn.h"
#include "screens/frmAdminStart.h"
#include "screens/frmChangeAdminPW.h"
#include "screens/frmMain.h"
#include "shell/Look.h"
#include "shell/modGlobalVar.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

class AdminAccessTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    frmAdminLogIn &openLogIn()
    {
        click(Shell::Show<frmMain>().lblLogAdmin);
        return Shell::Get<frmAdminLogIn>();
    }

    void logIn(const QString &user, const QString &password)
    {
        frmAdminLogIn &login = openLogIn();
        type(login.txtUsername, user);
        type(login.txtPassword, password);
        click(login.cmdOK);
    }

    QStringList figures()
    {
        frmAdminStart &panel = Shell::Get<frmAdminStart>();
        return {panel.lblPos->text(), panel.lblCand->text(), panel.lblUser->text()};
    }

private slots:
    void init()
    {
        db = std::make_unique<ElectionFolder>();
        startProgramIn(db->folder());
        modGlobalVar::AdminUser.clear();
        modGlobalVar::AdminPass.clear();
    }
    void cleanup()
    {
        QCOMPARE(shownBoxes(), QStringList());
        QVERIFY(!Msg::hasUnusedAnswer());
        Shell::reset();
    }

    void theScreensHaveTheirCaptionsPlacesAndLimits()
    {
        frmAdminLogIn &login = openLogIn();
        QCOMPARE(login.windowTitle(), QStringLiteral("Administrator Log In"));
        QCOMPARE(login.size(), QSize(312, 161));
        QCOMPARE(login.txtUsername->geometry(), QRect(88, 24, 201, 25));
        QCOMPARE(login.txtUsername->maxLength(), 50);
        QCOMPARE(login.txtPassword->maxLength(), 50);
        QCOMPARE(login.txtPassword->echoMode(), QLineEdit::Password);
        QCOMPARE(login.cmdOK->text(), QStringLiteral("&OK"));
        QCOMPARE(login.cmdCancel->text(), QStringLiteral("C&ancel"));
        QVERIFY(!login.cmdOK->isDefault() && !login.cmdOK->autoDefault());

        logIn(QStringLiteral("admin"), QStringLiteral("secret"));
        frmAdminStart &panel = Shell::Get<frmAdminStart>();
        QCOMPARE(panel.windowTitle(), QStringLiteral("Pollaris Administrator's Panel"));
        QCOMPARE(panel.lblText3->text(), QStringLiteral("Total Number of Voters Registered:"));
        QCOMPARE(panel.cmdEditProf->geometry(), QRect(16, 296, 113, 29));

        click(panel.cmdEditProf);
        frmChangeAdminPW &dialog = Shell::Get<frmChangeAdminPW>();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Change Admin Password"));
        QCOMPARE(dialog.lblPassword2->text(), QStringLiteral("Repeat the Password"));
        QCOMPARE(dialog.cmdOK->text(), QStringLiteral("O&K"));
        QCOMPARE(dialog.txtPassword2->maxLength(), 50);
        QCOMPARE(dialog.txtPassword2->echoMode(), QLineEdit::Password);
    }

    void wrongEntriesAreRefusedInOrderAndKept()
    {
        frmAdminLogIn &login = openLogIn();
        type(login.txtUsername, QStringLiteral("nobody"));
        type(login.txtPassword, QStringLiteral("secret"));
        click(login.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Incorrect Username!")});
        QCOMPARE(login.txtUsername->text(), QStringLiteral("nobody"));
        QCOMPARE(login.txtPassword->text(), QStringLiteral("secret"));

        type(login.txtUsername, QStringLiteral("admin"));
        type(login.txtPassword, QStringLiteral("SECRET"));
        click(login.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Incorrect Password!")});
        QVERIFY(login.isVisible());
        QCOMPARE(login.txtPassword->text(), QStringLiteral("SECRET"));
        QVERIFY(modGlobalVar::AdminUser.isEmpty());

        // An empty user name finds nobody; a name with quotes is only ever itself.
        type(login.txtUsername, QStringLiteral("x' OR '1'='1"));
        click(login.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Incorrect Username!")});
        login.txtUsername->clear();
        click(login.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Incorrect Username!")});

        db->exec(QStringLiteral("INSERT INTO Administrators VALUES ('O''Neil','pw'), ('nopass', NULL)"));
        type(login.txtUsername, QStringLiteral("nopass"));
        login.txtPassword->clear();
        click(login.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Incorrect Password!")});
        type(login.txtUsername, QStringLiteral("o'neil"));
        type(login.txtPassword, QStringLiteral("pw"));
        click(login.cmdOK);
        QVERIFY(Shell::Get<frmAdminStart>().isVisible());
        QCOMPARE(modGlobalVar::AdminUser, QStringLiteral("o'neil"));
    }

    void aNameInOtherCaseIsAdmittedAndKeptAsTyped()
    {
        logIn(QStringLiteral("ADMIN"), QStringLiteral("secret"));
        QVERIFY(Shell::Get<frmAdminStart>().isVisible());
        QVERIFY(!Shell::Get<frmAdminLogIn>().isVisible());
        QCOMPARE(modGlobalVar::AdminUser, QStringLiteral("ADMIN"));
        QCOMPARE(modGlobalVar::AdminPass, QStringLiteral("secret"));
        // The log-in screen is empty for the next visit.
        QVERIFY(Shell::Get<frmAdminLogIn>().txtUsername->text().isEmpty());
        QVERIFY(Shell::Get<frmAdminLogIn>().txtPassword->text().isEmpty());

        click(Shell::Get<frmAdminStart>().cmdLogOut);
        QVERIFY(Shell::Get<frmMain>().isVisible());
        QVERIFY(!Shell::Get<frmAdminStart>().isVisible());
        QCOMPARE(modGlobalVar::AdminUser, QStringLiteral("ADMIN"));

        frmAdminLogIn &login = openLogIn();
        type(login.txtUsername, QStringLiteral("typed"));
        click(login.cmdCancel);
        QVERIFY(Shell::Get<frmMain>().isVisible());
        QVERIFY(login.txtUsername->text().isEmpty());
    }

    void theFiguresCountWholeTables()
    {
        logIn(QStringLiteral("admin"), QStringLiteral("secret"));
        QCOMPARE(figures(), (QStringList{" 0", " 0", " 0"}));
        click(Shell::Get<frmAdminStart>().cmdLogOut);

        db->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 12) "
                                "INSERT INTO Positions SELECT 'P' || i, 'Position ' || i FROM n"));
        db->exec(QStringLiteral("INSERT INTO CandInfo VALUES ('C1','a','1','P1'),('C2','b','2','P2')"));
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('n','u1','p',1),('m','u2','p',0),('o','u3','p',NULL)"));
        // The log-in recounts; a voter who has voted is still registered.
        logIn(QStringLiteral("admin"), QStringLiteral("secret"));
        QCOMPARE(figures(), (QStringList{" 12", " 2", " 3"}));
    }

    void changingThePasswordTakesEffectAtTheNextLogIn()
    {
        logIn(QStringLiteral("Admin"), QStringLiteral("secret"));
        frmAdminStart &panel = Shell::Get<frmAdminStart>();
        click(panel.cmdEditProf);
        frmChangeAdminPW &dialog = Shell::Get<frmChangeAdminPW>();
        QVERIFY(dialog.isVisible() && !panel.isVisible());
        QCOMPARE(dialog.lblAdminUsername->text(), QStringLiteral("Admin"));

        type(dialog.txtPassword1, QStringLiteral("NewPass"));
        type(dialog.txtPassword2, QStringLiteral("newpass"));
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Please retype your passwords!")});
        QCOMPARE(dialog.txtPassword1->text(), QStringLiteral("NewPass"));
        QCOMPARE(dialog.txtPassword2->text(), QStringLiteral("newpass"));
        QCOMPARE(db->value(QStringLiteral("SELECT AdminPassword FROM Administrators")).toString(), QStringLiteral("secret"));

        // Cancel writes nothing and does not recount.
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('n','u1','p',0)"));
        click(dialog.cmdCancel);
        QVERIFY(panel.isVisible() && !dialog.isVisible());
        QCOMPARE(figures().at(2), QStringLiteral(" 0"));
        QCOMPARE(db->value(QStringLiteral("SELECT AdminPassword FROM Administrators")).toString(), QStringLiteral("secret"));

        // The dialog opens empty each time; OK writes and recounts.
        click(panel.cmdEditProf);
        QVERIFY(dialog.txtPassword1->text().isEmpty() && dialog.txtPassword2->text().isEmpty());
        type(dialog.txtPassword1, QStringLiteral("NewPass"));
        type(dialog.txtPassword2, QStringLiteral("NewPass"));
        click(dialog.cmdOK);
        QVERIFY(panel.isVisible());
        QCOMPARE(figures().at(2), QStringLiteral(" 1"));
        QCOMPARE(db->value(QStringLiteral("SELECT AdminPassword FROM Administrators")).toString(), QStringLiteral("NewPass"));
        QCOMPARE(modGlobalVar::AdminPass, QStringLiteral("secret"));

        click(panel.cmdLogOut);
        logIn(QStringLiteral("admin"), QStringLiteral("secret"));
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Incorrect Password!")});
        type(Shell::Get<frmAdminLogIn>().txtPassword, QStringLiteral("NewPass"));
        click(Shell::Get<frmAdminLogIn>().cmdOK);
        QVERIFY(panel.isVisible());
    }

    void twoEmptyEntriesSetAnEmptyPassword()
    {
        logIn(QStringLiteral("admin"), QStringLiteral("secret"));
        click(Shell::Get<frmAdminStart>().cmdEditProf);
        click(Shell::Get<frmChangeAdminPW>().cmdOK);
        QCOMPARE(db->value(QStringLiteral("SELECT AdminPassword FROM Administrators")).toString(), QString());
        QVERIFY(!db->value(QStringLiteral("SELECT AdminPassword FROM Administrators")).isNull());
        click(Shell::Get<frmAdminStart>().cmdLogOut);
        logIn(QStringLiteral("admin"), QString());
        QVERIFY(Shell::Get<frmAdminStart>().isVisible());
    }

    void anAccountRemovedMeanwhileIsNotWrittenAndSaidSo()
    {
        logIn(QStringLiteral("admin"), QStringLiteral("secret"));
        click(Shell::Get<frmAdminStart>().cmdEditProf);
        frmChangeAdminPW &dialog = Shell::Get<frmChangeAdminPW>();
        db->exec(QStringLiteral("DELETE FROM Administrators"));
        type(dialog.txtPassword1, QStringLiteral("x"));
        type(dialog.txtPassword2, QStringLiteral("x"));
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris",
                                               "The administrator account \"admin\" is no longer in the election "
                                               "file. The password was not changed.")});
        QCOMPARE(db->count(QStringLiteral("Administrators")), 0);
        QVERIFY(dialog.isVisible());
        QCOMPARE(Shell::endedWith(), std::nullopt);
    }
};

POLLARIS_TEST_MAIN(AdminAccessTest)
#include "tst_adminaccess.moc"
