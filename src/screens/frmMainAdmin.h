#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

// Placeholder until this screen is built: only its caption, size and the
// procedures other screens call.
class frmMainAdmin final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmMainAdmin;
    frmMainAdmin();

    void MainAdminDataLoad(int unused = 0);
};
