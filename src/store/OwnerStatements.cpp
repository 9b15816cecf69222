#include "OwnerStatements.h"

#include "DM.h"
#include "LogEntries.h"
#include "OperationError.h"
#include "Values.h"
#include "engine/Engine.h"

#include <cstring>

namespace {

// The rows an imported owner replaces. The card number picks them through its index: without
// statistics the engine would take the index of building and unit, and read a whole unit per line.
QString importDeleteSql(const Engine& engine)
{
    return QStringLiteral(
               "delete from UserInfo%1 where CardNo = :CardNo and DongHao = :DongHao and DanYuan=:DanYuan")
        .arg(engine.IndexHint(QStringLiteral("UserInfo_CardNo")));
}

SqlParams paramsUsedBy(const SqlParams& all, const QString& sql)
{
    const QStringList names = StatementParameters(sql);
    SqlParams out;
    for (const auto& p : all) {
        if (names.contains(p.first))
            out.append(p);
    }
    return out;
}

// The bitmap goes to the record's terminal buffer first, as the editor's windows expect.
QByteArray terminalBytes(const TuserInfoRec& rec, bool throughBuffer)
{
    QByteArray bytes = BitmapBytes(rec.VaildTerminal);
    if (throughBuffer && rec.TerminalStream)
        *rec.TerminalStream = bytes;
    return bytes;
}

// What the editor's form does not fill, which a row saved again in add mode takes over from the row
// it replaces, as that row holds it: its card serial first.
const QStringList KeptColumns = {QStringLiteral("CardID"),    QStringLiteral("BuildName"),
                                 QStringLiteral("BlackCard"), QStringLiteral("IsSelect"),
                                 QStringLiteral("chLoss"),    QStringLiteral("selFlag"),
                                 QStringLiteral("imgPhoto")};

void fillUserInfo(Tdm& module, const DataSet& row, TuserInfoRec& rec)
{
    // Everything is read before anything is changed: a value that does not convert leaves the
    // caller's record and buffers as they were.
    TuserInfoRec r = rec;
    r.CardID = module.FieldAsText(row, QStringLiteral("CardID"));
    r.CardNo = module.FieldAsText(row, QStringLiteral("CardNo"));
    r.UserName = module.FieldAsText(row, QStringLiteral("UserName"));
    r.BuildName = module.FieldAsText(row, QStringLiteral("BuildName"));
    r.DongHao = module.FieldAsInt(row, QStringLiteral("DongHao"));
    r.DanYuan = module.FieldAsInt(row, QStringLiteral("DanYuan"));
    r.UserType = module.FieldAsText(row, QStringLiteral("UserType"));
    r.FangHao = module.FieldAsText(row, QStringLiteral("FangHao"));
    r.Sex = module.FieldAsText(row, QStringLiteral("Sex"));
    r.ExpDate = module.FieldAsDate(row, QStringLiteral("Expdate"));
    r.Phone = module.FieldAsText(row, QStringLiteral("phone"));
    r.Remark = module.FieldAsText(row, QStringLiteral("Remark"));
    const QVariant isSelect = row.Field(QStringLiteral("IsSelect"));
    r.IsSelect = isSelect.isNull()
                     ? QString(QLatin1String(""))
                     : (StoredBool(isSelect) ? QStringLiteral("True") : QStringLiteral("False"));
    r.ExtName = module.FieldAsText(row, QStringLiteral("ExtName"));
    r.chLoss = module.FieldAsText(row, QStringLiteral("chLoss"));
    r.BlackCard = r.chLoss == QStringLiteral("挂失");
    r.chUseExpdate = module.FieldAsText(row, QStringLiteral("chUseExpdate"));
    r.IsUseExpDate = r.chUseExpdate == QStringLiteral("是");
    const QByteArray photo = row.Field(QStringLiteral("imgPhoto")).toByteArray();
    const QByteArray terminals = row.Field(QStringLiteral("VaildTerminal")).toByteArray();
    // A bitmap shorter than 32 bytes (or Null) permits no terminal beyond its end.
    r.VaildTerminal.fill(0);
    std::memcpy(r.VaildTerminal.data(), terminals.constData(),
                std::min<size_t>(r.VaildTerminal.size(), size_t(terminals.size())));
    if (r.PhotoStream)
        *r.PhotoStream = photo;
    if (r.TerminalStream)
        *r.TerminalStream = terminals;
    rec = r;
}

int loadUserInfo(Tdm& module, const QString& sql, const SqlParams& params, TuserInfoRec& rec)
{
    DataSet ds(module, QStringLiteral("owner"));
    ds.Open(sql, params);
    const int count = ds.RecordCount();
    if (count > 0)
        fillUserInfo(module, ds, rec);
    return count;
}

bool runRecordStatement(Tdm& module, const QString& sql, const SqlParams& params)
{
    // The error box shows these statements with their placeholders, but with the row's key.
    QStringList placeholders = StatementParameters(sql);
    placeholders.removeAll(QStringLiteral("idx"));
    return module.ExecuteSQL(sql, paramsUsedBy(params, sql), placeholders);
}

// The lock of a card serial, held until the change ends, so that desks changing who holds that
// card take turns (nothing on the file, whose writer holds the whole file).
void lockCard(Tdm& module, const QString& cardId)
{
    const QString lock = module.SqlEngine().CardSerialLock();
    if (!lock.isEmpty() && !cardId.isEmpty())
        module.ExecuteSQL(lock, {{QStringLiteral("CardID"), cardId.toLower()}});
}

// Deletes the row idx inside a change; what it held when it went, beyond the editor's form
// (KeptColumns, the card serial first), by column. Nothing when the row was gone already, or when the
// delete failed (reported, the change is undone).
std::optional<SqlParams> deleteKeepingState(Tdm& module, int idx)
{
    // On a server another desk may, meanwhile, register this row's card to someone else or another
    // card to this owner, report it lost or mark it. The card's lock is taken before the row is
    // touched, as RegisterCardID takes it, and the row is deleted only while it still holds the card
    // read: a registration that came first is what is read; one that comes later waits for this
    // change and then finds the row that takes this one's place. The other columns are read by the
    // delete itself, as the row stands when it goes: a change to them that came first is carried
    // over. On the file the change has the database to itself.
    static const QString sql =
        QStringLiteral(
            "delete from UserInfo where idx = :idx and coalesce(CardID, '') = :CardID returning ") +
        KeptColumns.join(QLatin1Char(','));
    QStringList locked;
    DataSet ds(module, QStringLiteral("deleted"));
    for (int attempt = 0; attempt < 10; ++attempt) {
        ds.Open(QStringLiteral("select CardID from UserInfo where idx = :idx"),
                {{QStringLiteral("idx"), idx}});
        if (ds.Eof())
            return std::nullopt; // deleted at another desk: nothing to take along
        const QString card = module.FieldAsText(ds, QStringLiteral("CardID"));
        ds.Close();
        if (!locked.contains(card)) {
            lockCard(module, card);
            locked << card;
        }
        const SqlParams params{{QStringLiteral("idx"), idx}, {QStringLiteral("CardID"), TextValue(card)}};
        if (!module.OpenSQL(ds, sql, params))
            return std::nullopt; // reported, or the change had failed already; it is undone
        if (ds.Eof())
            continue; // its card moved in between: read it again
        SqlParams kept;
        for (const QString& column : KeptColumns)
            kept.append({column, ds.Field(column)});
        ds.Close();
        return kept;
    }
    throw OperationError(QStringLiteral("业主的IC卡正在其他电脑上登记，请稍后再保存。"));
}

// The newest owner row's idx (0 when there is none).
int maxOwnerIdx(Tdm& module)
{
    DataSet ds(module, QStringLiteral("newest"));
    ds.Open(NewestOwnerStatement());
    return ds.Eof() ? 0 : ds.Field(QStringLiteral("newest")).toInt();
}

// The idx of the query's first row, -1 when it returned none.
int firstIdx(Tdm& module, const QString& sql, const SqlParams& params)
{
    DataSet ds(module, QStringLiteral("lookup"));
    ds.Open(sql, params);
    return ds.Eof() ? -1 : module.FieldAsInt(ds, QStringLiteral("idx"));
}

} // namespace

