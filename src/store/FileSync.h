#pragma once

#include <QString>

// Files that must survive a crash or a power cut: the new content reaches the disk before it
// takes the old file's place in one step. Any thread.

// Pushes a file (or folder) to the disk, so that a rename that follows cannot outlive its content.
bool SyncPath(const QString& path);
// Replaces `to` with `from` in one step, and pushes the folder's new entry to the disk.
bool ReplaceFile(const QString& from, const QString& to);
