#include "frmAdminLogIn.h"

frmAdminLogIn::frmAdminLogIn() : Screen(QStringLiteral("Administrator Log In"), 4680, 2415) {}

void frmAdminLogIn::TextClear() {}