QByteArray BitmapBytes(const std::array<uint8_t, 32>& bitmap)
{
    return QByteArray(reinterpret_cast<const char*>(bitmap.data()), qsizetype(bitmap.size()));
}

// The values of the whole-record statements; each statement takes the ones it names. (An import
// binds them by their place in this list: ImportBatch::write.)
SqlParams OwnerRecordParams(const TuserInfoRec& rec, const QByteArray& terminals)
{
    return {
        {QStringLiteral("CardID"), TextValue(rec.CardID)},
        {QStringLiteral("CardNo"), TextValue(rec.CardNo)},
        {QStringLiteral("UserName"), TextValue(rec.UserName)},
        {QStringLiteral("BuildName"), TextValue(rec.BuildName)},
        {QStringLiteral("DongHao"), rec.DongHao},
        {QStringLiteral("DanYuan"), rec.DanYuan},
        {QStringLiteral("UserType"), TextValue(rec.UserType)},
        {QStringLiteral("FangHao"), TextValue(rec.FangHao)},
        {QStringLiteral("Sex"), TextValue(rec.Sex)},
        {QStringLiteral("Expdate"), StoredDateText(rec.ExpDate)},
        {QStringLiteral("BlackCard"), rec.BlackCard},
        {QStringLiteral("phone"), TextValue(rec.Phone)},
        {QStringLiteral("Remark"), TextValue(rec.Remark)},
        {QStringLiteral("IsSelect"), false},
        {QStringLiteral("VaildTerminal"), terminals},
        {QStringLiteral("IsUseExpDate"), rec.IsUseExpDate},
        {QStringLiteral("ExtName"), TextValue(rec.ExtName)},
        {QStringLiteral("chLoss"), TextValue(rec.chLoss)},
        {QStringLiteral("chUseExpdate"), TextValue(rec.chUseExpdate)},
        {QStringLiteral("idx"), rec.idx},
    };
}

