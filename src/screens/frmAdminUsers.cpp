#include "frmAdminUsers.h"

frmAdminUsers::frmAdminUsers() : Screen(QStringLiteral("Administrator's Panel (Users)"), 6000, 5000) {}

void frmAdminUsers::AdminUserDataLoad() {}
