#pragma once

#include <QString>

// Passwords the tool makes for voters' accounts: printed on a slip, read by a
// voter and typed at a polling station, so made of characters no one takes for
// another.
namespace Passwords {

// Lower-case letters and digits, without those that look like another in print
// or in handwriting: no 0/o, 1/l/i, 2/z, 5/s, 6/b, 8/b, 9/g/q. 23 symbols.
extern const char kAlphabet[];
// 10 characters of 23 symbols are 10 x log2(23), about 45 bits: 3.5 x 10^13
// passwords. The one way to try them is the log-in screen of a polling station,
// a few tries a second at most under the eyes of the election's staff: centuries
// for even a tiny share of them. (A copy of the election itself needs no
// guessing: it holds the passwords as they are, so length buys nothing there.)
// Ten characters still fit the program's limit of 20 and are typed without a
// slip of the eye.
constexpr int kLength = 10;

// A new password, each character drawn uniformly from kAlphabet with the
// operating system's cryptographically secure source.
QString generate();

} // namespace Passwords
