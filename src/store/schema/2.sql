-- Version 2: texts compare without regard to the case of ASCII letters, as they always did for the
-- operators: the card number "a1" is the owner "A1". SQLite cannot change the collation of a
-- column in place, so each table is built anew with NOCASE text columns and its rows, keys and
-- key sequence carried over; the indexes are made again on the new tables, where they follow the
-- columns' collation.

CREATE TABLE UserInfo_v2 (
    idx           INTEGER PRIMARY KEY AUTOINCREMENT,
    CardID        TEXT COLLATE NOCASE,
    CardNo        TEXT COLLATE NOCASE,
    UserName      TEXT COLLATE NOCASE,
    BuildName     TEXT COLLATE NOCASE,
    DongHao       INTEGER,
    DanYuan       INTEGER,
    UserType      TEXT COLLATE NOCASE,
    FangHao       TEXT COLLATE NOCASE,
    Sex           TEXT COLLATE NOCASE,
    Expdate       TEXT,
    BlackCard     INTEGER DEFAULT 0,
    phone         TEXT COLLATE NOCASE,
    Remark        TEXT COLLATE NOCASE,
    IsSelect      INTEGER DEFAULT 0,
    VaildTerminal BLOB,
    IsUseExpDate  INTEGER DEFAULT 0,
    ExtName       TEXT COLLATE NOCASE,
    chLoss        TEXT COLLATE NOCASE,
    chUseExpdate  TEXT COLLATE NOCASE,
    selFlag       INTEGER DEFAULT 0,
    imgPhoto      BLOB
);
INSERT INTO UserInfo_v2 (idx, CardID, CardNo, UserName, BuildName, DongHao, DanYuan, UserType, FangHao, Sex,
                         Expdate, BlackCard, phone, Remark, IsSelect, VaildTerminal, IsUseExpDate, ExtName,
                         chLoss, chUseExpdate, selFlag, imgPhoto)
    SELECT idx, CardID, CardNo, UserName, BuildName, DongHao, DanYuan, UserType, FangHao, Sex,
           Expdate, BlackCard, phone, Remark, IsSelect, VaildTerminal, IsUseExpDate, ExtName,
           chLoss, chUseExpdate, selFlag, imgPhoto
    FROM UserInfo;
-- A key once given is never given again: the new table goes on from the old table's sequence.
DELETE FROM sqlite_sequence WHERE name = 'UserInfo_v2';
INSERT INTO sqlite_sequence (name, seq)
    SELECT 'UserInfo_v2', max(ifnull((SELECT max(seq) FROM sqlite_sequence WHERE name = 'UserInfo'), 0),
                              ifnull((SELECT max(idx) FROM UserInfo_v2), 0));
DROP TABLE UserInfo;
ALTER TABLE UserInfo_v2 RENAME TO UserInfo;

CREATE TABLE TerminalInfo_v2 (
    idx          INTEGER PRIMARY KEY AUTOINCREMENT,
    TerminalID   INTEGER,
    TerminalName TEXT COLLATE NOCASE,
    Remark       TEXT COLLATE NOCASE,
    selFlag      INTEGER DEFAULT 0
);
INSERT INTO TerminalInfo_v2 (idx, TerminalID, TerminalName, Remark, selFlag)
    SELECT idx, TerminalID, TerminalName, Remark, selFlag FROM TerminalInfo;
DELETE FROM sqlite_sequence WHERE name = 'TerminalInfo_v2';
INSERT INTO sqlite_sequence (name, seq)
    SELECT 'TerminalInfo_v2', max(ifnull((SELECT max(seq) FROM sqlite_sequence WHERE name = 'TerminalInfo'), 0),
                                  ifnull((SELECT max(idx) FROM TerminalInfo_v2), 0));
DROP TABLE TerminalInfo;
ALTER TABLE TerminalInfo_v2 RENAME TO TerminalInfo;

CREATE TABLE BuildInfo_v2 (
    idx         INTEGER PRIMARY KEY AUTOINCREMENT,
    DongHao     INTEGER,
    DanYuan     INTEGER,
    DanYuanName TEXT COLLATE NOCASE,
    selFlag     INTEGER DEFAULT 0
);
INSERT INTO BuildInfo_v2 (idx, DongHao, DanYuan, DanYuanName, selFlag)
    SELECT idx, DongHao, DanYuan, DanYuanName, selFlag FROM BuildInfo;
DELETE FROM sqlite_sequence WHERE name = 'BuildInfo_v2';
INSERT INTO sqlite_sequence (name, seq)
    SELECT 'BuildInfo_v2', max(ifnull((SELECT max(seq) FROM sqlite_sequence WHERE name = 'BuildInfo'), 0),
                               ifnull((SELECT max(idx) FROM BuildInfo_v2), 0));
DROP TABLE BuildInfo;
ALTER TABLE BuildInfo_v2 RENAME TO BuildInfo;

CREATE INDEX UserInfo_CardNo ON UserInfo (CardNo);
CREATE INDEX UserInfo_CardID ON UserInfo (CardID);
CREATE INDEX UserInfo_UserName ON UserInfo (UserName);
CREATE INDEX UserInfo_Place ON UserInfo (DongHao, DanYuan, FangHao);
CREATE INDEX BuildInfo_Place ON BuildInfo (DongHao, DanYuan);
CREATE INDEX TerminalInfo_TerminalID ON TerminalInfo (TerminalID);
