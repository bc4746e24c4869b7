#pragma once

#include <QString>

// Terminal helpers of the companion tool.
namespace Console {
void out(const QString &text);
void err(const QString &text);
// Reads one line from standard input after a prompt; without echo when asked
// and when standard input is a terminal. False at end of input.
bool prompt(const QString &question, QString &answer, bool hidden = false);
bool isTerminal();
// Reads one line from standard input, without its line break (LF or CRLF). False
// when there is no line at all.
bool readLine(QString &line);
} // namespace Console
