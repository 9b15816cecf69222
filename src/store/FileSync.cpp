#include "FileSync.h"

#include "System.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cstring>

bool SyncPath(const QString& path)
{
    return Os::SyncPath(path);
}

bool ReplaceFile(const QString& from, const QString& to)
{
    int error = 0;
    if (!Os::Replace(from, to, error))
        return false;
    SyncPath(QFileInfo(to).absolutePath());
    return true;
}

bool PlaceNewFile(const QString& from, const QString& to)
{
    int error = 0;
    if (!Os::PlaceNew(from, to, error))
        return false;
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

// Opens the file (creating it when `create`) and takes its lock without waiting. NoHandle when it
// cannot be opened (error says why) or another holds the lock (held is then true).
Os::Handle lockFile(const QString& path, bool create, bool& held, int& error)
{
    return Os::OpenLocked(path, create, held, error);
}

// Whether the file's first bytes are those of a database file (or none, or zeros not yet written).
bool startsAsDatabase(Os::Handle file)
{
    static const char magic[16] = "SQLite format 3";
    char head[16];
    const qsizetype n = Os::ReadAt(file, head, sizeof head, 0);
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
        int error = 0;
        const Os::Handle file = lockFile(path, true, held, error);
        if (file != Os::NoHandle) {
            if (!Os::Truncate(file, error)) {
                m_error = Os::ErrorText(error);
                Os::Close(file, error);
                return;
            }
            removeSideFiles(path);
            m_file = file;
            m_path = path;
            return;
        }
        if (!held) {
            m_error = QStringLiteral("%1：%2").arg(path, Os::ErrorText(error));
            return;
        }
    }
    m_error = QStringLiteral("%1%2：%3").arg(stem, suffix, Os::ErrorText(EBUSY));
}

PartFile::~PartFile()
{
    Release();
}

void PartFile::Remove()
{
    if (m_file == Os::NoHandle)
        return;
    QFile::remove(m_path);
    removeSideFiles(m_path);
    Release();
}

void PartFile::Release()
{
    int error = 0;
    if (m_file != Os::NoHandle)
        Os::Close(m_file, error);
    m_file = Os::NoHandle;
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
        int error = 0;
        const Os::Handle file = lockFile(path, !QFileInfo::exists(path), held, error);
        if (file == Os::NoHandle)
            continue;
        if (!databasesOnly || startsAsDatabase(file)) {
            QFile::remove(path);
            removeSideFiles(path);
        }
        Os::Close(file, error);
    }
}

QString FileErrorWords(int error)
{
    switch (error) {
    case ENOSPC:
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
        return QStringLiteral("系统错误 %1：%2").arg(error).arg(Os::ErrorText(error));
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
    int error = 0;
    if (!Os::MayWrite(m_target, error))
        return fail(QStringLiteral("不能写入"), error);
    QFile::remove(m_part);
    m_file = Os::CreateForWriting(m_part, error);
    if (m_file == Os::NoHandle)
        return fail(QStringLiteral("不能写入"), error);
    m_partMade = true;
    return true;
}

bool WholeFile::Write(const char* data, qsizetype size)
{
    if (m_file == Os::NoHandle)
        return false;
    int error = 0;
    if (!Os::WriteAll(m_file, data, size, error))
        return fail(QStringLiteral("不能写入"), error);
    return true;
}

bool WholeFile::Commit()
{
    if (m_file == Os::NoHandle)
        return false;
    if (QFileInfo::exists(m_target))
        Os::CopyPermissions(m_file, m_target);
    int error = 0;
    if (!Os::Sync(m_file, error))
        return fail(QStringLiteral("不能写入"), error);
    const Os::Handle file = m_file;
    m_file = Os::NoHandle;
    if (!Os::Close(file, error))
        return fail(QStringLiteral("不能写入"), error);
    if (!Os::Replace(m_part, m_target, error))
        return fail(QStringLiteral("不能替换"), error);
    m_partMade = false;
    SyncPath(QFileInfo(m_target).absolutePath());
    return true;
}

void WholeFile::Discard()
{
    int error = 0;
    if (m_file != Os::NoHandle)
        Os::Close(m_file, error);
    m_file = Os::NoHandle;
    if (m_partMade)
        QFile::remove(m_part);
    m_partMade = false;
}
