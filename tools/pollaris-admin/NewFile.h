#pragma once

#include <QString>
#include <functional>

// Making a new file that nothing else is ever lost to: it is written whole
// under a temporary name beside its place, then put there by an operation that
// fails when anything (a file, a folder, a link, even one that points nowhere)
// has appeared there meanwhile. Nothing is ever overwritten, and no link is
// followed.
namespace NewFile {

// Why a new file cannot be made at target, naming it; empty when it can.
QString refusal(const QString &target);

// Makes target: fill writes the content into the empty file whose path it is
// given (readable and writable by its owner only) and returns an empty text, or
// what went wrong. Returns an empty text when target is in place, otherwise the
// failure, naming the path it is about; nothing is left behind then.
QString create(const QString &target, const std::function<QString(const QString &partial)> &fill);

} // namespace NewFile
