#include "NewFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace NewFile {

namespace {

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Puts partial at target unless something is there: renameat2 with
// RENAME_NOREPLACE, or where the file system lacks it, a hard link and the
// removal of the temporary name. Never a copy, never a plain rename.
int placeWithoutReplacing(const QByteArray &partial, const QByteArray &target)
{
    if (::renameat2(AT_FDCWD, partial.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    if (::link(partial.constData(), target.constData()) != 0)
        return errno;
    ::unlink(partial.constData());
    return 0;
}

// The folder's entries reach the disk, so that the new name survives a crash.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

QString refusal(const QString &target)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(target).constData(), &st) != 0)
        return errno == ENOENT ? QString()
                               : QStringLiteral("%1: cannot be checked: %2").arg(target, systemError(errno));
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("%1 is a symbolic link; it was left untouched and is not followed. Name a new file.")
            .arg(target);
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is a folder; name a new file, for instance %2")
            .arg(target, QDir::cleanPath(target + QStringLiteral("/candpos4-copy.mdb")));
    return QStringLiteral("%1 already exists; it was left untouched").arg(target);
}

QString create(const QString &target, const std::function<QString(const QString &partial)> &fill)
{
    if (QString why = refusal(target); !why.isEmpty())
        return why;
    const QFileInfo place(target);
    const QString folder = place.absolutePath();
    QByteArray pattern =
        QFile::encodeName(folder + QStringLiteral("/.") + place.fileName() + QStringLiteral(".partial-XXXXXX"));
    const int fd = ::mkstemp(pattern.data()); // a fresh name, created here, mode 0600
    if (fd < 0)
        return QStringLiteral("cannot write in the folder %1: %2").arg(folder, systemError(errno));
    ::close(fd);
    const QString partial = QFile::decodeName(pattern);

    QString failure = fill(partial);
    if (failure.isEmpty()) {
        const int error = placeWithoutReplacing(pattern, QFile::encodeName(target));
        if (error == EEXIST) {
            const QString why = refusal(target);
            failure = (why.isEmpty() ? target + QStringLiteral(" was in the way") : why) +
                      QStringLiteral(" (it appeared while the new file was written)");
        } else if (error != 0) {
            failure = QStringLiteral("cannot put the new file at %1: %2").arg(target, systemError(error));
        }
    }
    if (failure.isEmpty())
        syncFolder(folder);
    else
        ::unlink(pattern.constData());
    return failure;
}

} // namespace NewFile
