#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

class ClickableLabel;
class QLabel;

// The main menu, home of both roads: voter log-in, administrator log-in, exit.
class frmMain final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmMain;
    frmMain();

    QLabel *picTitleBar;
    ClickableLabel *lblLogUser;
    ClickableLabel *lblLogAdmin;
    ClickableLabel *lblExit;

    void lblLogUser_Click();
    void lblLogAdmin_Click();
    void lblExit_Click();
};
