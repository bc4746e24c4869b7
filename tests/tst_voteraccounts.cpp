// The register of voters: the panel, adding and editing accounts, and the log-in afterwards.

#include "TestSupport.h"

#include "screens/frmAddUser.h"
#include "screens/frmAdminStart.h"
#include "screens/frmAdminUsers.h"
#include "screens/frmEditUser.h"
#include "screens/frmMain.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"
#include "store/Connection.h"

#include <QtWidgets>

class VoterAccountsTest : public ScreenTest {
    Q_OBJECT

    frmAdminUsers &openPanel()
    {
        click(Shell::Show<frmAdminStart>().cmdUsers);
        return Shell::Get<frmAdminUsers>();
    }
    void verifyListIsTheTable(const frmAdminUsers &panel)
    {
        QCOMPARE(entries(panel.lstUser), db->rows("SELECT Username FROM Users ORDER BY rowid"));
        QCOMPARE(panel.lstUser->currentRow(), -1);
        QVERIFY(panel.lstUser->selectedItems().isEmpty());
        QCOMPARE(panel.lblStudName->text() + panel.lblStudUsername->text() + panel.lblStudPassword->text(), QString());
    }

private slots:
    // Adding, editing and deleting over a register that holds a voter who has voted, values longer
    // than the fields, two user names that differ only in letter case, and letters beyond ASCII.
    void everyAccountIsKeptAsTypedAndAVoterWhoHasVotedStaysSo()
    {
        const QString longName = "<b>Ann</b>" + QString(60, 'n'), longPassword(25, 'p');
        db->exec("INSERT INTO Users VALUES ('New Voter','nv1','pw',1),('" + longName + "','tw1','" + longPassword +
                 "',0),('Twin','NV1','x',0),('Ü','émile','pw',0)");
        const QStringList before = db->rows("SELECT * FROM Users") + QStringList{"  | x' OR '1'='1| |0"};
        frmAdminUsers &panel = openPanel();
        click(panel.cmdAddUser);
        frmAddUser &dialog = Shell::Get<frmAddUser>();
        QCOMPARE(press(dialog.cmdOK), critical("Please enter a name!"));
        type(dialog.txtName, "  ");
        QCOMPARE(press(dialog.cmdOK), critical("Please enter a student ID/username!"));
        type(dialog.txtStudentID, "TW1");
        QCOMPARE(press(dialog.cmdOK), critical("Please enter a password!"));
        type(dialog.txtPassword, " ");
        for (const QString taken : {"TW1", "ÉMILE"}) {
            type(dialog.txtStudentID, taken);
            QCOMPARE(press(dialog.cmdOK), critical("Duplicate User Account Found!", "Error!"));
        }
        type(dialog.txtStudentID, " x' OR '1'='1");
        QCOMPARE(press(dialog.cmdOK), QStringList());
        QCOMPARE(db->rows("SELECT * FROM Users"), before);

        // Tabbing into the list picks nothing.
        QApplication::setActiveWindow(&panel);
        panel.lstUser->setFocus(Qt::TabFocusReason);
        QVERIFY(panel.lstUser->hasFocus());
        click(panel.cmdDelUser);
        QCOMPARE(press(panel.cmdEditCand), QStringList{box(Msg::Icon::Exclamation, "Pollaris", "Select a User!")});
        verifyListIsTheTable(panel);
        panel.lstUser->setCurrentRow(1);

        // Over-long values: shown whole, not lengthened, kept by OK.
        QCOMPARE(panel.lblStudName->text(), longName);
        click(panel.cmdEditCand);
        frmEditUser &edit = Shell::Get<frmEditUser>();
        QCOMPARE(edit.txtName->text() + edit.txtPassword->text(), longName + longPassword);
        edit.txtPassword->end(false);
        QTest::keyClicks(edit.txtPassword, "x");
        click(edit.cmdOK);
        QCOMPARE(db->rows("SELECT * FROM Users"), before);

        // The ordinary limits return; an edit changes only the first such account, never
        // its user name or flag, and a new password does not let it vote again.
        panel.lstUser->setCurrentRow(0);
        click(panel.cmdEditCand);
        edit.txtName->clear();
        QCOMPARE(press(edit.cmdOK), critical("Please enter a name!"));
        type(edit.txtName, " ");
        edit.txtPassword->clear();
        QCOMPARE(press(edit.cmdOK), critical("Please enter a password!"));
        type(edit.txtPassword, "fresh");
        click(edit.cmdOK);
        QCOMPARE(db->rows("SELECT * FROM Users"), QStringList{" |nv1|fresh|1"} + before.mid(1));
        logIn<frmVoterLogIn>(Shell::Show<frmMain>().lblLogUser, "nv1", "fresh");
        QCOMPARE(shownBoxes(), critical("User has already voted!", "Error!"));

        // Deleting the voter.
        openPanel().lstUser->setCurrentRow(0);
        Msg::setNextAnswer(Msg::Answer::Yes);
        QCOMPARE(press(panel.cmdDelUser), QStringList{box(Msg::Icon::Question, "Delete User?", "Are you sure?")});
        QCOMPARE(db->rows("SELECT * FROM Users"), before.mid(1));

        // An account removed while its dialog is open is not written back.
        panel.lstUser->setCurrentRow(0);
        click(panel.cmdEditCand);
        db->exec("DELETE FROM Users WHERE Username = 'tw1'");
        type(edit.txtName, "Changed");
        QCOMPARE(press(edit.cmdOK),
                 critical("The user account \"tw1\" no longer exists. Nothing was saved.", "Error!"));
        QCOMPARE(db->rows("SELECT * FROM Users"), before.mid(2));

        // An account changed at another station while its dialog is open is not overwritten.
        panel.lstUser->setCurrentRow(0);
        click(panel.cmdEditCand);
        db->exec("UPDATE Users SET Password = 'theirs' WHERE Username = 'NV1'");
        type(edit.txtName, "Mine");
        const QStringList changed = db->rows("SELECT * FROM Users");
        QCOMPARE(press(edit.cmdOK), critical("The user account \"NV1\" was changed at another station while you "
                                             "were editing it. Nothing was saved: please look at it again.",
                                             "Error!"));
        QCOMPARE(db->rows("SELECT * FROM Users"), changed);

        // Another station writes between a delete's question and its write (the unit that
        // writes it with its entry in the election's record): refused.
        panel.lstUser->setCurrentRow(1);
        Msg::setNextAnswer(Msg::Answer::Yes);
        anotherStationBefore(*db, "BEGIN", "DELETE FROM Users WHERE Username = 'émile'");
        QCOMPARE(press(panel.cmdDelUser),
                 (QStringList{box(Msg::Icon::Question, "Delete User?", "Are you sure?"),
                              box(Msg::Icon::Critical, "Pollaris",
                                  "Another station changed the same records at the same moment, so nothing of this "
                                  "was saved. Look at them again, and repeat what is still needed.")}));
        store::Connection::setStatementObserver(nullptr);
        QCOMPARE(db->rows("SELECT * FROM Users"), (QStringList{"Twin|NV1|theirs|0", before.last()}));
        QVERIFY(panel.isVisible() && !Shell::endedWith());
    }

    void theListFollowsEveryChangeOfFortyThousandAccounts()
    {
        db->exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 40000) "
                 "INSERT INTO Users SELECT 'Voter ' || i, 'u' || i, 'p' || i, 0 FROM n");
        frmAdminUsers &panel = openPanel();
        verifyListIsTheTable(panel);
        for (const QString sql :
             {"INSERT INTO Users VALUES ('N','u40001','p',0)", "DELETE FROM Users WHERE rowid = 20000",
              "DELETE FROM Users WHERE rowid > 39990", "DELETE FROM Users WHERE rowid = (SELECT min(rowid) FROM Users)",
              "DELETE FROM Users"}) {
            panel.lstUser->setCurrentRow(panel.lstUser->count() - 1);
            db->exec(sql);
            panel.AdminUserDataLoad();
            verifyListIsTheTable(panel);
        }
    }
};

POLLARIS_TEST_MAIN(VoterAccountsTest)
#include "tst_voteraccounts.moc"
