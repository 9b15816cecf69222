#include "FileSync.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

bool SyncPath(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool ReplaceFile(const QString& from, const QString& to)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return false;
    SyncPath(QFileInfo(to).absolutePath());
    return true;
}

bool PlaceNewFile(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        // A file system that cannot refuse in the rename itself: a second name (which is refused
        // when taken), then the first name goes.
        if (::link(source.constData(), target.constData()) != 0)
            return false;
        ::unlink(source.constData());
    }
    SyncPath(QFileInfo(to).absolutePath());
    return true;
}

namespace {

const char* const SideSuffixes[] = {"-journal", "-wal", "-shm"};

void removeSideFiles(const QString& path)
{
    for (const char* suffix : SideSuffixes)
        QFile::remove(path + QLatin1String(suffix));
}

// Whether the descriptor is still the file of that name (a cleaner may have removed it, and a writer
// made it anew, between the open and the lock).
bool stillNamed(int fd, const QByteArray& native)
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(native.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Opens the file (creating it when `create`) and takes its lock without waiting. -1 when it cannot
// be opened (errno says why) or another holds the lock (held is then true).
int lockFile(const QString& path, bool create, bool& held)
{
    held = false;
    const QByteArray native = QFile::encodeName(path);
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = ::open(native.constData(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
        if (fd < 0)
            return -1;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            held = errno == EWOULDBLOCK;
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        if (stillNamed(fd, native))
            return fd;
        ::close(fd);
    }
    errno = EBUSY;
    return -1;
}

// Whether the file's first bytes are those of a database file (or none, or zeros not yet written).
bool startsAsDatabase(int fd)
{
    static const char magic[16] = "SQLite format 3";
    char head[16];
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    if (n < 0)
        return false;
    const bool zeros = std::all_of(head, head + n, [](char c) { return c == 0; });
    return zeros || std::memcmp(head, magic, size_t(n)) == 0;
}

constexpr int MaxParts = 100;

} // namespace

TPartFile::TPartFile(const QString& stem, const QString& suffix)
{
    for (int n = 1; n <= MaxParts; ++n) {
        const QString path = n == 1 ? stem + suffix : QStringLiteral("%1.%2%3").arg(stem).arg(n).arg(suffix);
        bool held = false;
        const int fd = lockFile(path, true, held);
        if (fd >= 0) {
            if (::ftruncate(fd, 0) != 0) {
                m_error = QString::fromLocal8Bit(std::strerror(errno));
                ::close(fd);
                return;
            }
            removeSideFiles(path);
            m_fd = fd;
            m_path = path;
            return;
        }
        if (!held) {
            m_error = QStringLiteral("%1：%2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
    }
    m_error = QStringLiteral("%1%2：%3").arg(stem, suffix, QString::fromLocal8Bit(std::strerror(EBUSY)));
}

TPartFile::~TPartFile()
{
    Release();
}

void TPartFile::Remove()
{
    if (m_fd < 0)
        return;
    QFile::remove(m_path);
    removeSideFiles(m_path);
    Release();
}

void TPartFile::Release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void RemoveAbandonedParts(const QString& folder, const QStringList& nameFilters, bool databasesOnly)
{
    const QDir dir(folder);
    if (nameFilters.isEmpty() || !dir.exists())
        return;
    QStringList sideFilters;
    for (const QString& filter : nameFilters) {
        for (const char* suffix : SideSuffixes)
            sideFilters << filter + QLatin1String(suffix);
    }
    QStringList parts = dir.entryList(nameFilters, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& side : dir.entryList(sideFilters, QDir::Files | QDir::Hidden | QDir::System)) {
        for (const char* suffix : SideSuffixes) {
            if (side.endsWith(QLatin1String(suffix)))
                parts << side.chopped(qsizetype(std::strlen(suffix)));
        }
    }
    parts.removeDuplicates();
    for (const QString& part : parts) {
        // Only the lock's holder removes a part file and its journal: a writer holds its own all the
        // time it writes. A journal whose part file is gone is taken through a part file made for
        // the purpose, which a writer starting at this moment would have to lock first.
        const QString path = dir.filePath(part);
        bool held = false;
        const int fd = lockFile(path, !QFileInfo::exists(path), held);
        if (fd < 0)
            continue;
        if (!databasesOnly || startsAsDatabase(fd)) {
            QFile::remove(path);
            removeSideFiles(path);
        }
        ::close(fd);
    }
}
