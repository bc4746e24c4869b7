// The voter list of the accounts panel, rebuilt after each change: it must hold
// exactly the accounts of the file in the file's order, with nothing picked and
// its top in view, however the register changed since it was last shown.

#include "TestSupport.h"

#include "screens/frmAdminStart.h"
#include "screens/frmAdminUsers.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <memory>

class UserListTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    frmAdminUsers &openPanel()
    {
        Shell::Show<frmAdminStart>();
        click(Shell::Get<frmAdminStart>().cmdUsers);
        return Shell::Get<frmAdminUsers>();
    }

    static QStringList listed(const frmAdminUsers &panel)
    {
        QStringList names;
        for (int i = 0; i < panel.lstUser->count(); ++i)
            names << panel.lstUser->item(i)->text();
        return names;
    }

    QStringList inFile() const { return db->rows(QStringLiteral("SELECT Username FROM Users ORDER BY rowid")); }

    static void verifyNothingPicked(const frmAdminUsers &panel)
    {
        QCOMPARE(panel.lstUser->currentRow(), -1);
        QVERIFY(panel.lstUser->selectedItems().isEmpty());
        QCOMPARE(panel.lblStudName->text(), QString());
        QCOMPARE(panel.lblStudUsername->text(), QString());
        QCOMPARE(panel.lblStudPassword->text(), QString());
    }

    void addAccounts(int from, int to) const
    {
        QStringList values;
        for (int i = from; i <= to; ++i)
            values << QStringLiteral("('Name %1','u%1','pw%1',0)").arg(i);
        db->exec(QStringLiteral("INSERT INTO Users VALUES ") + values.join(QLatin1Char(',')));
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
        Shell::reset();
        db.reset();
    }

    void theListFollowsEveryKindOfChange()
    {
        addAccounts(1, 6);
        frmAdminUsers &panel = openPanel();
        QCOMPARE(listed(panel), inFile());

        // One added at the end.
        panel.lstUser->setCurrentRow(4);
        QCOMPARE(panel.lblStudUsername->text(), QStringLiteral("u5"));
        addAccounts(7, 7);
        panel.AdminUserDataLoad();
        QCOMPARE(listed(panel), inFile());
        verifyNothingPicked(panel);

        // One removed from the middle, through the panel's own Delete.
        panel.lstUser->setCurrentRow(2);
        Msg::setNextAnswer(Msg::Answer::Yes);
        click(panel.cmdDelUser);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Question, "Delete User?", "Are you sure?")});
        QCOMPARE(inFile(), (QStringList{"u1", "u2", "u4", "u5", "u6", "u7"}));
        QCOMPARE(listed(panel), inFile());
        verifyNothingPicked(panel);

        // One renamed in place, and one with the same name as a neighbour.
        db->exec(QStringLiteral("UPDATE Users SET Username='renamed' WHERE Username='u5'"));
        db->exec(QStringLiteral("UPDATE Users SET Username='u1' WHERE Username='u2'"));
        panel.lstUser->setCurrentRow(5);
        panel.AdminUserDataLoad();
        QCOMPARE(listed(panel), (QStringList{"u1", "u1", "u4", "renamed", "u6", "u7"}));
        verifyNothingPicked(panel);

        // The first one removed: nothing in place is left.
        db->exec(QStringLiteral("DELETE FROM Users WHERE rowid = (SELECT min(rowid) FROM Users)"));
        panel.AdminUserDataLoad();
        QCOMPARE(listed(panel), (QStringList{"u1", "u4", "renamed", "u6", "u7"}));
        verifyNothingPicked(panel);

        // Only the last ones removed.
        db->exec(QStringLiteral("DELETE FROM Users WHERE Username IN ('u6','u7')"));
        panel.AdminUserDataLoad();
        QCOMPARE(listed(panel), (QStringList{"u1", "u4", "renamed"}));

        // Everything removed.
        db->exec(QStringLiteral("DELETE FROM Users"));
        panel.lstUser->setCurrentRow(1);
        panel.AdminUserDataLoad();
        QCOMPARE(panel.lstUser->count(), 0);
        verifyNothingPicked(panel);
    }

    void aRebuiltListShowsItsTop()
    {
        addAccounts(1, 400);
        frmAdminUsers &panel = openPanel();
        panel.lstUser->setCurrentRow(399);
        QVERIFY(panel.lstUser->verticalScrollBar()->value() > 0);
        addAccounts(401, 401);
        panel.AdminUserDataLoad();
        QCOMPARE(listed(panel), inFile());
        QCOMPARE(panel.lstUser->verticalScrollBar()->value(), 0);
        verifyNothingPicked(panel);
    }
};

POLLARIS_TEST_MAIN(UserListTest)
#include "tst_userlist.moc"
