#include "frmMainAdmin.h"

frmMainAdmin::frmMainAdmin() : Screen(QStringLiteral("Administrator's Panel - Candidates and Positions"), 8880, 7245) {}

void frmMainAdmin::MainAdminDataLoad(int) {}
