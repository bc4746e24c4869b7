#pragma once

#include <QString>
#include <functional>

// While the election server is out of reach (a restart, a network down), the
// station neither ends nor takes input: a window over the screen says that it
// waits for the server, with the server's own words as detail, and the store tries
// the server again every second. The action under way then goes on by itself.
namespace ServerWait {

// Makes the store wait for a lost server instead of failing.
void install();

// Once the server answers again: a line for the election's record saying for how
// long and why it was out of reach; empty otherwise, and once taken.
QString TakeNote();

// --- test seam ---------------------------------------------------------------
// Called each time the window is shown (true, with its detail) and taken away.
void setOnChange(std::function<void(bool waiting, const QString &detail)> callback);

} // namespace ServerWait
