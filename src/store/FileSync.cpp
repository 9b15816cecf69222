#include "FileSync.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

TPartFile::TPartFile(const QString& target) : m_target(target)
{
    // A link is followed: the file it names takes the new content, the link stays.
    const QFileInfo info(target);
    if (info.isSymLink() && info.exists())
        m_target = info.canonicalFilePath();
    m_part = m_target + QStringLiteral(".part");
}

TPartFile::~TPartFile()
{
    Discard();
}

bool TPartFile::fail(const QString& what, int error)
{
    m_error =
        QStringLiteral("%1 %2（%3）").arg(what, QDir::toNativeSeparators(m_target), FileErrorWords(error));
    Discard();
    return false;
}

bool TPartFile::Open()
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

bool TPartFile::Write(const char* data, qsizetype size)
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

bool TPartFile::Commit()
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

void TPartFile::Discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_partMade)
        ::unlink(QFile::encodeName(m_part).constData());
    m_partMade = false;
}
