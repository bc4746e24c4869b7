// The register of voters: the panel, adding and editing accounts, driven through
// the real screens against a real file, and the voter's road afterwards.

#include "TestSupport.h"

#include "screens/frmAddUser.h"
#include "screens/frmAdminStart.h"
#include "screens/frmAdminUsers.h"
#include "screens/frmEditUser.h"
#include "screens/frmMain.h"
#include "screens/frmVoter.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <memory>

class VoterAccountsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    frmAdminUsers &openPanel()
    {
        Shell::Show<frmAdminStart>();
        click(Shell::Get<frmAdminStart>().cmdUsers);
        return Shell::Get<frmAdminUsers>();
    }

    QStringList listed(const frmAdminUsers &panel)
    {
        QStringList names;
        for (int i = 0; i < panel.lstUser->count(); ++i)
            names << panel.lstUser->item(i)->text();
        return names;
    }

    frmAddUser &openAdd()
    {
        click(openPanel().cmdAddUser);
        return Shell::Get<frmAddUser>();
    }

    void fillAdd(frmAddUser &dialog, const QString &name, const QString &id, const QString &password)
    {
        type(dialog.txtName, name);
        type(dialog.txtStudentID, id);
        type(dialog.txtPassword, password);
    }

    // A voter's log-in and, when admitted, one vote in the first position.
    void logInAndVote(const QString &user, const QString &password)
    {
        Shell::Show<frmMain>();
        click(Shell::Get<frmMain>().lblLogUser);
        frmVoterLogIn &login = Shell::Get<frmVoterLogIn>();
        type(login.txtUsername, user);
        type(login.txtPassword, password);
        click(login.cmdOK);
        frmVoter &ballot = Shell::Get<frmVoter>();
        if (!ballot.isVisible())
            return;
        ballot.cmbbxPosition->setCurrentIndex(0);
        ballot.lstCandidate->setCurrentRow(0);
        click(ballot.cmdVote);
        click(ballot.cmdDone);
    }

