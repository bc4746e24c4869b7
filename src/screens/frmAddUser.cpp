#include "frmAddUser.h"

#include "frmAdminUsers.h"
#include "shell/Look.h"
#include "shell/MessageBox.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"

#include <QLineEdit>
#include <QPushButton>

frmAddUser::frmAddUser() : Screen(QStringLiteral("Add User"), 4680, 3825)
{
    lblName = Look::label(this, QStringLiteral("lblName"), QStringLiteral("Name"), Look::boldArial());
    Look::place(lblName, 240, 360, 615, 255);
    txtName = Look::textField(this, QStringLiteral("txtName"), 50);
    Look::place(txtName, 960, 360, 3375, 375);

    lblStudUsername =
        Look::label(this, QStringLiteral("lblStudUsername"), QStringLiteral("Student ID/Username"), Look::boldArial());
    Look::place(lblStudUsername, 120, 1080, 1215, 735);
    txtStudentID = Look::textField(this, QStringLiteral("txtStudentID"), 20);
    Look::place(txtStudentID, 1440, 960, 2895, 375);
    Label2 = Look::label(this, QStringLiteral("Label2"),
                         QStringLiteral("Please take note that the username is the student ID"), font());
    Look::place(Label2, 1440, 1440, 2895, 375);

    lblPassword = Look::label(this, QStringLiteral("lblPassword"), QStringLiteral("Password"), Look::boldArial());
    Look::place(lblPassword, 240, 2040, 1215, 255);
    // Shown in clear: the administrator reads back what was typed.
    txtPassword = Look::textField(this, QStringLiteral("txtPassword"), 20);
    Look::place(txtPassword, 1560, 2040, 2775, 375);
    lbl = Look::label(this, QStringLiteral("lbl"), QStringLiteral("at max 20 characters only"), font());
    Look::place(lbl, 1560, 2520, 2775, 255);

    cmdOK = Look::button(this, QStringLiteral("cmdOK"), QStringLiteral("&OK"));
    Look::place(cmdOK, 840, 3120, 1695, 375);
    cmdCancel = Look::button(this, QStringLiteral("cmdCancel"), QStringLiteral("&Cancel"));
    Look::place(cmdCancel, 2760, 3120, 1695, 375);

    Look::caption(lblName, txtName);
    Look::caption(lblStudUsername, txtStudentID);
    txtStudentID->setAccessibleDescription(Label2->text());
    Look::caption(lblPassword, txtPassword);
    txtPassword->setAccessibleDescription(lbl->text());

    dcUserInfo = new store::RecordCursor(QStringLiteral("dcUserInfo"), QStringLiteral("Users"), this);

    Shell::Connect(cmdOK, &QPushButton::clicked, this, &frmAddUser::cmdOK_Click);
    Shell::Connect(cmdCancel, &QPushButton::clicked, this, &frmAddUser::cmdCancel_Click);
}

void frmAddUser::Form_Load() { dcUserInfo->setDatabaseName(DatabasePath()); }

void frmAddUser::cmdOK_Click()
{
    if (txtName->text().isEmpty()) {
        Msg::Refusal(QStringLiteral("Please enter a name!"));
        return;
    }
    if (txtStudentID->text().isEmpty()) {
        Msg::Refusal(QStringLiteral("Please enter a student ID/username!"));
        return;
    }
    if (txtPassword->text().isEmpty()) {
        Msg::Refusal(QStringLiteral("Please enter a password!"));
        return;
    }

    bool duplicate = false;
    {
        // The duplicate test and the append are one unit: a station adding the
        // same student ID at the same moment waits, and then finds it taken.
        store::Transaction tx(dcUserInfo->connection());
        dcUserInfo->setRecordSource(QStringLiteral("Select * from Users where Username ='") + txtStudentID->text() +
                                    QStringLiteral("'"));
        dcUserInfo->Refresh();
        if (!dcUserInfo->EOF_())
            dcUserInfo->MoveLast();
        duplicate = dcUserInfo->RecordCount() != 0;
        if (!duplicate) {
            dcUserInfo->AddNew();
            dcUserInfo->SetField(QStringLiteral("Name"), txtName->text());
            dcUserInfo->SetField(QStringLiteral("Username"), txtStudentID->text());
            dcUserInfo->SetField(QStringLiteral("Password"), txtPassword->text());
            dcUserInfo->SetField(QStringLiteral("HasVoted"), false);
            dcUserInfo->Update();
            tx.Commit();
        }
    }
    if (duplicate) {
        Msg::Refusal(QStringLiteral("Duplicate User Account Found!"), QStringLiteral("Error!"));
        return;
    }

    Hide();
    Shell::Show<frmAdminUsers>();
    Shell::Get<frmAdminUsers>().AdminUserDataLoad();
}

void frmAddUser::cmdCancel_Click()
{
    Hide();
    Shell::Show<frmAdminUsers>();
    Shell::Get<frmAdminUsers>().AdminUserDataLoad();
}
