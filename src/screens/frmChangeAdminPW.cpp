#include "frmChangeAdminPW.h"

#include "frmAdminStart.h"
#include "shell/Look.h"
#include "shell/MessageBox.h"
#include "shell/modGlobalVar.h"
#include "store/RecordCursor.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

frmChangeAdminPW::frmChangeAdminPW() : Screen(QStringLiteral("Change Admin Password"), 4680, 3450)
{
    const QFont bold = Look::boldArial();
    lblUsername = Look::label(this, QStringLiteral("lblUsername"), QStringLiteral("Username"), bold);
    Look::place(lblUsername, 240, 360, 975, 255);
    lblAdminUsername = Look::label(this, QStringLiteral("lblAdminUsername"), QString(), Look::arial(9.75));
    Look::place(lblAdminUsername, 1440, 360, 2895, 255);
    lblPassword = Look::label(this, QStringLiteral("lblPassword"), QStringLiteral("New Password"), bold);
    Look::place(lblPassword, 240, 1080, 975, 495);
    lblPassword2 = Look::label(this, QStringLiteral("lblPassword2"), QStringLiteral("Repeat the Password"), bold);
    Look::place(lblPassword2, 240, 1800, 1095, 615);
    txtPassword1 = Look::passwordField(this, QStringLiteral("txtPassword1"), 50);
    Look::place(txtPassword1, 1440, 1080, 2895, 375);
    txtPassword2 = Look::passwordField(this, QStringLiteral("txtPassword2"), 50);
    Look::place(txtPassword2, 1440, 1800, 2895, 375);
    cmdOK = Look::button(this, QStringLiteral("cmdOK"), QStringLiteral("O&K"));
    Look::place(cmdOK, 240, 2760, 1695, 375);
    cmdCancel = Look::button(this, QStringLiteral("cmdCancel"), QStringLiteral("C&ancel"));
    Look::place(cmdCancel, 2640, 2760, 1695, 375);
    Look::caption(lblUsername, lblAdminUsername);
    Look::caption(lblPassword, txtPassword1);
    Look::caption(lblPassword2, txtPassword2);
    dcAdmin = new store::RecordCursor(QStringLiteral("dcAdmin"), QStringLiteral("Administrators"), this);

    setTabOrder(txtPassword1, txtPassword2);
    setTabOrder(txtPassword2, cmdOK);
    setTabOrder(cmdOK, cmdCancel);

    Shell::Connect(cmdOK, &QPushButton::clicked, this, &frmChangeAdminPW::cmdOK_Click);
    Shell::Connect(cmdCancel, &QPushButton::clicked, this, &frmChangeAdminPW::cmdCancel_Click);
}

void frmChangeAdminPW::Form_Load() { dcAdmin->setDatabaseName(DatabasePath()); }

void frmChangeAdminPW::AdminEditLoad() { lblAdminUsername->setText(modGlobalVar::AdminUser); }

void frmChangeAdminPW::cmdOK_Click()
{
    if (txtPassword1->text() != txtPassword2->text()) {
        Msg::Refusal(QStringLiteral("Please retype your passwords!"), QStringLiteral("Error!"));
        return;
    }
    dcAdmin->setRecordSource(QStringLiteral("Select * From Administrators where AdminUsername ='") +
                             lblAdminUsername->text() + QStringLiteral("'"));
    dcAdmin->Refresh();
    // The account may have been removed from the file by other means meanwhile.
    if (dcAdmin->EOF_()) {
        Msg::Refusal(QStringLiteral("The administrator account \"%1\" is no longer in the election file. "
                                    "The password was not changed.")
                         .arg(lblAdminUsername->text()));
        return;
    }
    dcAdmin->Edit();
    dcAdmin->SetField(QStringLiteral("AdminPassword"), txtPassword1->text());
    dcAdmin->Update();
    Hide();
    Shell::Show<frmAdminStart>();
    Shell::Get<frmAdminStart>().AdminStartDataLoad();
}

void frmChangeAdminPW::cmdCancel_Click()
{
    Shell::Show<frmAdminStart>();
    Hide();
}
