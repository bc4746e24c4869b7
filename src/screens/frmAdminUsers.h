#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

class QLabel;
class QListWidget;
class QPushButton;
namespace store {
class RecordCursor;
}

// The register of voters: lists every account by user name, shows the picked
// account, deletes it, and opens the add and edit dialogs.
class frmAdminUsers final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmAdminUsers;
    frmAdminUsers();

    QPushButton *cmdDelUser;
    QPushButton *cmdBack;
    QPushButton *cmdEditCand;
    QPushButton *cmdAddUser;
    QListWidget *lstUser;
    QLabel *lblStudPassword;
    QLabel *lblStudUsername;
    QLabel *lblStudName;
    QLabel *lblPassword;
    QLabel *lblUsername;
    QLabel *lblName;
    QLabel *lblStudDetails;
    QLabel *lblDesignPanel2;
    QLabel *lblListofUsers;
    QLabel *lblDesignPanel1;
    store::RecordCursor *dcUserInfo;

    void AdminUserDataLoad();

    void lstUser_Click(int index);
    void cmdDelUser_Click();
    void cmdEditCand_Click();
    void cmdAddUser_Click();
    void cmdBack_Click();

protected:
    void Form_Load() override;
};
