// The administrator's log-in, panel figures, log-out and password change.

#include "TestSupport.h"

#include "screens/frmAdminLogIn.h"
#include "screens/frmAdminStart.h"
#include "screens/frmChangeAdminPW.h"
#include "screens/frmMain.h"
#include "shell/Look.h"
#include "shell/modGlobalVar.h"

#include <QtWidgets>

class AdminAccessTest : public ScreenTest {
    Q_OBJECT

    frmAdminLogIn &logIn(const QString &user, const QString &password)
    {
        return ::logIn<frmAdminLogIn>(Shell::Show<frmMain>().lblLogAdmin, user, password);
    }
    static QString figures(const frmAdminStart &p) { return p.lblPos->text() + p.lblCand->text() + p.lblUser->text(); }
    QVariant storedPassword() const { return db->value("SELECT AdminPassword FROM Administrators"); }
    void changePassword(const QString &first, const QString &second)
    {
        frmChangeAdminPW &dialog = Shell::Get<frmChangeAdminPW>();
        type(dialog.txtPassword1, first);
        type(dialog.txtPassword2, second);
        click(dialog.cmdOK);
    }

private slots:
    void wrongEntriesAreRefusedInOrderAndKept()
    {
        db->exec("INSERT INTO Administrators VALUES ('O''Neil','pw'), ('nopass', NULL)");
        modGlobalVar::AdminUser.clear();
        // A quoted name is found as itself; a missing password never matches.
        const struct {
            const char *user, *pass, *wrong;
        } attempts[] = {{"nobody", "secret", "Username"},
                        {"x' OR '1'='1", "secret", "Username"},
                        {"o'neil", "PW", "Password"},
                        {"nopass", "", "Password"}};
        for (const auto &a : attempts) {
            frmAdminLogIn &login = logIn(a.user, a.pass);
            QCOMPARE(shownBoxes(), critical(QString("Incorrect %1!").arg(a.wrong), "Error!"));
            QCOMPARE(login.txtUsername->text() + '|' + login.txtPassword->text(), QString(a.user) + '|' + a.pass);
            QVERIFY(login.isVisible() && !Shell::Exists(Shell::Slot::frmAdminStart) &&
                    modGlobalVar::AdminUser.isEmpty());
        }
    }

    void thePasswordChangeAndTheFigures()
    {
        // A name in another case is admitted and kept as typed.
        frmAdminLogIn &login = logIn("Admin", "secret");
        frmAdminStart &panel = Shell::Get<frmAdminStart>();
        QVERIFY(panel.isVisible() && !login.isVisible());
        QCOMPARE(figures(panel), QStringLiteral(" 0 0 0"));
        click(panel.cmdEditProf);
        frmChangeAdminPW &dialog = Shell::Get<frmChangeAdminPW>();

        // Entries that differ in case are refused and kept; nothing is written.
        changePassword("NewPass", "newpass");
        QCOMPARE(shownBoxes(), critical("Please retype your passwords!", "Error!"));
        QCOMPARE(dialog.txtPassword1->text() + '|' + dialog.txtPassword2->text(), QStringLiteral("NewPass|newpass"));
        QCOMPARE(storedPassword().toString(), QStringLiteral("secret"));

        // OK writes and recounts, counting voters who voted.
        db->exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 12) "
                 "INSERT INTO Positions SELECT 'P' || i, 'Position ' || i FROM n");
        db->exec("INSERT INTO CandInfo VALUES ('C1','a','1','P1'),('C2','b','2','P2')");
        db->exec("INSERT INTO Users VALUES ('n','u1','p',1),('m','u2','p',0),('o','u3','p',NULL)");
        changePassword("NewPass", "NewPass");
        QVERIFY(panel.isVisible() && !dialog.isVisible());
        QCOMPARE(figures(panel) + '|' + storedPassword().toString(), QStringLiteral(" 12 2 3|NewPass"));

        // The old password is refused at the next log-in and the new one taken.
        click(panel.cmdLogOut);
        QCOMPARE(modGlobalVar::AdminUser, QStringLiteral("Admin"));
        logIn("admin", "secret");
        QCOMPARE(shownBoxes(), critical("Incorrect Password!", "Error!"));
        logIn("admin", "NewPass");
        QVERIFY(panel.isVisible());

        // Two empty entries set an empty password, not a missing one.
        click(panel.cmdEditProf);
        changePassword("", "");
        QVERIFY(storedPassword().toString().isEmpty() && !storedPassword().isNull());
        click(panel.cmdLogOut);
        logIn("admin", "");
        QVERIFY(panel.isVisible());

        // An account removed meanwhile is not written, and the administrator is told so.
        click(panel.cmdEditProf);
        db->exec("DELETE FROM Administrators");
        changePassword("x", "x");
        QCOMPARE(shownBoxes(), critical("The administrator account \"admin\" is no longer in the election file. "
                                        "The password was not changed."));
        QVERIFY(db->count("Administrators") == 0 && dialog.isVisible());
    }
};

POLLARIS_TEST_MAIN(AdminAccessTest)
#include "tst_adminaccess.moc"
