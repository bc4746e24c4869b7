#include "frmAdminLogIn.h"

#include "frmAdminStart.h"
#include "frmMain.h"
#include "shell/Guessing.h"
#include "shell/Look.h"
#include "shell/MessageBox.h"
#include "shell/modGlobalVar.h"
#include "store/RecordCursor.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

frmAdminLogIn::frmAdminLogIn() : Screen(QStringLiteral("Administrator Log In"), 4680, 2415)
{
    lblUsername = Look::label(this, QStringLiteral("lblUsername"), QStringLiteral("Username"), Look::boldArial());
    Look::place(lblUsername, 240, 360, 975, 255);
    lblPassword = Look::label(this, QStringLiteral("lblPassword"), QStringLiteral("Password"), Look::boldArial());
    Look::place(lblPassword, 240, 1080, 975, 255);
    txtUsername = Look::textField(this, QStringLiteral("txtUsername"), 50);
    Look::place(txtUsername, 1320, 360, 3015, 375);
    txtPassword = Look::passwordField(this, QStringLiteral("txtPassword"), 50);
    Look::place(txtPassword, 1320, 1080, 3015, 375);
    cmdOK = Look::button(this, QStringLiteral("cmdOK"), QStringLiteral("&OK"));
    Look::place(cmdOK, 240, 1800, 1695, 375);
    cmdCancel = Look::button(this, QStringLiteral("cmdCancel"), QStringLiteral("C&ancel"));
    Look::place(cmdCancel, 2640, 1800, 1695, 375);
    Look::caption(lblUsername, txtUsername);
    Look::caption(lblPassword, txtPassword);
    dcAdmin = new store::RecordCursor(QStringLiteral("dcAdmin"), QStringLiteral("Administrators"), this);

    setTabOrder(txtUsername, txtPassword);
    setTabOrder(txtPassword, cmdOK);
    setTabOrder(cmdOK, cmdCancel);

    Shell::Connect(cmdOK, &QPushButton::clicked, this, &frmAdminLogIn::cmdOK_Click);
    Shell::Connect(cmdCancel, &QPushButton::clicked, this, &frmAdminLogIn::cmdCancel_Click);
}

void frmAdminLogIn::Form_Load()
{
    TextClear();
    dcAdmin->setDatabaseName(DatabasePath());
}

void frmAdminLogIn::TextClear()
{
    txtPassword->setText(QString());
    txtUsername->setText(QString());
}

void frmAdminLogIn::cmdOK_Click()
{
    Guessing::BeforeAttempt();
    dcAdmin->setRecordSource(QStringLiteral("Select * From Administrators where AdminUsername ='") +
                             txtUsername->text() + QStringLiteral("'"));
    dcAdmin->Refresh();
    if (dcAdmin->BOF() || dcAdmin->EOF_()) {
        Guessing::Failed(Guessing::LogIn::Administrator);
        Msg::Refusal(QStringLiteral("Incorrect Username!"), QStringLiteral("Error!"));
        return;
    }
    // A password that holds no value matches nothing, not even an empty entry.
    const QVariant password = dcAdmin->Field(QStringLiteral("AdminPassword"));
    if (password.isNull() || txtPassword->text() != password.toString()) {
        Guessing::Failed(Guessing::LogIn::Administrator);
        Msg::Refusal(QStringLiteral("Incorrect Password!"), QStringLiteral("Error!"));
        return;
    }
    Guessing::Succeeded();
    Shell::Record(QStringLiteral("administrator %1 logged in").arg(txtUsername->text()));
    modGlobalVar::AdminUser = txtUsername->text();
    modGlobalVar::AdminPass = txtPassword->text();
    Shell::Show<frmAdminStart>();
    Shell::Get<frmAdminStart>().AdminStartDataLoad();
    Hide();
    TextClear();
}

void frmAdminLogIn::cmdCancel_Click()
{
    TextClear();
    Hide();
    Shell::Show<frmMain>();
}
