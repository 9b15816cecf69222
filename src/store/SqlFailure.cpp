#include "SqlFailure.h"

#include "FileSync.h"

#include <cerrno>
#include <sqlite3.h>

QString SqlFailure::Describe() const
{
    if (words.isEmpty())
        return detail;
    if (detail.isEmpty())
        return words;
    return QStringLiteral("%1（%2）").arg(words, detail);
}

namespace {

const char* const ReadOnlyWords = "数据库文件或它所在的文件夹是只读的";
const char* const InUseWords = "数据库正被其他程序使用";

QString words(const char* text)
{
    return QString::fromUtf8(text);
}

// A file error under the engine: the operating system's reason where it has one.
QString fileWords(int systemError, const char* otherwise)
{
    switch (systemError) {
    case EACCES:
    case EPERM:
    case EROFS:
        return words(ReadOnlyWords);
    case ENOSPC:
    case EFBIG:
        return FileErrorWords(systemError);
    default:
        return words(otherwise);
    }
}

} // namespace

SqlFailure SqliteFailure(int code, int systemError, const QString& detail)
{
    SqlFailure f;
    f.detail = detail;
    switch (code & 0xFF) {
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
        f.aboutTheRow = true;
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        f.words = words(InUseWords);
        f.inUse = true;
        break;
    case SQLITE_READONLY:
        f.words = words(ReadOnlyWords);
        break;
    case SQLITE_FULL:
        f.words = words("磁盘已满");
        break;
    case SQLITE_IOERR:
        f.words = fileWords(systemError, "读写磁盘出错");
        break;
    case SQLITE_CANTOPEN:
        f.words = fileWords(systemError, "不能打开数据库文件");
        break;
    case SQLITE_PERM:
    case SQLITE_AUTH:
        f.words = words("没有写入数据库的权限");
        break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        f.words = words("数据库文件已损坏");
        break;
    case SQLITE_NOMEM:
        f.words = words("内存不足");
        break;
    default:
        f.words = words("数据库出错");
        break;
    }
    return f;
}

SqlFailure ServerFailure(const QString& sqlstate, bool connected, const QString& detail)
{
    SqlFailure f;
    f.detail = detail;
    const QStringView state(sqlstate);
    const QStringView kind = state.left(2);
    if (!connected || kind == u"08") {
        f.words = words("与数据库服务器的连接断开了");
    } else if (kind == u"22" || kind == u"23" || kind == u"P0" || kind == u"54") {
        // Data exceptions, constraints, a trigger's own refusal, a value beyond the engine's limits.
        f.aboutTheRow = true;
    } else if (state == u"25006") {
        f.words = words("数据库是只读的");
    } else if (state == u"53100") {
        f.words = words("数据库服务器的磁盘已满");
    } else if (kind == u"53") {
        f.words = words("数据库服务器的资源不足");
    } else if (state == u"55P03" || kind == u"40" || state == u"57014") {
        f.words = words(InUseWords);
        f.inUse = true;
    } else if (state == u"42501") {
        f.words = words("没有写入数据库的权限");
    } else if (kind == u"57") {
        f.words = words("数据库服务器停止了");
    } else if (kind == u"58" || kind == u"XX") {
        f.words = words("数据库服务器出错");
    } else {
        f.words = words("数据库出错");
    }
    return f;
}
