#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

class QLabel;
class QLineEdit;
class QPushButton;
namespace store {
class RecordCursor;
}

// The voter log-in: admits each voter account to the ballot exactly once.
class frmVoterLogIn final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmVoterLogIn;
    frmVoterLogIn();

    QLabel *lblUsername;
    QLineEdit *txtUsername;
    QLabel *lblPassword;
    QLineEdit *txtPassword;
    QPushButton *cmdOK;
    QPushButton *cmdCancel;
    store::RecordCursor *dcVoter;

    void VoterTextClear();

    void cmdOK_Click();
    void cmdCancel_Click();

protected:
    void Form_Load() override;
};
