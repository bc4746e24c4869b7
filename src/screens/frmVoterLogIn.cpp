#include "frmVoterLogIn.h"

frmVoterLogIn::frmVoterLogIn() : Screen(QStringLiteral("Voter's Login"), 4680, 2355) {}

void frmVoterLogIn::VoterTextClear() {}
