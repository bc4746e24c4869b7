#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

class QLabel;
class QPushButton;
namespace store {
class RecordCursor;
}

// The administrator's home: the election's figures and the way to the other
// administration screens.
class frmAdminStart final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmAdminStart;
    frmAdminStart();

    QLabel *Label2;
    QLabel *lblWelcome;
    QLabel *lblCS;
    QLabel *lblText1;
    QLabel *lblText2;
    QLabel *lblText3;
    QPushButton *cmdCandPos;
    QPushButton *cmdUsers;
    QLabel *lblPos;
    QLabel *lblCand;
    QLabel *lblUser;
    QPushButton *cmdLogOut;
    QPushButton *cmdEditProf;
    store::RecordCursor *dcPos;
    store::RecordCursor *dcCand;
    store::RecordCursor *dcUser;

    void AdminStartDataLoad();
    void cmdCandPos_Click();
    void cmdUsers_Click();
    void cmdEditProf_Click();
    void cmdLogOut_Click();

protected:
    void Form_Load() override;

private:
    static void CountInto(store::RecordCursor *cursor, const QString &query, QLabel *figure);
};
