#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

class QLabel;
class QLineEdit;
class QPushButton;
namespace store {
class RecordCursor;
}

// The gate to the administration screens.
class frmAdminLogIn final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmAdminLogIn;
    frmAdminLogIn();

    QLabel *lblUsername;
    QLabel *lblPassword;
    QLineEdit *txtUsername;
    QLineEdit *txtPassword;
    QPushButton *cmdOK;
    QPushButton *cmdCancel;
    store::RecordCursor *dcAdmin;

    void TextClear();
    void cmdOK_Click();
    void cmdCancel_Click();

protected:
    void Form_Load() override;
};