const QString& InsertUserInfoStatement()
{
    static const QString sql = QStringLiteral(
        "insert into UserInfo (CardID,CardNo,UserName,BuildName,DongHao,DanYuan,UserType,FangHao,Sex,Expdate,"
        "BlackCard,phone,Remark,IsSelect,VaildTerminal,IsUseExpDate,ExtName,chLoss,chUseExpdate) values "
        "(:CardID,:CardNo,:UserName,:BuildName,:DongHao,:DanYuan,:UserType,:FangHao,:Sex,:Expdate,:BlackCard,"
        ":phone,:Remark,:IsSelect,:VaildTerminal,:IsUseExpDate,:ExtName,:chLoss,:chUseExpdate)");
    return sql;
}

SqlParams ImportDeleteParams(const TuserInfoRec& rec)
{
    return {{QStringLiteral("CardNo"), TextValue(rec.CardNo)},
            {QStringLiteral("DongHao"), rec.DongHao},
            {QStringLiteral("DanYuan"), rec.DanYuan}};
}

// A card serial is held by one owner at most: the rows imported since :from (idx above it) hold
// their serials, and the rows before them give up any of those serials they hold.
// The newest owner row's idx (0 when there is none): the rows an import adds after it are above it.
const QString& NewestOwnerStatement()
{
    static const QString sql = QStringLiteral("select coalesce(max(idx), 0) as newest from UserInfo");
    return sql;
}

const QString& AnyOwnerStatement()
{
    static const QString sql =
        QStringLiteral("select count(*) from (select 1 from UserInfo limit 1) as any_owner");
    return sql;
}

const QString& ClearOtherHoldersStatement()
{
    static const QString sql =
        QStringLiteral("update UserInfo set CardID = '' where CardID in (select CardID from UserInfo where "
                       "idx > :from and CardID <> '') and idx <= :from");
    return sql;
}

