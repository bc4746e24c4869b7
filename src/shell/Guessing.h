#pragma once

#include <functional>

// A station slows down whoever guesses user names or passwords: after five failed
// log-ins in a row (voter or administrator) each further attempt waits before it is
// checked, one second, then two, four and so on up to half a minute, while the
// screen takes no input. A log-in that finds its account ends the run.
namespace Guessing {

constexpr int kFreeTries = 5;
constexpr int kLongestWaitMs = 30000;

// As a log-in's OK is handled, before the account is looked up.
void BeforeAttempt();
enum class LogIn { Administrator, Voter };
// A log-in refused for its user name or password: counted here, and in the
// election (how many, of which kind, never what was typed).
void Failed(LogIn kind);
// A log-in that found its account (let in, or refused as having voted).
void Succeeded();
// How long the next attempt waits, in milliseconds.
int NextWaitMs();

// --- test seam ---------------------------------------------------------------
// Replaces the waiting itself (the program pauses, drawing its screens).
void setPause(std::function<void(int ms)> pause);
void reset();

} // namespace Guessing
