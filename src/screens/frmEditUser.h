#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

class QLabel;
class QLineEdit;
class QPushButton;
namespace store {
class RecordCursor;
}

// Changes the name and password of one voter; the user name and the voted flag
// stay as they are.
class frmEditUser final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmEditUser;
    frmEditUser();

    QLabel *lblName;
    QLineEdit *txtName;
    QLabel *lblStudUsername;
    QLabel *lblStudID;
    QLabel *Label2;
    QLabel *lblPassword;
    QLineEdit *txtPassword;
    QLabel *lbl;
    QPushButton *cmdOK;
    QPushButton *cmdCancel;
    store::RecordCursor *dcUserInfo;

    void ShowUserDetails(const QString &Name, const QString &Username, const QString &Password);

    void cmdOK_Click();
    void cmdCancel_Click();

protected:
    void Form_Load() override;

private:
    // Back to the voter accounts panel, read afresh.
    void ReturnToPanel();
    // The account as it was shown when the dialog opened.
    QString m_shownName, m_shownPassword;
};