// Two imported rows with the same serial (the file names it twice) leave it to the later one (the
// file's later line, inserted later).
const QString& ClearEarlierImportedStatement()
{
    static const QString sql = QStringLiteral(
        "update UserInfo set CardID = '' where idx > :from and CardID in (select CardID from UserInfo where "
        "idx > :from and CardID <> '') and idx < (select max(n.idx) from UserInfo n where n.CardID = "
        "UserInfo.CardID)");
    return sql;
}

int LoadUserInfoByIdx(Tdm& module, int idx, TuserInfoRec& rec)
{
    QString sql = QStringLiteral("select * from UserInfo where 1=1");
    SqlParams params;
    if (idx > 0) {
        sql += QStringLiteral(" and idx = :idx");
        params.append({QStringLiteral("idx"), idx});
    }
    sql += QStringLiteral(" order by idx desc");
    return loadUserInfo(module, sql, params, rec);
}

int LoadUserInfoByCardNo(Tdm& module, const QString& cardNo, TuserInfoRec& rec)
{
    return loadUserInfo(module, QStringLiteral("select * from UserInfo where CardNo=:CardNo"),
                        {{QStringLiteral("CardNo"), TextValue(cardNo)}}, rec);
}

int LoadUserInfoByName(Tdm& module, const QString& userName, TuserInfoRec& rec)
{
    return loadUserInfo(module, QStringLiteral("select * from UserInfo where UserName=:UserName"),
                        {{QStringLiteral("UserName"), TextValue(userName)}}, rec);
}

bool InsertUserInfo(Tdm& module, const TuserInfoRec& rec, InsertEntry entry)
{
    return runRecordStatement(module, InsertUserInfoStatement(),
                              OwnerRecordParams(rec, terminalBytes(rec, entry == InsertEntry::Editor)));
}

bool UpdateUserInfo(Tdm& module, const TuserInfoRec& rec)
{
    // The fields of the editor's form, and nothing else. The card serial moves only when a card is
    // written or bound (RegisterCardID); the loss state and the blacklist marks only in the owner
    // list, the blacklist window and by a blacklist card's answer. The record was loaded when the
    // editor opened: writing those back would undo what another desk or window did meanwhile, and
    // a lost card would open the doors again.
    static const QString sql = QStringLiteral(
        "update UserInfo set CardNo = :CardNo,UserName = :UserName,"
        "DongHao = :DongHao,DanYuan = :DanYuan,UserType = :UserType,FangHao = :FangHao,Sex = :Sex,"
        "Expdate = :Expdate,phone = :phone,Remark = :Remark,"
        "VaildTerminal = :VaildTerminal,IsUseExpDate = :IsUseExpDate,"
        "chUseExpDate = :chUseExpdate,ExtName = :ExtName where idx = :idx");
    // The row as it stood, for the log's list of what changed.
    TuserInfoRec before;
    bool found = false;
    try {
        found = rec.idx > 0 && LoadUserInfoByIdx(module, rec.idx, before) > 0;
    } catch (const OperationError&) {
        // The entry then shows the row as saved; the change itself goes on.
    }
    before.idx = rec.idx;
    const bool ok = runRecordStatement(module, sql, OwnerRecordParams(rec, terminalBytes(rec, true)));
    TuserInfoRec after = rec;
    after.CardID = before.CardID;
    RecordOperation(OwnerLogEntry(LogAction::ChangeOwner, ok, after,
                                  found ? OwnerChanges(before, rec) : OwnerSnapshot(rec)));
    return ok;
}

bool UpdateUserTerminals(Tdm& module, const TuserInfoRec& rec)
{
    static const QString sql =
        QStringLiteral("update UserInfo set VaildTerminal = :VaildTerminal where idx = :idx");
    return runRecordStatement(module, sql, OwnerRecordParams(rec, terminalBytes(rec, true)));
}

bool UpdateUserExpiry(Tdm& module, const TuserInfoRec& rec)
{
    static const QString sql =
        QStringLiteral("update UserInfo set Expdate = :Expdate,chUseExpDate = :chUseExpdate,"
                       "IsUseExpDate = :IsUseExpDate where idx = :idx");
    return runRecordStatement(module, sql, OwnerRecordParams(rec, terminalBytes(rec, false)));
}

