#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

class QLabel;
class QLineEdit;
class QPushButton;
namespace store {
class RecordCursor;
}

// Registers one new voter, whose user name is the student ID and who has not
// voted yet.
class frmAddUser final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmAddUser;
    frmAddUser();

    QLabel *lblName;
    QLineEdit *txtName;
    QLabel *lblStudUsername;
    QLineEdit *txtStudentID;
    QLabel *Label2;
    QLabel *lblPassword;
    QLineEdit *txtPassword;
    QLabel *lbl;
    QPushButton *cmdOK;
    QPushButton *cmdCancel;
    store::RecordCursor *dcUserInfo;

    void cmdOK_Click();
    void cmdCancel_Click();

protected:
    void Form_Load() override;
};
