#pragma once

#include <QString>

// The program-wide session variables. Empty at start; each successful log-in
// overwrites them and nothing clears them (logging out leaves them as they are).
namespace modGlobalVar {
extern QString AdminUser;
extern QString AdminPass;
extern QString VoterUser;
extern QString VoterPass;
} // namespace modGlobalVar
