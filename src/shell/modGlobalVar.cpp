#include "modGlobalVar.h"

namespace modGlobalVar {
QString AdminUser;
QString AdminPass;
QString VoterUser;
QString VoterPass;
} // namespace modGlobalVar
