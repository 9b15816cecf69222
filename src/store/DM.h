#pragma once

#include "DataSet.h"
#include "SqlText.h"

#include <QByteArray>
#include <QDate>
#include <QSqlDatabase>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

// The data module: the one connection to the database file beside the program, the shared
// datasets, the statement runner and the owner operations.

// One owner row in memory.
struct TuserInfoRec {
    int32_t idx = 0; // set by the caller; the loaders leave it alone
    int32_t DongHao = 0;
    int32_t DanYuan = 0;
    QString FangHao;
    QString UserName;
    QString Remark;
    QString Sex;
    QString Phone;
    QDate ExpDate{1899, 12, 30}; // the day a zeroed record holds
    bool IsUseExpDate = false;
    std::array<uint8_t, 32> VaildTerminal{};
    QString CardID;
    QString UserType;
    bool BlackCard = false;
    QString BuildName;
    QString IsSelect; // "True"/"False" as last loaded, empty for Null; nothing uses it
    QString ExtName;
    // Caller-owned buffers, not owned by the record; either may be null. A load replaces the
    // photo buffer with the bytes of imgPhoto and the terminal buffer with those of
    // VaildTerminal; the updates and the editor's insert leave the 32 bitmap bytes in the
    // terminal buffer.
    QByteArray* PhotoStream = nullptr;
    QByteArray* TerminalStream = nullptr;
    QString chLoss;
    QString chUseExpdate;
    QString CardNo;
};

// The two ways into InsertUserInfo: the owner editor's, whose record carries the terminal
// buffer, and the import's, whose records carry none. Both write the same row.
enum class InsertEntry { Editor, Import };

// The building tree: root "小区栋号/单元", one node per building, under it one node per unit.
struct TBuildTreeNode {
    QString Text;
    int ImageIndex = 0;
    std::vector<TBuildTreeNode> Children;
};
constexpr int BuildTreeRootImage = 3;
constexpr int BuildTreeBuildingImage = 1;
constexpr int BuildTreeUnitImage = 2;
extern const char* const BuildTreeRootText;

class Tdm {
public:
    Tdm();
    ~Tdm();
    Tdm(const Tdm&) = delete;
    Tdm& operator=(const Tdm&) = delete;

    // The connection, under a connection name of its own. Use database() to reach it: that
    // opens it on first use.
    QSqlDatabase con1;
    TDataSet dsCom1; // building list of the tree; borrowed by windows for lists
    TDataSet dsCom2; // unit list of one building while the tree is filled
    TDataSet dsTemp; // scratch dataset of every single-row lookup and load
    TQuery qry1;     // statements that change data

    // AppPath + "QDR_DB.GRes".
    static QString DatabasePath();

    // The open connection. Opens it on first use: a missing (or empty) file is created with the
    // schema; an existing file is used only when it is an SQLite database with the three tables,
    // and is otherwise left untouched. When the file cannot be used, the first failure shows a
    // message naming the file, and every use throws OperationError; the program goes on.
    QSqlDatabase database();
    bool IsOpen() const;
    // Opens like database() but shows nothing: failures only throw.
    void OpenConnection();
    // Closes the shared datasets and the connection, taking the file out of WAL mode so that
    // it stands alone on disk. Returns false (connection left open) when another user of the
    // file prevents that.
    bool CloseConnection();
    // Finishes the shared datasets and the parameter query.
    void CloseDataSets();

    // Runs one changing statement on qry1. On failure an error box shows "执行错误：" and the
    // statement (with its placeholders) and the result is false; nothing is thrown.
    bool ExecuteSQL(const QString& sql);
    bool ExecuteSQL(const QString& sql, const SqlParams& params);

    // Fields of a dataset's current row. Text: empty for Null. Int: 0 for Null or empty text,
    // a conversion error (OperationError) for anything that is not a whole number.
    // Bool: false for Null, otherwise non-zero. Date: the stored date; Null or text that is not
    // a date throws.
    QString FieldAsText(const TDataSet& ds, const QString& column) const;
    int FieldAsInt(const TDataSet& ds, const QString& column) const;
    bool FieldAsBool(const TDataSet& ds, const QString& column) const;
    QDate FieldAsDate(const TDataSet& ds, const QString& column) const;

    // Owner loaders: the count of rows the query finds; the record is filled from the first row
    // when there is one, and left as it was otherwise. Errors throw OperationError.
    // ByIdx with a key of 0 or less loads the newest row and counts all rows.
    int LoadUserInfoByIdx(int idx, TuserInfoRec& rec);
    int LoadUserInfoByCardNo(const QString& cardNo, TuserInfoRec& rec);
    int LoadUserInfoByName(const QString& userName, TuserInfoRec& rec);

    // Whole-record writes: "执行错误：" and the statement on failure, then false.
    bool InsertUserInfo(const TuserInfoRec& rec, InsertEntry entry = InsertEntry::Editor);
    bool UpdateUserInfo(const TuserInfoRec& rec);
    bool UpdateUserTerminals(const TuserInfoRec& rec);
    bool UpdateUserExpiry(const TuserInfoRec& rec);

    // Card serial of one row (through ExecuteSQL).
    bool SetUserCardID(int idx, const QString& cardId);
    bool ClearUserCardID(int idx);
    // Lookups on dsTemp; errors throw OperationError.
    // The idx of the first row holding the serial, -1 when none.
    int FindUserByCardID(const QString& cardId);
    // Whether a row has the card number; dsTemp stays on the first such row.
    bool CardNoExists(const QString& cardNo);
    // The idx of the newest row with the record's name, card number, building, unit and room;
    // throws OperationError when there is none.
    int FindUserIdx(const TuserInfoRec& rec);

    // The building tree as data (dsCom1 for the buildings, dsCom2 for the units of each).
    // Errors throw OperationError.
    TBuildTreeNode FillBuildTree();

    // Groups the statements that follow into one commit, until CommitBatch: for runs of many
    // writes (the import), which otherwise wait for the disk once per statement. A statement
    // that fails inside a batch is undone alone, as outside one. False when it cannot begin or
    // commit (the batch is then undone as a whole).
    bool BeginBatch();
    bool CommitBatch();

private:
    void fillUserInfo(TuserInfoRec& rec);
    int loadUserInfo(const QString& sql, const SqlParams& params, TuserInfoRec& rec);
    bool runRecordStatement(const QString& sql, const SqlParams& params);

    QString m_connectionName;
    bool m_openFailureShown = false;
};

// The data module of the program; created at start-up (and by tests).
extern Tdm* dm;

// Dates: ISO text "yyyy-mm-dd" in the database; "yyyy/mm/dd" where the operator and the owner
// data files see them.
QString StoredDateText(const QDate& date);
QString DateText(const QDate& date);
// A stored date value (ISO text, also with a time, or yyyy/mm/dd); Null or anything else throws.
QDate StoredDate(const QVariant& value);
// A stored yes/no value: false for Null, otherwise whether it is non-zero ("true" reads as true).
bool StoredBool(const QVariant& value);
