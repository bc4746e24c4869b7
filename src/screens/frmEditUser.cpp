#include "frmEditUser.h"

#include "frmAdminUsers.h"
#include "shell/Look.h"
#include "shell/MessageBox.h"
#include "store/RecordCursor.h"

#include <QLineEdit>
#include <QPushButton>

frmEditUser::frmEditUser() : Screen(QStringLiteral("Edit User Details"), 4680, 3660)
{
    lblName = Look::label(this, QStringLiteral("lblName"), QStringLiteral("Name"), Look::boldArial());
    Look::place(lblName, 240, 240, 615, 255);
    txtName = Look::textField(this, QStringLiteral("txtName"), 50);
    Look::place(txtName, 960, 240, 3375, 375);

    lblStudUsername =
        Look::label(this, QStringLiteral("lblStudUsername"), QStringLiteral("Student ID/Username"), Look::boldArial());
    Look::place(lblStudUsername, 120, 960, 1215, 735);
    // The user name is never changed, so it is shown, not offered for typing.
    lblStudID = Look::label(this, QStringLiteral("lblStudID"), QString(), Look::boldArial());
    Look::place(lblStudID, 1440, 840, 2895, 375);
    Label2 = Look::label(this, QStringLiteral("Label2"),
                         QStringLiteral("Please take note that the username is the student ID"), font());
    Look::place(Label2, 1440, 1320, 2895, 375);

    lblPassword = Look::label(this, QStringLiteral("lblPassword"), QStringLiteral("Password"), Look::boldArial());
    Look::place(lblPassword, 240, 1920, 1215, 255);
    txtPassword = Look::textField(this, QStringLiteral("txtPassword"), 20);
    Look::place(txtPassword, 1560, 1920, 2775, 375);
    lbl = Look::label(this, QStringLiteral("lbl"), QStringLiteral("at max 20 characters only"), font());
    Look::place(lbl, 1560, 2400, 2775, 255);

    cmdOK = Look::button(this, QStringLiteral("cmdOK"), QStringLiteral("&OK"));
    Look::place(cmdOK, 840, 3000, 1695, 375);
    cmdCancel = Look::button(this, QStringLiteral("cmdCancel"), QStringLiteral("&Cancel"));
    Look::place(cmdCancel, 2760, 3000, 1695, 375);

    Look::caption(lblName, txtName);
    Look::caption(lblStudUsername, lblStudID);
    Look::caption(lblPassword, txtPassword);
    txtPassword->setAccessibleDescription(lbl->text());

    dcUserInfo = new store::RecordCursor(QStringLiteral("dcUserInfo"), QStringLiteral("Users"), this);

    Shell::Connect(cmdOK, &QPushButton::clicked, this, &frmEditUser::cmdOK_Click);
    Shell::Connect(cmdCancel, &QPushButton::clicked, this, &frmEditUser::cmdCancel_Click);
}

void frmEditUser::Form_Load() { dcUserInfo->setDatabaseName(DatabasePath()); }

void frmEditUser::ShowUserDetails(const QString &Name, const QString &Username, const QString &Password)
{
    Look::showWhole(txtName, Name, 50);
    Look::showWhole(txtPassword, Password, 20);
    lblStudID->setText(Username);
    m_shownName = Name;
    m_shownPassword = Password;
}

void frmEditUser::cmdOK_Click()
{
    if (txtName->text().isEmpty()) {
        Msg::Refusal(QStringLiteral("Please enter a name!"));
        return;
    }
    if (txtPassword->text().isEmpty()) {
        Msg::Refusal(QStringLiteral("Please enter a password!"));
        return;
    }

    dcUserInfo->setRecordSource(QStringLiteral("Select * From Users Where Username ='") + lblStudID->text() +
                                QStringLiteral("'"));
    dcUserInfo->Refresh();
    // Deleted since the dialog was opened: nothing to change, and the
    // administrator must not believe it was saved. Changed at another station
    // meanwhile: saving would undo that change unseen. Back on the panel the
    // account shows as it is now.
    QString refusal;
    if (dcUserInfo->EOF_())
        refusal = QStringLiteral("\" no longer exists. Nothing was saved.");
    else if (dcUserInfo->FieldText(QStringLiteral("Name")) != m_shownName ||
             dcUserInfo->FieldText(QStringLiteral("Password")) != m_shownPassword)
        refusal = QStringLiteral("\" was changed at another station while you were editing it. Nothing was saved: "
                                 "please look at it again.");
    if (!refusal.isEmpty()) {
        Msg::Refusal(QStringLiteral("The user account \"") + lblStudID->text() + refusal, QStringLiteral("Error!"));
        ReturnToPanel();
        return;
    }
    dcUserInfo->Edit();
    dcUserInfo->SetField(QStringLiteral("Name"), txtName->text());
    dcUserInfo->SetField(QStringLiteral("Password"), txtPassword->text());
    dcUserInfo->Update();
    ReturnToPanel();
}

void frmEditUser::cmdCancel_Click() { ReturnToPanel(); }

void frmEditUser::ReturnToPanel()
{
    Hide();
    Shell::Show<frmAdminUsers>();
    Shell::Get<frmAdminUsers>().AdminUserDataLoad();
}