bool SetUserCardID(Tdm& module, int idx, const QString& cardId)
{
    return module.ExecuteSQL(QStringLiteral("update UserInfo set CardID=:CardID where idx=:idx"),
                             {{QStringLiteral("CardID"), TextValue(cardId)}, {QStringLiteral("idx"), idx}});
}

bool ClearUserCardID(Tdm& module, int idx)
{
    return module.ExecuteSQL(QStringLiteral("update UserInfo set CardID='' where idx = :idx"),
                             {{QStringLiteral("idx"), idx}});
}

namespace {

bool addUserInfo(Tdm& module, TuserInfoRec& rec, int* replaced)
{
    Transaction change(module);
    // A record saved again in place of its own row is that owner's row still: the new row takes
    // over what the row holds beyond the editor's form, as it holds it now (its card, loss state,
    // blacklist marks, list mark and photo bytes), since the record may have been read before any of
    // it changed. Any other row's card goes with that row, and the new owner starts without one: a
    // card is registered only when it is written or bound for the owner.
    TuserInfoRec row = rec;
    row.CardID.clear();
    std::optional<SqlParams> kept;
    int deleted = 0;
    if (const int holder = FindUserByCardNo(module, rec.CardNo); holder != -1) {
        deleted = holder;
        if (rec.idx > 0 && deleted == rec.idx)
            kept = deleteKeepingState(module, deleted);
        else
            module.ExecuteSQL(QStringLiteral("delete from UserInfo where idx = :idx"),
                              {{QStringLiteral("idx"), deleted}});
    }
    if (kept) {
        static const QString sql = QStringLiteral(
            "insert into UserInfo (CardNo,UserName,DongHao,DanYuan,UserType,FangHao,Sex,Expdate,phone,Remark,"
            "VaildTerminal,IsUseExpDate,ExtName,chUseExpdate,CardID,BuildName,BlackCard,IsSelect,chLoss,"
            "selFlag,imgPhoto) values (:CardNo,:UserName,:DongHao,:DanYuan,:UserType,:FangHao,:Sex,:Expdate,"
            ":phone,:Remark,:VaildTerminal,:IsUseExpDate,:ExtName,:chUseExpdate,:CardID,:BuildName,"
            ":BlackCard,:IsSelect,:chLoss,:selFlag,:imgPhoto)");
        row.CardID = kept->first().second.toString();
        const QStringList names = StatementParameters(sql);
        SqlParams params;
        for (const auto& p : OwnerRecordParams(row, terminalBytes(row, true))) {
            if (names.contains(p.first) && !KeptColumns.contains(p.first))
                params.append(p);
        }
        params.append(*kept);
        if (!module.ExecuteSQL(sql, params, names))
            return change.Commit();
    } else if (!InsertUserInfo(module, row)) {
        return change.Commit();
    }
    const int idx = FindUserIdx(module, row);
    if (!change.Commit())
        return false;
    rec.idx = idx;
    rec.CardID = row.CardID;
    *replaced = deleted;
    return true;
}

} // namespace

bool AddUserInfo(Tdm& module, TuserInfoRec& rec, int* replaced)
{
    int deleted = 0;
    const bool ok = addUserInfo(module, rec, &deleted);
    if (ok && replaced)
        *replaced = deleted;
    QString details = OwnerSnapshot(rec);
    if (ok && deleted > 0)
        details = LogJoin({details, QStringLiteral("替换原记录=%1").arg(deleted)});
    RecordOperation(OwnerLogEntry(LogAction::AddOwner, ok, rec, details));
    return ok;
}

bool RegisterCardID(Tdm& module, int toIdx, const QString& cardId)
{
    Transaction change(module);
    if (!cardId.isEmpty()) {
        // Desks that register the same card at the same moment take turns: the second one clears
        // the first one's registration, which it sees committed once it has the lock.
        lockCard(module, cardId);
        module.ExecuteSQL(
            QStringLiteral("update UserInfo set CardID='' where CardID=:CardID and idx <> :idx"),
            {{QStringLiteral("CardID"), TextValue(cardId)}, {QStringLiteral("idx"), toIdx}});
    }
    if (toIdx > 0)
        SetUserCardID(module, toIdx, cardId);
    return change.Commit();
}

