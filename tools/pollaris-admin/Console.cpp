#include "Console.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace Console {

void out(const QString &text) { std::fputs(text.toLocal8Bit().constData(), stdout); }
void err(const QString &text) { std::fputs(text.toLocal8Bit().constData(), stderr); }

bool isTerminal() { return isatty(STDIN_FILENO); }

bool prompt(const QString &question, QString &answer, bool hidden)
{
    std::fputs(question.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    termios saved{};
    const bool noEcho = hidden && isTerminal() && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (noEcho) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    const bool ok = bool(std::getline(std::cin, line));
    if (noEcho) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    answer = QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
    return ok;
}

bool readLine(QString &line)
{
    std::string text;
    if (!std::getline(std::cin, text))
        return false;
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    line = QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
    return true;
}

} // namespace Console
