#include "Passwords.h"

#include <QRandomGenerator>
#include <limits>

namespace Passwords {

const char kAlphabet[] = "acdefhjkmnprtuvwxy34679";

namespace {

constexpr quint32 kSymbols = sizeof(kAlphabet) - 1;
static_assert(kSymbols == 23, "the strength stated in Passwords.h is for 23 symbols");
static_assert(kLength <= 20, "a password longer than 20 characters cannot be typed at the log-in");

} // namespace

QString generate()
{
    // Every draw is from the operating system's source (getrandom), and the draws
    // beyond the last whole multiple of the alphabet's size are drawn again, so
    // that each symbol is exactly as likely as every other.
    constexpr quint32 kFair = std::numeric_limits<quint32>::max() - std::numeric_limits<quint32>::max() % kSymbols;
    QRandomGenerator *source = QRandomGenerator::system();
    QString password;
    password.reserve(kLength);
    while (password.size() < kLength) {
        const quint32 draw = source->generate();
        if (draw < kFair)
            password += QLatin1Char(kAlphabet[draw % kSymbols]);
    }
    return password;
}

} // namespace Passwords