bool ImportUserInfo(Tdm& module, const TuserInfoRec& rec)
{
    Transaction change(module);
    module.ExecuteSQL(importDeleteSql(module.SqlEngine()), ImportDeleteParams(rec));
    const int from = maxOwnerIdx(module);
    InsertUserInfo(module, rec, InsertEntry::Import);
    if (!rec.CardID.isEmpty())
        module.ExecuteSQL(ClearOtherHoldersStatement(), {{QStringLiteral("from"), from}});
    return change.Commit();
}

QString ImportDeleteStatement(const Tdm& module)
{
    return importDeleteSql(module.SqlEngine());
}

int FindUserByCardID(Tdm& module, const QString& cardId)
{
    return firstIdx(module, QStringLiteral("select * from UserInfo where CardID=:CardID"),
                    {{QStringLiteral("CardID"), TextValue(cardId)}});
}

std::optional<CardHolder> FindCardHolder(Tdm& module, const QString& cardId)
{
    DataSet row(module, QStringLiteral("holder"));
    row.Open(QStringLiteral("select * from UserInfo where CardID=:CardID"),
             {{QStringLiteral("CardID"), TextValue(cardId)}});
    if (row.Eof())
        return std::nullopt;
    CardHolder h;
    h.idx = module.FieldAsInt(row, QStringLiteral("idx"));
    h.CardNo = module.FieldAsText(row, QStringLiteral("CardNo"));
    h.DongHao = module.FieldAsText(row, QStringLiteral("DongHao"));
    h.DanYuan = module.FieldAsText(row, QStringLiteral("DanYuan"));
    h.FangHao = module.FieldAsText(row, QStringLiteral("FangHao"));
    h.UserName = module.FieldAsText(row, QStringLiteral("UserName"));
    h.Remark = module.FieldAsText(row, QStringLiteral("Remark"));
    h.Sex = module.FieldAsText(row, QStringLiteral("Sex"));
    h.Phone = module.FieldAsText(row, QStringLiteral("Phone"));
    h.IsUseExpDate = module.FieldAsBool(row, QStringLiteral("IsUseExpdate"));
    if (!row.Field(QStringLiteral("Expdate")).isNull())
        h.ExpDate = module.FieldAsDate(row, QStringLiteral("Expdate"));
    return h;
}

int FindUserByCardNo(Tdm& module, const QString& cardNo)
{
    return firstIdx(module, QStringLiteral("select * from UserInfo where CardNo=:CardNo"),
                    {{QStringLiteral("CardNo"), TextValue(cardNo)}});
}

bool CardNoExists(Tdm& module, const QString& cardNo)
{
    return FindUserByCardNo(module, cardNo) != -1;
}

int FindUserIdx(Tdm& module, const TuserInfoRec& rec)
{
    // The newest matching row: the one an insert has just made.
    const int idx = firstIdx(
        module,
        QStringLiteral("select * from UserInfo where UserName=:UserName and CardNo = :CardNo and "
                       "DongHao = :DongHao and DanYuan = :DanYuan and FangHao = :FangHao order by idx desc"),
        {{QStringLiteral("UserName"), TextValue(rec.UserName)},
         {QStringLiteral("CardNo"), TextValue(rec.CardNo)},
         {QStringLiteral("DongHao"), rec.DongHao},
         {QStringLiteral("DanYuan"), rec.DanYuan},
         {QStringLiteral("FangHao"), TextValue(rec.FangHao)}});
    if (idx == -1)
        throw OperationError(QStringLiteral("找不到业主记录（姓名 %1，卡编号 %2，%3栋%4单元%5房）")
                                 .arg(rec.UserName, rec.CardNo)
                                 .arg(rec.DongHao)
                                 .arg(rec.DanYuan)
                                 .arg(rec.FangHao));
    return idx;
}
