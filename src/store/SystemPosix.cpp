#include "System.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Os {

namespace {

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

// errno as the program tells it apart: a full quota is a full disk to the operator.
int lastError()
{
    return ErrnoFromSystem(errno);
}

// Whether the descriptor is still the file of that name (a cleaner may have removed it, and a writer
// made it anew, between the open and the lock).
bool stillNamed(int fd, const QByteArray& path)
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(path.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

Handle OpenLocked(const QString& path, bool create, bool& held, int& error)
{
    held = false;
    const QByteArray name = native(path);
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
        if (fd < 0) {
            error = lastError();
            return NoHandle;
        }
        // flock, not fcntl: the engine's own fcntl locks on the same file stay apart from it.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            held = errno == EWOULDBLOCK;
            error = lastError();
            ::close(fd);
            return NoHandle;
        }
        if (stillNamed(fd, name))
            return fd;
        ::close(fd);
    }
    error = EBUSY;
    return NoHandle;
}

Handle CreateForWriting(const QString& path, int& error)
{
    const int fd = ::open(native(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        error = lastError();
    return fd;
}

bool Truncate(Handle file, int& error)
{
    if (::ftruncate(int(file), 0) == 0)
        return true;
    error = lastError();
    return false;
}

bool WriteAll(Handle file, const char* data, qsizetype size, int& error)
{
    while (size > 0) {
        const ssize_t n = ::write(int(file), data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? lastError() : ENOSPC;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

qsizetype ReadAt(Handle file, char* data, qsizetype size, qint64 offset)
{
    return qsizetype(::pread(int(file), data, size_t(size), off_t(offset)));
}

bool Sync(Handle file, int& error)
{
    if (::fsync(int(file)) == 0)
        return true;
    error = lastError();
    return false;
}

bool Close(Handle file, int& error)
{
    if (::close(int(file)) == 0)
        return true;
    error = lastError();
    return false;
}

void CopyPermissions(Handle file, const QString& from)
{
    struct stat old {};
    if (::stat(native(from).constData(), &old) == 0)
        ::fchmod(int(file), old.st_mode & 07777);
}

bool SyncPath(const QString& path)
{
    const int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool Replace(const QString& from, const QString& to, int& error)
{
    if (std::rename(native(from).constData(), native(to).constData()) == 0)
        return true;
    error = lastError();
    return false;
}

bool PlaceNew(const QString& from, const QString& to, int& error)
{
    const QByteArray source = native(from);
    const QByteArray target = native(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        error = lastError();
        return false;
    }
    // A file system that cannot refuse in the rename itself: a second name (which is refused when
    // taken), then the first name goes.
    if (::link(source.constData(), target.constData()) != 0) {
        error = lastError();
        return false;
    }
    ::unlink(source.constData());
    return true;
}

bool OpenFilesMayBeReplaced()
{
    return true;
}

bool MayWrite(const QString& path, int& error)
{
    const QByteArray name = native(path);
    if (::access(name.constData(), F_OK) != 0 || ::access(name.constData(), W_OK) == 0)
        return true;
    error = lastError();
    return false;
}

int ErrnoFromSystem(int systemError)
{
    return systemError == EDQUOT ? ENOSPC : systemError;
}

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString AccountName()
{
    if (const passwd* account = ::getpwuid(::geteuid()); account && account->pw_name)
        return QString::fromLocal8Bit(account->pw_name);
    return QStringLiteral("?");
}

bool StandardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) != 0;
}

void WriteText(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace Os
