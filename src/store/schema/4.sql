-- Version 4: the operation log and the office's own passwords.
--
-- The operation log holds one entry per operator action: when (the desk's clock, yyyy-MM-dd
-- HH:mm:ss), at which desk (computer name and system user), at which operator level (0 物业管家,
-- 1 管理员, 2 维护员), what was done, its outcome, the card serial and the owner it concerned, and
-- the rest in words. It lives beside the community's rows but is not one of them: a restore and
-- the emptying of the database leave it as it is, a backup holds it. The program only appends to
-- it; the triggers refuse a change or a removal of an entry from anyone. Texts compare as
-- in the other tables (NOCASE: without regard to the case of ASCII letters).
CREATE TABLE OperationLog (
    idx           INTEGER PRIMARY KEY AUTOINCREMENT,
    LogTime       TEXT NOT NULL,
    Computer      TEXT COLLATE NOCASE NOT NULL,
    SystemUser    TEXT COLLATE NOCASE NOT NULL,
    OperatorLevel INTEGER NOT NULL,
    Action        TEXT COLLATE NOCASE NOT NULL,
    Outcome       TEXT COLLATE NOCASE NOT NULL,
    CardID        TEXT COLLATE NOCASE,
    OwnerIdx      INTEGER,
    OwnerName     TEXT COLLATE NOCASE,
    Details       TEXT COLLATE NOCASE NOT NULL DEFAULT ''
);
-- The log window lists newest first and narrows by time, action, card and desk: each of these
-- indexes serves a filter and, ending in the time (and the rowid), its order.
CREATE INDEX OperationLog_LogTime ON OperationLog (LogTime);
CREATE INDEX OperationLog_CardID ON OperationLog (CardID) WHERE CardID IS NOT NULL;
CREATE INDEX OperationLog_Action ON OperationLog (Action, LogTime);
CREATE INDEX OperationLog_Computer ON OperationLog (Computer, LogTime);
CREATE INDEX OperationLog_SystemUser ON OperationLog (SystemUser, LogTime);
CREATE INDEX OperationLog_OwnerName ON OperationLog (OwnerName, LogTime) WHERE OwnerName IS NOT NULL;
-- The entries counted per day and action, kept by the insert trigger: the log window counts a
-- million entries from a few hundred rows. Derived from the log, never written otherwise.
CREATE TABLE OperationLogDay (
    LogDay  TEXT NOT NULL,
    Action  TEXT COLLATE NOCASE NOT NULL,
    Entries INTEGER NOT NULL,
    PRIMARY KEY (LogDay, Action)
);
-- Each owner name the log holds, once, kept by the same trigger: part of a name is looked for
-- among the names, and their entries found through the index on the name.
CREATE TABLE OperationLogOwner (
    OwnerName TEXT COLLATE NOCASE PRIMARY KEY
);
CREATE TRIGGER OperationLog_Count AFTER INSERT ON OperationLog
BEGIN
    INSERT INTO OperationLogDay (LogDay, Action, Entries) VALUES (substr(new.LogTime, 1, 10), new.Action, 1)
        ON CONFLICT (LogDay, Action) DO UPDATE SET Entries = Entries + 1;
    INSERT OR IGNORE INTO OperationLogOwner (OwnerName) SELECT new.OwnerName WHERE new.OwnerName IS NOT NULL;
END;
CREATE TRIGGER OperationLog_NoUpdate BEFORE UPDATE ON OperationLog
BEGIN
    SELECT RAISE(ABORT, '操作日志只能添加，不能修改或删除');
END;
CREATE TRIGGER OperationLog_NoDelete BEFORE DELETE ON OperationLog
BEGIN
    SELECT RAISE(ABORT, '操作日志只能添加，不能修改或删除');
END;

-- The passwords an office set for an operator level, as a salted slow hash (PBKDF2 with
-- HMAC-SHA256, Iterations rounds); never the password itself. A level without a row keeps the
-- program's written password (物业管家: none). A restore and the emptying leave these rows alone.
CREATE TABLE OfficePassword (
    OperatorLevel INTEGER PRIMARY KEY,
    Salt          BLOB NOT NULL,
    Hash          BLOB NOT NULL,
    Iterations    INTEGER NOT NULL,
    ChangedAt     TEXT NOT NULL
);
