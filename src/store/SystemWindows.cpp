#include "System.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace Os {

namespace {

std::wstring native(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

HANDLE handle(Handle file)
{
    return reinterpret_cast<HANDLE>(file);
}

int lastError()
{
    return ErrnoFromSystem(int(::GetLastError()));
}

// The lock of a part file: one byte far beyond any data, so that it never stands in the way of the
// database engine reading and writing the file through handles of its own (a range lock on Windows
// keeps other handles from the bytes it covers).
constexpr DWORD LockOffsetHigh = 0x7FFFFFF0;

} // namespace

Handle OpenLocked(const QString& path, bool create, bool& held, int& error)
{
    held = false;
    HANDLE h = ::CreateFileW(native(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = lastError();
        return NoHandle;
    }
    OVERLAPPED at{};
    at.OffsetHigh = LockOffsetHigh;
    if (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD why = ::GetLastError();
        held = why == ERROR_LOCK_VIOLATION || why == ERROR_IO_PENDING;
        error = held ? EBUSY : ErrnoFromSystem(int(why));
        ::CloseHandle(h);
        return NoHandle;
    }
    // A file that is removed while open keeps its name until the last handle closes, so no other
    // writer can have made a new file of that name between the open and the lock.
    return reinterpret_cast<Handle>(h);
}

Handle CreateForWriting(const QString& path, int& error)
{
    HANDLE h = ::CreateFileW(native(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = lastError();
        return NoHandle;
    }
    return reinterpret_cast<Handle>(h);
}

bool Truncate(Handle file, int& error)
{
    LARGE_INTEGER start{};
    if (::SetFilePointerEx(handle(file), start, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle(file)))
        return true;
    error = lastError();
    return false;
}

bool WriteAll(Handle file, const char* data, qsizetype size, int& error)
{
    while (size > 0) {
        const DWORD chunk = DWORD(std::min<qsizetype>(size, 1 << 30));
        DWORD written = 0;
        if (!::WriteFile(handle(file), data, chunk, &written, nullptr)) {
            error = lastError();
            return false;
        }
        if (written == 0) {
            error = ENOSPC;
            return false;
        }
        data += written;
        size -= qsizetype(written);
    }
    return true;
}

qsizetype ReadAt(Handle file, char* data, qsizetype size, qint64 offset)
{
    OVERLAPPED at{};
    at.Offset = DWORD(quint64(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = DWORD(quint64(offset) >> 32);
    DWORD read = 0;
    if (!::ReadFile(handle(file), data, DWORD(size), &read, &at))
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return qsizetype(read);
}

bool Sync(Handle file, int& error)
{
    if (::FlushFileBuffers(handle(file)))
        return true;
    error = lastError();
    return false;
}

bool Close(Handle file, int& error)
{
    if (::CloseHandle(handle(file)))
        return true;
    error = lastError();
    return false;
}

void CopyPermissions(Handle, const QString&)
{
    // A file's permissions belong to its folder's access list on Windows; the replacing file gets them.
}

bool SyncPath(const QString& path)
{
    if (QFileInfo(path).isDir())
        return true; // a folder's entries are in the file system's journal; there is nothing to push
    HANDLE h = ::CreateFileW(native(path).c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = ::FlushFileBuffers(h) != 0;
    ::CloseHandle(h);
    return ok;
}

bool Replace(const QString& from, const QString& to, int& error)
{
    if (::MoveFileExW(native(from).c_str(), native(to).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = lastError();
    return false;
}

bool PlaceNew(const QString& from, const QString& to, int& error)
{
    if (::MoveFileExW(native(from).c_str(), native(to).c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    error = lastError();
    return false;
}

bool OpenFilesMayBeReplaced()
{
    return false;
}

bool MayWrite(const QString& path, int& error)
{
    const DWORD attributes = ::GetFileAttributesW(native(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        error = EACCES;
        return false;
    }
    return true;
}

int ErrnoFromSystem(int systemError)
{
    switch (DWORD(systemError)) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_NOT_ENOUGH_QUOTA:
        return ENOSPC;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
        return EBUSY;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    default:
        return EIO;
    }
}

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString AccountName()
{
    wchar_t name[256];
    DWORD size = DWORD(std::size(name));
    if (::GetUserNameW(name, &size) && size > 1)
        return QString::fromWCharArray(name, int(size - 1));
    return QStringLiteral("?");
}

bool StandardErrorIsTerminal()
{
    return ::_isatty(::_fileno(stderr)) != 0;
}

void WriteText(std::FILE* stream, const QString& text)
{
    std::fflush(stream);
    const int fd = ::_fileno(stream);
    HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DWORD mode = 0;
    if (h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode)) {
        DWORD written = 0;
        ::WriteConsoleW(h, text.utf16(), DWORD(text.size()), &written, nullptr);
        return;
    }
    // A pipe or a file gets the bytes the Linux program writes, line ends included.
    ::_setmode(fd, _O_BINARY);
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace Os
