#include "frmAdminUsers.h"

#include "frmAddUser.h"
#include "frmAdminStart.h"
#include "frmEditUser.h"
#include "shell/Look.h"
#include "shell/MessageBox.h"
#include "store/RecordCursor.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>

namespace {

// The captions of the three details sit on white, unlike the other captions.
QLabel *whiteCaption(QWidget *parent, const QString &name, const QString &text)
{
    QLabel *l = Look::label(parent, name, text, Look::arial(9.0));
    l->setAutoFillBackground(true);
    QPalette palette = l->palette();
    palette.setColor(QPalette::Window, Qt::white);
    l->setPalette(palette);
    return l;
}

} // namespace

frmAdminUsers::frmAdminUsers() : Screen(QStringLiteral("Administrator's Panel (Users)"), 8880, 7245)
{
    // Created back to front, so that the bands lie behind the buttons.
    lblDesignPanel1 = Look::band(this, QStringLiteral("lblDesignPanel1"));
    Look::place(lblDesignPanel1, 0, 0, 8895, 615);
    lblDesignPanel2 = Look::band(this, QStringLiteral("lblDesignPanel2"));
    Look::place(lblDesignPanel2, 0, 6000, 8895, 1215);

    lblListofUsers =
        Look::label(this, QStringLiteral("lblListofUsers"), QStringLiteral("List of Users"), Look::boldArial());
    Look::place(lblListofUsers, 4440, 840, 2415, 255);
    lblStudDetails =
        Look::label(this, QStringLiteral("lblStudDetails"), QStringLiteral("Student Details"), Look::boldArial());
    Look::place(lblStudDetails, 240, 840, 1815, 255);

    lblName = whiteCaption(this, QStringLiteral("lblName"), QStringLiteral("Name"));
    Look::place(lblName, 240, 1200, 1815, 255);
    lblUsername = whiteCaption(this, QStringLiteral("lblUsername"), QStringLiteral("Username"));
    Look::place(lblUsername, 240, 2280, 1815, 255);
    lblPassword = whiteCaption(this, QStringLiteral("lblPassword"), QStringLiteral("Password"));
    Look::place(lblPassword, 240, 3480, 1815, 255);

    lblStudName = Look::valueLabel(this, QStringLiteral("lblStudName"));
    Look::place(lblStudName, 240, 1440, 3855, 375);
    lblStudUsername = Look::valueLabel(this, QStringLiteral("lblStudUsername"));
    Look::place(lblStudUsername, 240, 2520, 3855, 495);
    lblStudPassword = Look::valueLabel(this, QStringLiteral("lblStudPassword"));
    Look::place(lblStudPassword, 240, 3720, 3855, 495);

    lstUser = Look::list(this, QStringLiteral("lstUser"));
    Look::place(lstUser, 4440, 1200, 4095, 4545);

    cmdAddUser = Look::button(this, QStringLiteral("cmdAddUser"), QStringLiteral("Add User"));
    Look::place(cmdAddUser, 240, 6120, 1695, 375);
    cmdEditCand = Look::button(this, QStringLiteral("cmdEditCand"), QStringLiteral("Edit User Details"));
    Look::place(cmdEditCand, 1320, 6720, 1695, 375);
    cmdBack = Look::button(this, QStringLiteral("cmdBack"), QStringLiteral("Back to Main"));
    Look::place(cmdBack, 6960, 6600, 1695, 375);
    cmdDelUser = Look::button(this, QStringLiteral("cmdDelUser"), QStringLiteral("Delete User"));
    Look::place(cmdDelUser, 2280, 6120, 1695, 375);

    Look::caption(lblListofUsers, lstUser);
    Look::caption(lblName, lblStudName);
    Look::caption(lblUsername, lblStudUsername);
    Look::caption(lblPassword, lblStudPassword);

    dcUserInfo = new store::RecordCursor(QStringLiteral("dcUserInfo"), QStringLiteral("Users"), this);

    QWidget::setTabOrder(cmdDelUser, cmdBack);
    QWidget::setTabOrder(cmdBack, cmdEditCand);
    QWidget::setTabOrder(cmdEditCand, cmdAddUser);
    QWidget::setTabOrder(cmdAddUser, lstUser);
    cmdDelUser->setFocus();

    Shell::Connect(lstUser, &QListWidget::currentRowChanged, this, &frmAdminUsers::lstUser_Click);
    Shell::Connect(cmdDelUser, &QPushButton::clicked, this, &frmAdminUsers::cmdDelUser_Click);
    Shell::Connect(cmdEditCand, &QPushButton::clicked, this, &frmAdminUsers::cmdEditCand_Click);
    Shell::Connect(cmdAddUser, &QPushButton::clicked, this, &frmAdminUsers::cmdAddUser_Click);
    Shell::Connect(cmdBack, &QPushButton::clicked, this, &frmAdminUsers::cmdBack_Click);
}

