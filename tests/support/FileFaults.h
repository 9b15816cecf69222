#pragma once

// File operations made to fail the way an office's disk makes them fail: a file system that
// refuses writes past a size (a full disk, half-way), and a folder no file may be made in. Where
// the system offers no such means to a test (Windows), `Possible()` is false and the test skips.

#include <QFile>
#include <QString>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// The file system refuses every write past `bytes` while this lasts.
class FileSizeLimit {
public:
    static bool Possible()
    {
#ifdef Q_OS_UNIX
        return true;
#else
        return false;
#endif
    }
    explicit FileSizeLimit(qint64 bytes)
    {
#ifdef Q_OS_UNIX
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit small = m_saved;
        small.rlim_cur = rlim_t(bytes);
        m_active = setrlimit(RLIMIT_FSIZE, &small) == 0;
#else
        Q_UNUSED(bytes);
#endif
    }
    ~FileSizeLimit()
    {
#ifdef Q_OS_UNIX
        if (m_active)
            setrlimit(RLIMIT_FSIZE, &m_saved);
#endif
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool Active() const
    {
        return m_active;
    }

private:
    bool m_active = false;
#ifdef Q_OS_UNIX
    rlimit m_saved{};
#endif
};

// A folder no file may be made in (mode 0555) while this lasts. Root may write in any folder, so
// for root the thread meanwhile checks its file access as the user nobody (Linux's file system
// user), to whom the folder, owned by root, is read-only too; the test's folder above it is opened
// to others for the time, so that nobody may reach it.
class ReadOnlyFolder {
public:
    static bool Possible() { return FileSizeLimit::Possible(); }
    ReadOnlyFolder(const QString& folder, const QString& testFolder)
        : m_folder(folder), m_testFolder(testFolder)
    {
#ifdef Q_OS_UNIX
        ::chmod(QFile::encodeName(m_folder).constData(), 0555);
        if (::geteuid() == 0) {
            ::chmod(QFile::encodeName(m_testFolder).constData(), 0755);
            ::setfsuid(65534);
        }
#endif
    }
    ~ReadOnlyFolder()
    {
#ifdef Q_OS_UNIX
        if (::geteuid() == 0) {
            ::setfsuid(0);
            ::chmod(QFile::encodeName(m_testFolder).constData(), 0700);
        }
        ::chmod(QFile::encodeName(m_folder).constData(), 0755);
#endif
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

private:
    QString m_folder;
    QString m_testFolder;
};
