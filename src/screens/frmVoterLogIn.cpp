#include "frmVoterLogIn.h"

#include "frmMain.h"
#include "frmVoter.h"
#include "shell/Guessing.h"
#include "shell/Look.h"
#include "shell/MessageBox.h"
#include "shell/modGlobalVar.h"
#include "store/RecordCursor.h"

#include <QLineEdit>
#include <QPushButton>

frmVoterLogIn::frmVoterLogIn() : Screen(QStringLiteral("Voter's Login"), 4680, 2355)
{
    lblUsername = Look::label(this, QStringLiteral("lblUsername"), QStringLiteral("Username"), Look::boldArial());
    Look::place(lblUsername, 240, 375, 1215, 285);
    txtUsername = Look::textField(this, QStringLiteral("txtUsername"), 20);
    Look::place(txtUsername, 1560, 300, 2880, 375);

    lblPassword = Look::label(this, QStringLiteral("lblPassword"), QStringLiteral("Password"), Look::boldArial());
    Look::place(lblPassword, 240, 975, 1215, 285);
    txtPassword = Look::passwordField(this, QStringLiteral("txtPassword"), 20);
    Look::place(txtPassword, 1560, 900, 2880, 375);

    cmdOK = Look::button(this, QStringLiteral("cmdOK"), QStringLiteral("&OK"));
    Look::place(cmdOK, 960, 1620, 1215, 450);
    cmdCancel = Look::button(this, QStringLiteral("cmdCancel"), QStringLiteral("C&ancel"));
    Look::place(cmdCancel, 2520, 1620, 1215, 450);

    Look::caption(lblUsername, txtUsername);
    Look::caption(lblPassword, txtPassword);

    dcVoter = new store::RecordCursor(QStringLiteral("dcVoter"), QStringLiteral("Users"), this);

    QWidget::setTabOrder(cmdCancel, cmdOK);
    QWidget::setTabOrder(cmdOK, txtPassword);
    QWidget::setTabOrder(txtPassword, txtUsername);
    cmdCancel->setFocus();

    Shell::Connect(cmdOK, &QPushButton::clicked, this, &frmVoterLogIn::cmdOK_Click);
    Shell::Connect(cmdCancel, &QPushButton::clicked, this, &frmVoterLogIn::cmdCancel_Click);
}

void frmVoterLogIn::Form_Load()
{
    dcVoter->setDatabaseName(DatabasePath());
    VoterTextClear();
}

void frmVoterLogIn::VoterTextClear()
{
    txtPassword->setText(QString());
    txtUsername->setText(QString());
}

void frmVoterLogIn::cmdOK_Click()
{
    Guessing::BeforeAttempt();
    dcVoter->setRecordSource(QStringLiteral("Select * From Users where Username ='") + txtUsername->text() +
                             QStringLiteral("'"));
    dcVoter->Refresh();
    if (dcVoter->BOF() || dcVoter->EOF_()) {
        Guessing::Failed(Guessing::LogIn::Voter);
        Msg::Refusal(QStringLiteral("Incorrect Username!"), QStringLiteral("Error!"));
        return;
    }

    // An account without a password is unusable, even with an empty entry.
    const QVariant password = dcVoter->Field(QStringLiteral("Password"));
    if (password.isNull() || password.toString() != txtPassword->text()) {
        Guessing::Failed(Guessing::LogIn::Voter);
        Msg::Refusal(QStringLiteral("Incorrect Password!"), QStringLiteral("Error!"));
        return;
    }
    Guessing::Succeeded();

    // A flag with no value counts as not voted.
    if (dcVoter->Field(QStringLiteral("HasVoted")).toBool()) {
        Msg::Refusal(QStringLiteral("User has already voted!"), QStringLiteral("Error!"));
        return;
    }

    modGlobalVar::VoterUser = txtUsername->text();
    modGlobalVar::VoterPass = txtPassword->text();

    // The account is spent from here on, whatever happens on the ballot.
    dcVoter->Edit();
    dcVoter->SetField(QStringLiteral("HasVoted"), true);
    dcVoter->Update();

    Msg::Warning(QStringLiteral("Warning! Users can only login once"));

    VoterTextClear();
    Hide();
    Shell::Show<frmVoter>();
    Shell::Get<frmVoter>().MainVoterDataLoad(0);
    Shell::Get<frmVoter>().lblWelcome->setText(QStringLiteral("Welcome, ") + modGlobalVar::VoterUser);
}

void frmVoterLogIn::cmdCancel_Click()
{
    VoterTextClear();
    Hide();
    Shell::Show<frmMain>();
}
