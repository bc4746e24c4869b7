#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

// Placeholder until this screen is built: only its caption, size and the
// procedures other screens call.
class frmVoterLogIn final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmVoterLogIn;
    frmVoterLogIn();

    void VoterTextClear();
};