private slots:
    void init()
    {
        db = std::make_unique<ElectionFolder>();
        startProgramIn(db->folder());
    }
    void cleanup()
    {
        QCOMPARE(shownBoxes(), QStringList());
        QVERIFY(!Msg::hasUnusedAnswer());
        Shell::reset();
    }

    void thePanelListsEveryAccountAndShowsThePickedOne()
    {
        frmAdminUsers &empty = openPanel();
        QCOMPARE(empty.windowTitle(), QStringLiteral("Administrator's Panel (Users)"));
        QCOMPARE(empty.lstUser->count(), 0);
        QCOMPARE(empty.lstUser->geometry(), QRect(296, 80, 273, 303));
        click(empty.cmdBack);

        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Ann Lee','s100','Secret1',0),"
                                "(NULL,'s200',NULL,1),('Bo','O''Brien','pw',0)"));
        frmAdminUsers &panel = openPanel();
        QCOMPARE(listed(panel), (QStringList{"s100", "s200", "O'Brien"}));
        QCOMPARE(panel.lstUser->currentRow(), -1);
        panel.lstUser->setCurrentRow(0);
        QCOMPARE(panel.lblStudName->text(), QStringLiteral("Ann Lee"));
        QCOMPARE(panel.lblStudUsername->text(), QStringLiteral("s100"));
        QCOMPARE(panel.lblStudPassword->text(), QStringLiteral("Secret1"));
        // Missing values show as empty text.
        panel.lstUser->setCurrentRow(1);
        QCOMPARE(panel.lblStudName->text(), QString());
        QCOMPARE(panel.lblStudPassword->text(), QString());
        panel.lstUser->setCurrentRow(2);
        QCOMPARE(panel.lblStudName->text(), QStringLiteral("Bo"));

        // Back to the panel recounts the voters.
        click(panel.cmdBack);
        QCOMPARE(Shell::Get<frmAdminStart>().lblUser->text(), QStringLiteral(" 3"));
        QVERIFY(!panel.isVisible());
    }

    void addingRefusesEmptyEntriesAndDuplicatesInOrder()
    {
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Old','s100','pw',1),('Ü','émile','pw',0)"));
        frmAddUser &dialog = openAdd();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Add User"));
        QCOMPARE(dialog.txtName->maxLength(), 50);
        QCOMPARE(dialog.txtStudentID->maxLength(), 20);
        QCOMPARE(dialog.txtPassword->maxLength(), 20);
        QCOMPARE(dialog.txtPassword->echoMode(), QLineEdit::Normal);

        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please enter a name!")});
        type(dialog.txtName, QStringLiteral("New"));
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please enter a student ID/username!")});
        type(dialog.txtStudentID, QStringLiteral("S100"));
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please enter a password!")});
        type(dialog.txtPassword, QStringLiteral("pw2"));
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Duplicate User Account Found!")});
        type(dialog.txtStudentID, QStringLiteral("ÉMILE"));
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Duplicate User Account Found!")});
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.txtName->text(), QStringLiteral("New"));
        QCOMPARE(dialog.txtStudentID->text(), QStringLiteral("ÉMILE"));
        QCOMPARE(dialog.txtPassword->text(), QStringLiteral("pw2"));
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM Users")), (QStringList{"Old|s100|pw|1", "Ü|émile|pw|0"}));

        // Cancel stores nothing and the panel empties the dialog next time.
        click(dialog.cmdCancel);
        QVERIFY(Shell::Get<frmAdminUsers>().isVisible());
        QCOMPARE(db->count(QStringLiteral("Users")), 2);
        click(Shell::Get<frmAdminUsers>().cmdAddUser);
        QVERIFY(dialog.txtName->text().isEmpty() && dialog.txtStudentID->text().isEmpty() &&
                dialog.txtPassword->text().isEmpty());
    }

    void entriesAreStoredExactlyAsTyped()
    {
        frmAddUser &dialog = openAdd();
        fillAdd(dialog, QStringLiteral("  "), QStringLiteral(" x' OR '1'='1"), QStringLiteral(" "));
        click(dialog.cmdOK);
        QVERIFY(Shell::Get<frmAdminUsers>().isVisible());
        click(Shell::Get<frmAdminUsers>().cmdAddUser);
        fillAdd(dialog, QStringLiteral("O'Brien"), QStringLiteral("O'Brien"), QStringLiteral("Ab'\"%_"));
        click(dialog.cmdOK);
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM Users")),
                 (QStringList{"  | x' OR '1'='1| |0", "O'Brien|O'Brien|Ab'\"%_|0"}));
        frmAdminUsers &panel = Shell::Get<frmAdminUsers>();
        QCOMPARE(listed(panel), (QStringList{" x' OR '1'='1", "O'Brien"}));
        panel.lstUser->setCurrentRow(1);
        QCOMPARE(panel.lblStudPassword->text(), QStringLiteral("Ab'\"%_"));
    }

    void aNewVoterVotesOnceAndDeletingAVoterKeepsTheVotes()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('P1','President')"));
        db->exec(QStringLiteral("INSERT INTO CandInfo VALUES ('C1','Cand','1','P1')"));
        db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('C1', 41)"));
        frmAddUser &dialog = openAdd();
        fillAdd(dialog, QStringLiteral("New Voter"), QStringLiteral("2027001"), QStringLiteral("pw"));
        click(dialog.cmdOK);
        QCOMPARE(db->value(QStringLiteral("SELECT HasVoted FROM Users WHERE Username = '2027001'")).toLongLong(), 0);
        Shell::Hide<frmAdminUsers>();

        logInAndVote(QStringLiteral("2027001"), QStringLiteral("pw"));
        QCOMPARE(shownBoxes(), (QStringList{box(Msg::Icon::Exclamation, "Pollaris", "Warning! Users can only login once"),
                                            box(Msg::Icon::Information, "Your vote has been added", "Thank you for voting!")}));
        QCOMPARE(db->value(QStringLiteral("SELECT NumVotes FROM CandVote")).toLongLong(), 42);
        logInAndVote(QStringLiteral("2027001"), QStringLiteral("pw"));
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "User has already voted!")});
        Shell::Hide<frmVoterLogIn>();

        // Changing the password of an account that has voted does not let it vote again.
        frmAdminUsers &panel = openPanel();
        panel.lstUser->setCurrentRow(0);
        click(panel.cmdEditCand);
        frmEditUser &edit = Shell::Get<frmEditUser>();
        QCOMPARE(edit.lblStudID->text(), QStringLiteral("2027001"));
        QCOMPARE(edit.txtName->text(), QStringLiteral("New Voter"));
        QCOMPARE(edit.txtPassword->text(), QStringLiteral("pw"));
        type(edit.txtPassword, QStringLiteral("fresh"));
        click(edit.cmdOK);
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM Users")), QStringList{"New Voter|2027001|fresh|1"});
        Shell::Hide<frmAdminUsers>();
        logInAndVote(QStringLiteral("2027001"), QStringLiteral("fresh"));
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "User has already voted!")});
        Shell::Hide<frmVoterLogIn>();

        // No keeps the account; Yes removes it and no tally moves.
        openPanel();
        panel.lstUser->setCurrentRow(0);
        click(panel.cmdDelUser);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Question, "Delete User?", "Are you sure?")});
        QCOMPARE(db->count(QStringLiteral("Users")), 1);
        QCOMPARE(panel.lblStudName->text(), QStringLiteral("New Voter"));
        Msg::setNextAnswer(Msg::Answer::Yes);
        click(panel.cmdDelUser);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Question, "Delete User?", "Are you sure?")});
        QCOMPARE(db->count(QStringLiteral("Users")), 0);
        QCOMPARE(db->value(QStringLiteral("SELECT NumVotes FROM CandVote")).toLongLong(), 42);
        QCOMPARE(panel.lstUser->count(), 0);
        QVERIFY(panel.lblStudName->text().isEmpty());
    }

    void editingRefusesEmptyEntriesAndNeverTouchesTheKey()
    {
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Ann','s100','pw',1),('Ann Twin','S100','x',0)"));
        frmAdminUsers &panel = openPanel();
        click(panel.cmdEditCand);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Exclamation, "Pollaris", "Select a User!")});
        click(panel.cmdDelUser); // nothing picked: nothing happens
        panel.lstUser->setCurrentRow(0);
        click(panel.cmdEditCand);
        frmEditUser &edit = Shell::Get<frmEditUser>();
        QCOMPARE(edit.windowTitle(), QStringLiteral("Edit User Details"));
        edit.txtName->clear();
        edit.txtPassword->clear();
        click(edit.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please enter a name!")});
        QVERIFY(edit.isVisible() && edit.txtName->text().isEmpty());
        type(edit.txtName, QStringLiteral(" "));
        click(edit.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please enter a password!")});
        QVERIFY(edit.isVisible());
        QCOMPARE(edit.txtName->text(), QStringLiteral(" "));
        QCOMPARE(edit.lblStudID->text(), QStringLiteral("s100"));
        type(edit.txtPassword, QStringLiteral("  "));
        click(edit.cmdOK);
        // Only the first row with that user name changes; user name and flag stay.
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM Users")), (QStringList{" |s100|  |1", "Ann Twin|S100|x|0"}));
        QVERIFY(panel.isVisible() && !edit.isVisible());
    }

    void onlyTheUserPicksAnEntry()
    {
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Ann','s100','pw',0),('Bo','s200','pw',0)"));
        frmAdminUsers &panel = openPanel();
        QApplication::setActiveWindow(&panel);
        // Tabbing into the list picks nothing, so Delete and Edit still find nothing picked.
        panel.lstUser->setFocus(Qt::TabFocusReason);
        QVERIFY(panel.lstUser->hasFocus());
        QCOMPARE(panel.lstUser->currentRow(), -1);
        QVERIFY(panel.lblStudName->text().isEmpty());
        click(panel.cmdDelUser);
        click(panel.cmdEditCand);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Exclamation, "Pollaris", "Select a User!")});
        QCOMPARE(db->count(QStringLiteral("Users")), 2);

        // A picked entry stays picked, and shown as picked, under Ctrl+click.
        const QPoint second = panel.lstUser->visualItemRect(panel.lstUser->item(1)).center();
        QTest::mouseClick(panel.lstUser->viewport(), Qt::LeftButton, {}, second);
        QCOMPARE(panel.lblStudName->text(), QStringLiteral("Bo"));
        QTest::mouseClick(panel.lstUser->viewport(), Qt::LeftButton, Qt::ControlModifier, second);
        QCOMPARE(panel.lstUser->currentRow(), 1);
        QVERIFY(panel.lstUser->item(1)->isSelected());
    }

    void storedValuesAreShownAndKeptWhole()
    {
        const QString longName = QStringLiteral("<b>Ann</b>") + QString(60, QLatin1Char('n'));
        const QString longPassword(25, QLatin1Char('p'));
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('%1','s100','%2',1)").arg(longName, longPassword));
        frmAdminUsers &panel = openPanel();
        panel.lstUser->setCurrentRow(0);
        // Markup in a value is text like any other.
        QCOMPARE(panel.lblStudName->text(), longName);
        QCOMPARE(panel.lblStudName->textFormat(), Qt::PlainText);

        // Longer than the fields let anybody type (written by other means): the
        // dialog shows it whole, typing cannot lengthen it, and OK unchanged keeps it.
        click(panel.cmdEditCand);
        frmEditUser &edit = Shell::Get<frmEditUser>();
        QCOMPARE(edit.txtName->text(), longName);
        QCOMPARE(edit.txtPassword->text(), longPassword);
        edit.txtPassword->end(false);
        QTest::keyClicks(edit.txtPassword, QStringLiteral("x"));
        QCOMPARE(edit.txtPassword->text(), longPassword);
        click(edit.cmdOK);
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM Users")),
                 QStringList{QStringLiteral("%1|s100|%2|1").arg(longName, longPassword)});

        // The next account opened gets the ordinary limits again.
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Bo','s200','pw',0)"));
        click(panel.cmdBack);
        click(Shell::Get<frmAdminStart>().cmdUsers);
        panel.lstUser->setCurrentRow(1);
        click(panel.cmdEditCand);
        QCOMPARE(edit.txtName->maxLength(), 50);
        QCOMPARE(edit.txtPassword->maxLength(), 20);
        click(edit.cmdCancel);
    }

    void editingAnAccountRemovedMeanwhileWritesNothing()
    {
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Ann','s100','pw',0)"));
        frmAdminUsers &panel = openPanel();
        panel.lstUser->setCurrentRow(0);
        click(panel.cmdEditCand);
        frmEditUser &edit = Shell::Get<frmEditUser>();
        db->exec(QStringLiteral("DELETE FROM Users"));
        type(edit.txtName, QStringLiteral("Changed"));
        click(edit.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!",
                                               "The user account \"s100\" no longer exists. Nothing was saved.")});
        QCOMPARE(db->count(QStringLiteral("Users")), 0);
        QCOMPARE(Shell::endedWith(), std::nullopt);
        QVERIFY(panel.isVisible());
        QCOMPARE(panel.lstUser->count(), 0);
    }

    void fortyThousandAccountsAreListed()
    {
        db->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 40000) "
                                "INSERT INTO Users SELECT 'Voter ' || i, 'u' || i, 'p' || i, 0 FROM n"));
        frmAdminUsers &panel = openPanel();
        QCOMPARE(panel.lstUser->count(), 40000);
        QCOMPARE(panel.lstUser->item(39999)->text(), QStringLiteral("u40000"));
        panel.lstUser->setCurrentRow(39999);
        QCOMPARE(panel.lblStudPassword->text(), QStringLiteral("p40000"));
    }
};

POLLARIS_TEST_MAIN(VoterAccountsTest)
#include "tst_voteraccounts.moc"
