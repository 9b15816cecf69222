#pragma once

// The office's own tables carried from one database into another, for iccard-data copy: a backup
// and a restore carry the community's rows but leave the operation log and the office's passwords
// where they are. Main thread; each side on a connection of its own.

#include "Database.h"

#include <QString>

struct OfficeCopyResult {
    bool ok = false;
    int entriesAdded = 0; // log entries of the source the target did not have
    int passwords = 0;    // office passwords now in the target (the source's)
    QString message;      // why nothing was carried
};

// Appends to the target's operation log the source's entries it does not have yet (an entry is the
// same when every column but its number is), in the source's order, and gives the target the
// source's office passwords in place of its own. The target's own entries stay. All of it, or
// nothing, in one commit on the target.
OfficeCopyResult CopyOfficeTables(const DatabaseTarget& from, const DatabaseTarget& to);
