#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

// Files that must survive a crash or a power cut: the new content reaches the disk before it
// takes the old file's place in one step; a file on its way there (a part file) is locked by its
// writer, so that what a killed run left can be cleared without touching a run that is still
// writing. Any thread.

// Pushes a file (or folder) to the disk, so that a rename that follows cannot outlive its content.
bool SyncPath(const QString& path);
// Replaces `to` with `from` in one step, and pushes the folder's new entry to the disk.
bool ReplaceFile(const QString& from, const QString& to);
// Gives `from` the name `to` in one step, only when no file has that name; false (nothing moved)
// when one has, or the move fails. Pushes the folder's new entry to the disk.
bool PlaceNewFile(const QString& from, const QString& to);

// A file being written: stem + suffix, or stem + ".2" + suffix, ".3" ... when another writer holds
// that name at the moment. It is empty when claimed (what a killed run left under the name is
// dropped, with its journal) and locked while this object holds it; the writer then moves it to
// its place or removes it.
class PartFile {
public:
    PartFile(const QString& stem, const QString& suffix);
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    bool ok() const { return m_file != -1; }
    // Why no name could be claimed, when !ok().
    const QString& Error() const { return m_error; }
    const QString& Path() const { return m_path; }
    // Removes the file and its journal (while still holding it), and lets go.
    void Remove();
    // Lets go of the file. Call it only when no database connection of this process has the file
    // open any more: letting go ends this process's locks on it, the engine's as well.
    void Release();

private:
    std::intptr_t m_file = -1; // the system's handle
    QString m_path;
    QString m_error;
};

// Removes the part files in a folder whose names match the filters and that no writer holds, with
// their journals (and journals whose part file is gone). With databasesOnly, a part file is removed
// only when it is empty or begins as a database file does (or with zeros), so that a file of
// another program that happens to match stays.
void RemoveAbandonedParts(const QString& folder, const QStringList& nameFilters, bool databasesOnly);

// What an operating system error of a file operation means, in words for the operator: "磁盘已满",
// "只读" and the like, never a bare "Unknown error".
QString FileErrorWords(int error);

// A file written whole or not at all: the content goes to a part file beside the target (target +
// ".part"), which takes the target's place only once it is complete on the disk. Until then an
// existing target stays as it was; a failure on the way, or an end without Commit, removes the part
// file. One thread at a time.
class WholeFile {
public:
    explicit WholeFile(const QString& target);
    ~WholeFile();
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;

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
    std::intptr_t m_file = -1; // the system's handle of the part file
    bool m_partMade = false;   // the part file is there and must go unless it took the target's place
    QString m_error;
};
