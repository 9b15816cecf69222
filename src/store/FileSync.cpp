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

PartFile::PartFile(const QString& stem, const QString& suffix)
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

PartFile::~PartFile()
{
    Release();
}

void PartFile::Remove()
{
    if (m_fd < 0)
        return;
    QFile::remove(m_path);
    removeSideFiles(m_path);
    Release();
}

void PartFile::Release()
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

QString FileErrorWords(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘已满");
    case EFBIG:
        return QStringLiteral("磁盘已满，或超过了允许的文件大小");
    case EROFS:
        return QStringLiteral("磁盘是只读的");
    case EACCES:
    case EPERM:
        return QStringLiteral("文件夹或文件是只读的，没有写入的权限");
    case ENOENT:
        return QStringLiteral("文件夹不存在");
    case ENOTDIR:
        return QStringLiteral("路径中有一项不是文件夹");
    case EISDIR:
        return QStringLiteral("这是一个文件夹");
    case EIO:
        return QStringLiteral("读写磁盘出错");
    case ENAMETOOLONG:
        return QStringLiteral("文件名太长");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("文件正被其他程序使用");
    default:
        return QStringLiteral("系统错误 %1：%2").arg(error).arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

WholeFile::WholeFile(const QString& target) : m_target(target)
{
    // A link is followed: the file it names takes the new content, the link stays.
    const QFileInfo info(target);
    if (info.isSymLink() && info.exists())
        m_target = info.canonicalFilePath();
    m_part = m_target + QStringLiteral(".part");
}

WholeFile::~WholeFile()
{
    Discard();
}

bool WholeFile::fail(const QString& what, int error)
{
    m_error =
        QStringLiteral("%1 %2（%3）").arg(what, QDir::toNativeSeparators(m_target), FileErrorWords(error));
    Discard();
    return false;
}

bool WholeFile::Open()
{
    Discard();
    m_error.clear();
    const QByteArray target = QFile::encodeName(m_target);
    if (::access(target.constData(), F_OK) == 0 && ::access(target.constData(), W_OK) != 0)
        return fail(QStringLiteral("不能写入"), errno);
    const QByteArray part = QFile::encodeName(m_part);
    ::unlink(part.constData());
    m_fd = ::open(part.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0)
        return fail(QStringLiteral("不能写入"), errno);
    m_partMade = true;
    return true;
}

bool WholeFile::Write(const char* data, qsizetype size)
{
    if (m_fd < 0)
        return false;
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(QStringLiteral("不能写入"), n < 0 ? errno : ENOSPC);
        data += n;
        size -= n;
    }
    return true;
}

bool WholeFile::Commit()
{
    if (m_fd < 0)
        return false;
    struct stat old {};
    const QByteArray target = QFile::encodeName(m_target);
    if (::stat(target.constData(), &old) == 0)
        ::fchmod(m_fd, old.st_mode & 07777);
    if (::fsync(m_fd) != 0)
        return fail(QStringLiteral("不能写入"), errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return fail(QStringLiteral("不能写入"), errno);
    if (std::rename(QFile::encodeName(m_part).constData(), target.constData()) != 0)
        return fail(QStringLiteral("不能替换"), errno);
    m_partMade = false;
    SyncPath(QFileInfo(m_target).absolutePath());
    return true;
}

void WholeFile::Discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_partMade)
        ::unlink(QFile::encodeName(m_part).constData());
    m_partMade = false;
}
