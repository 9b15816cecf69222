#pragma once

#include <QString>

// Files that must survive a crash or a power cut: the new content reaches the disk before it
// takes the old file's place in one step. Any thread.

// Pushes a file (or folder) to the disk, so that a rename that follows cannot outlive its content.
bool SyncPath(const QString& path);
// Replaces `to` with `from` in one step, and pushes the folder's new entry to the disk.
bool ReplaceFile(const QString& from, const QString& to);

// What an operating system error of a file operation means, in words for the operator: "磁盘已满",
// "只读" and the like, never a bare "Unknown error".
QString FileErrorWords(int error);

// A file written whole or not at all: the content goes to a part file beside the target (target +
// ".part"), which takes the target's place only once it is complete on the disk. Until then an
// existing target stays as it was; a failure on the way, or an end without Commit, removes the part
// file. One thread at a time.
class TPartFile {
public:
    explicit TPartFile(const QString& target);
    ~TPartFile();
    TPartFile(const TPartFile&) = delete;
    TPartFile& operator=(const TPartFile&) = delete;

    // Creates the part file (an earlier one left by a crash is replaced). A target that exists but
    // may not be written is refused here, as it would be on Windows.
    bool Open();
    bool Write(const char* data, qsizetype size);
    // Pushes the part file to the disk and puts it in the target's place (a target that exists
    // keeps its permissions).
    bool Commit();
    // Removes the part file; the target stays as it was.
    void Discard();
    // What failed, in words, naming the file.
    const QString& ErrorText() const { return m_error; }

private:
    bool fail(const QString& what, int error);

    QString m_target;
    QString m_part;
    int m_fd = -1;
    bool m_partMade = false; // the part file is there and must go unless it took the target's place
    QString m_error;
};