void frmAdminUsers::Form_Load()
{
    dcUserInfo->setDatabaseName(DatabasePath());
    AdminUserDataLoad();
}

void frmAdminUsers::AdminUserDataLoad()
{
    lblStudName->setText(QString());
    lblStudUsername->setText(QString());
    lblStudPassword->setText(QString());

    dcUserInfo->setRecordSource(QStringLiteral("Select * from Users"));
    dcUserInfo->Refresh();
    QStringList names;
    if (!dcUserInfo->BOF()) {
        dcUserInfo->MoveLast();
        // A full-width count: the register may hold more than 32,767 voters.
        const qint32 n = dcUserInfo->RecordCount();
        dcUserInfo->MoveFirst();
        names.reserve(n);
        // Accounts another station deletes between the count and the reading end the list early.
        for (qint32 i = 0; i < n && !dcUserInfo->EOF_(); ++i) {
            names.append(dcUserInfo->FieldText(QStringLiteral("Username")));
            dcUserInfo->MoveNext();
        }
    }

    // The list is rebuilt to hold exactly these entries, in this order, with
    // nothing picked and its top in view. It is read again after every add,
    // edit and delete, and making 100,000 entries anew each time is the slowest
    // part of it: entries already shown in the same places are kept, the rest
    // removed, and the new ones added in one call with drawing held back.
    const int shown = lstUser->count();
    int same = 0;
    while (same < shown && same < names.size() && lstUser->item(same)->text() == names.at(same))
        ++same;
    lstUser->setUpdatesEnabled(false);
    // Adding entries picks none, but say so plainly.
    lstUser->setCurrentRow(-1);
    lstUser->clearSelection();
    lstUser->model()->removeRows(same, shown - same);
    lstUser->addItems(names.mid(same));
    lstUser->scrollToTop();
    lstUser->setUpdatesEnabled(true);
}

void frmAdminUsers::lstUser_Click(int index)
{
    if (index < 0)
        return;
    dcUserInfo->setRecordSource(QStringLiteral("Select * from Users where Username ='") + lstUser->item(index)->text() +
                                QStringLiteral("'"));
    dcUserInfo->Refresh();
    // The account may have gone since the list was built; show nothing then.
    if (dcUserInfo->EOF_()) {
        lblStudName->setText(QString());
        lblStudUsername->setText(QString());
        lblStudPassword->setText(QString());
        return;
    }
    // A field without a value reads as the empty text.
    lblStudName->setText(dcUserInfo->FieldText(QStringLiteral("Name")));
    lblStudUsername->setText(dcUserInfo->FieldText(QStringLiteral("Username")));
    lblStudPassword->setText(dcUserInfo->FieldText(QStringLiteral("Password")));
}

void frmAdminUsers::cmdDelUser_Click()
{
    if (lstUser->currentRow() < 0)
        return;
    if (!Msg::Confirmation(QStringLiteral("Are you sure?"), QStringLiteral("Delete User?")))
        return;

    dcUserInfo->setRecordSource(QStringLiteral("Select * From Users where Username ='") +
                                lstUser->currentItem()->text() + QStringLiteral("'"));
    dcUserInfo->Refresh();
    // Already gone by other means: there is nothing left to delete.
    if (!dcUserInfo->EOF_()) {
        dcUserInfo->Edit();
        dcUserInfo->Delete();
    }
    AdminUserDataLoad();
}

void frmAdminUsers::cmdEditCand_Click()
{
    if (lstUser->currentRow() < 0) {
        Msg::Warning(QStringLiteral("Select a User!"));
        return;
    }
    const QString name = lblStudName->text();
    const QString username = lblStudUsername->text();
    const QString password = lblStudPassword->text();

    Hide();
    Shell::Show<frmEditUser>();
    Shell::Get<frmEditUser>().ShowUserDetails(name, username, password);
}

void frmAdminUsers::cmdAddUser_Click()
{
    Hide();
    frmAddUser &add = Shell::Show<frmAddUser>();
    add.txtName->setText(QString());
    add.txtPassword->setText(QString());
    add.txtStudentID->setText(QString());
}

void frmAdminUsers::cmdBack_Click()
{
    Hide();
    Shell::Show<frmAdminStart>();
    Shell::Get<frmAdminStart>().AdminStartDataLoad();
}
