#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

class QLabel;
class QLineEdit;
class QPushButton;
namespace store {
class RecordCursor;
}

// Gives the logged-in administrator account a new password, typed twice.
class frmChangeAdminPW final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmChangeAdminPW;
    frmChangeAdminPW();

    QLabel *lblUsername;
    QLabel *lblAdminUsername;
    QLabel *lblPassword;
    QLabel *lblPassword2;
    QLineEdit *txtPassword1;
    QLineEdit *txtPassword2;
    QPushButton *cmdOK;
    QPushButton *cmdCancel;
    store::RecordCursor *dcAdmin;

    void AdminEditLoad();
    void cmdOK_Click();
    void cmdCancel_Click();

protected:
    void Form_Load() override;
};
