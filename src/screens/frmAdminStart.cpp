#include "frmAdminStart.h"

frmAdminStart::frmAdminStart() : Screen(QStringLiteral("Pollaris Administrator's Panel"), 7770, 5115) {}

void frmAdminStart::AdminStartDataLoad() {}
