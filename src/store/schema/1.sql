-- Version 1: the owner, terminal and building tables of the office program, with the indexes
-- that keep every lookup of the program logarithmic. Run in one transaction on an empty file,
-- or on a file that already has the three tables (version 0), which then gains the indexes.
--
-- Yes/no columns hold 0 and 1 (a Null reads as false). Expdate holds the date as ISO text
-- (yyyy-mm-dd), so that it sorts and compares as a date. idx is never reused, not even after
-- the table has been emptied.

CREATE TABLE IF NOT EXISTS UserInfo (
    idx           INTEGER PRIMARY KEY AUTOINCREMENT,
    CardID        TEXT,
    CardNo        TEXT,
    UserName      TEXT,
    BuildName     TEXT,
    DongHao       INTEGER,
    DanYuan       INTEGER,
    UserType      TEXT,
    FangHao       TEXT,
    Sex           TEXT,
    Expdate       TEXT,
    BlackCard     INTEGER DEFAULT 0,
    phone         TEXT,
    Remark        TEXT,
    IsSelect      INTEGER DEFAULT 0,
    VaildTerminal BLOB,
    IsUseExpDate  INTEGER DEFAULT 0,
    ExtName       TEXT,
    chLoss        TEXT,
    chUseExpdate  TEXT,
    selFlag       INTEGER DEFAULT 0,
    imgPhoto      BLOB
);

CREATE TABLE IF NOT EXISTS TerminalInfo (
    idx          INTEGER PRIMARY KEY AUTOINCREMENT,
    TerminalID   INTEGER,
    TerminalName TEXT,
    Remark       TEXT,
    selFlag      INTEGER DEFAULT 0
);

CREATE TABLE IF NOT EXISTS BuildInfo (
    idx         INTEGER PRIMARY KEY AUTOINCREMENT,
    DongHao     INTEGER,
    DanYuan     INTEGER,
    DanYuanName TEXT,
    selFlag     INTEGER DEFAULT 0
);

CREATE INDEX IF NOT EXISTS UserInfo_CardNo ON UserInfo (CardNo);
CREATE INDEX IF NOT EXISTS UserInfo_CardID ON UserInfo (CardID);
CREATE INDEX IF NOT EXISTS UserInfo_UserName ON UserInfo (UserName);
CREATE INDEX IF NOT EXISTS UserInfo_Place ON UserInfo (DongHao, DanYuan, FangHao);
CREATE INDEX IF NOT EXISTS BuildInfo_Place ON BuildInfo (DongHao, DanYuan);
CREATE INDEX IF NOT EXISTS TerminalInfo_TerminalID ON TerminalInfo (TerminalID);
