#include "DM.h"

#include "AppPath.h"
#include "DbMaintenance.h"
#include "Dialogs.h"
#include "OperationError.h"
#include "Prepared.h"
#include "Schema.h"
#include "SqlFailure.h"
#include "engine/Engine.h"
#include "engine/PgEngine.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <cmath>
#include <cstring>
#include <libpq-fe.h>

Tdm* dm = nullptr;
const char* const BuildTreeRootText = "小区栋号/单元";

namespace {

QString nextConnectionName()
{
    static std::atomic<int> serial{0};
    const int n = ++serial;
    return n == 1 ? QStringLiteral("iccard.con1") : QStringLiteral("iccard.con1.%1").arg(n);
}

QString unusableMessage(const QString& path, const QString& reason)
{
    return QStringLiteral(
               "数据库文件不能使用：%1\n%2\n程序没有改动这个文件，将在没有数据库的情况下继续运行。")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString unreachableMessage(const TDatabaseTarget& target, const QString& reason)
{
    return QStringLiteral("数据库服务器不能使用：%1\n%2\n程序将在没有数据库的情况下继续运行。")
        .arg(target.Describe(), reason.trimmed());
}

// The engine's words for a failed connection, without Qt's own heading.
QString connectionError(const QSqlDatabase& db)
{
    const QSqlError e = db.lastError();
    const QString text = e.databaseText().trimmed().isEmpty() ? e.text() : e.databaseText();
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines << line.simplified();
    return lines.join(QLatin1Char('\n'));
}

int variantToInt(const QVariant& v)
{
    if (v.isNull())
        return 0;
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Bool: {
        bool ok = false;
        const qlonglong n = v.toLongLong(&ok);
        if (!ok || n > 2147483647LL || n < -2147483648LL)
            ThrowNotAnInteger(v.toString());
        return int(n);
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (std::floor(d) != d || d > 2147483647.0 || d < -2147483648.0)
            ThrowNotAnInteger(v.toString());
        return int(d);
    }
    case QMetaType::QString: {
        const QString s = v.toString();
        if (s.trimmed().isEmpty())
            return 0;
        return ToInt32(s);
    }
    default:
        ThrowNotAnInteger(v.toString());
    }
}

bool variantToBool(const QVariant& v)
{
    if (v.isNull())
        return false;
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        if (const auto n = ParseInt32(s))
            return *n != 0;
        return s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    }
    if (v.typeId() == QMetaType::Double)
        return v.toDouble() != 0.0;
    return v.toLongLong() != 0;
}

QByteArray bitmapBytes(const std::array<uint8_t, 32>& bitmap)
{
    return QByteArray(reinterpret_cast<const char*>(bitmap.data()), qsizetype(bitmap.size()));
}

} // namespace

QString StoredDateText(const QDate& date)
{
    if (!date.isValid())
        ThrowNotADate(QString());
    // yyyy-MM-dd, written by hand: an import stores one date per line.
    const int year = date.year();
    if (year < 1000 || year > 9999)
        return date.toString(QStringLiteral("yyyy-MM-dd"));
    const int digits[] = {
        year / 1000, year / 100 % 10, year / 10 % 10, year % 10, -1, date.month() / 10, date.month() % 10,
        -1,          date.day() / 10, date.day() % 10};
    QString text(10, Qt::Uninitialized);
    for (int i = 0; i < 10; ++i)
        text[i] = digits[i] < 0 ? QLatin1Char('-') : QLatin1Char(char('0' + digits[i]));
    return text;
}

namespace {

// The day a text of four-digit year, month and day names, with "-", "/" or "." between them (the
// same one twice) and leading zeros or not; an invalid date when it names none. Read by hand: an
// owner data file has a date on every line.
QDate dayOf(QStringView text)
{
    auto digits = [&text](qsizetype& at, int least, int most) {
        int value = 0;
        int n = 0;
        while (at < text.size() && n < most && text[at] >= u'0' && text[at] <= u'9') {
            value = value * 10 + (text[at].unicode() - u'0');
            ++at;
            ++n;
        }
        return n >= least ? value : -1;
    };
    qsizetype at = 0;
    const int year = digits(at, 4, 4);
    if (year < 0 || at >= text.size())
        return QDate();
    const QChar separator = text[at];
    if (separator != u'-' && separator != u'/' && separator != u'.')
        return QDate();
    ++at;
    const int month = digits(at, 1, 2);
    if (month < 0 || at >= text.size() || text[at] != separator)
        return QDate();
    ++at;
    const int day = digits(at, 1, 2);
    if (day < 0 || at != text.size())
        return QDate();
    return QDate(year, month, day); // invalid when the day does not exist
}

} // namespace

QDate DateFromText(QStringView text)
{
    const QDate d = dayOf(text.trimmed());
    if (!d.isValid())
        ThrowNotADate(text.toString());
    return d;
}

QString DateText(const QDate& date)
{
    return date.toString(QStringLiteral("yyyy/MM/dd"));
}

QDate StoredDate(const QVariant& value)
{
    if (value.isNull())
        ThrowNullConversion(QStringLiteral("Date"));
    if (value.typeId() == QMetaType::QDate)
        return value.toDate();
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().date();
    const QString text = value.toString().trimmed();
    QString day = text;
    if (day.size() > 10 && (day[10] == QLatin1Char(' ') || day[10] == QLatin1Char('T')))
        day.truncate(10);
    const QDate d = dayOf(day);
    if (!d.isValid())
        ThrowNotADate(text);
    return d;
}

bool StoredBool(const QVariant& value)
{
    return variantToBool(value);
}

Tdm::Tdm() : Tdm(std::nullopt) {}

Tdm::Tdm(const TDatabaseTarget& target) : Tdm(std::optional<TDatabaseTarget>(target)) {}

Tdm::Tdm(std::optional<TDatabaseTarget> target)
    : dsCom1(*this, QStringLiteral("dsCom1")), dsCom2(*this, QStringLiteral("dsCom2")),
      dsTemp(*this, QStringLiteral("dsTemp")), qry1(*this)
{
    if (target) {
        m_target = *target;
    } else {
        // A settings file that names no server properly is reported at the first use, like a
        // server that cannot be reached.
        try {
            m_target = ConfiguredDatabase();
        } catch (const OperationError& e) {
            m_targetError = e.message();
        }
    }
    con1 = QSqlDatabase::addDatabase(EngineFor(m_target).DriverName(), nextConnectionName());
    m_connectionName = con1.connectionName();
    RemoveMaintenanceLeftovers(m_target.FilePath());
}

Tdm::~Tdm()
{
    CloseDataSets();
    if (con1.isOpen())
        con1.close();
    con1 = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
    if (dm == this)
        dm = nullptr;
}

QString DatabaseInUse(const Tdm& module)
{
    const TDatabaseTarget& target = module.Target();
    const bool file = !EngineFor(target).DatabaseFile(target).isEmpty();
    return file ? QStringLiteral("本机文件 ") + target.Describe() : target.Describe();
}

QString Tdm::DatabasePath()
{
    return AppPath + QStringLiteral("QDR_DB.GRes");
}

bool Tdm::IsOpen() const
{
    return con1.isOpen();
}

QString Tdm::BoolLiteral(bool value) const
{
    return EngineFor(m_target).BoolLiteral(value);
}

void Tdm::openServer()
{
    if (!QSqlDatabase::isDriverAvailable(EngineFor(m_target).DriverName()))
        throw OperationError(unreachableMessage(
            m_target, QStringLiteral("本机没有 PostgreSQL 数据库驱动（Debian 软件包 libqt6sql6-psql）。")));
    ConfigureServerConnection(con1, m_target);
    if (!con1.open()) {
        const QString error = connectionError(con1);
        con1.close();
        throw OperationError(unreachableMessage(m_target, error));
    }
    try {
        QSqlQuery q(con1);
        if (!q.exec(QStringLiteral("set client_min_messages = warning")))
            throw OperationError(q.lastError().text());
        const TDatabaseCheck check = CheckOpenDatabase(con1);
        if (!check.ok)
            throw OperationError(check.reason);
        if (check.version < SchemaVersion)
            ApplySchema(con1, check.version);
    } catch (const OperationError& e) {
        con1.close();
        throw OperationError(unreachableMessage(m_target, e.message()));
    }
}

void Tdm::OpenConnection()
{
    if (con1.isOpen())
        return;
    if (!m_targetError.isEmpty())
        throw OperationError(m_targetError);
    if (EngineFor(m_target).DatabaseFile(m_target).isEmpty()) {
        openServer(); // no file to judge: the server is connected to
        return;
    }
    const QString path = m_target.FilePath();
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        throw OperationError(unusableMessage(path, QStringLiteral("它不是一个文件。")));
    // The file is judged first (after the engine has rolled back whatever a crash left half
    // written). A missing file, and one that holds nothing (a creation that never finished),
    // gets the schema.
    int version = 0;
    if (info.exists()) {
        const TDatabaseCheck check = CheckDatabaseFile(path, false);
        if (!check.ok)
            throw OperationError(unusableMessage(path, check.reason));
        version = check.version;
    }
    con1.setDatabaseName(path);
    if (!con1.open()) {
        const QString error = con1.lastError().text();
        con1.close();
        throw OperationError(unusableMessage(path, error));
    }
    try {
        QSqlQuery q(con1);
        // The rollback journal with a full sync at every commit: a committed statement survives a
        // power cut, and whenever no change is running the file alone holds all of it, so a copy
        // made by hand between two operations is complete. (Files of earlier versions used a
        // write-ahead log; switching folds it back into the file.)
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=DELETE")) || !q.next() ||
            q.value(0).toString().compare(QLatin1String("delete"), Qt::CaseInsensitive) != 0)
            throw OperationError(QStringLiteral("不能使用回滚日志：%1").arg(q.lastError().text()));
        if (!q.exec(QStringLiteral("PRAGMA synchronous=FULL")))
            throw OperationError(q.lastError().text());
        q.finish();
        // The schema goes in before anything else is written, in one transaction.
        if (version < SchemaVersion)
            ApplySchema(con1, version);
    } catch (const OperationError& e) {
        con1.close();
        throw OperationError(unusableMessage(path, e.message()));
    }
}

QSqlDatabase Tdm::database()
{
    // A connection to a server that has gone (restarted, or the network was down) is made anew at
    // the next use outside a change; a change that was running is lost with it, and says so.
    if (con1.isOpen() && m_levels.empty() && !EngineFor(m_target).ConnectionAlive(con1)) {
        CloseDataSets();
        con1.close();
    }
    if (!con1.isOpen()) {
        try {
            OpenConnection();
            m_openFailureShown = false;
        } catch (const OperationError& e) {
            if (m_openFailureShown)
                throw;
            m_openFailureShown = true;
            ShowError(e.message());
            throw OperationError(e.message(), true);
        }
    }
    return con1;
}

void Tdm::CloseDataSets()
{
    dsCom1.Close();
    dsCom2.Close();
    dsTemp.Close();
    qry1.Close();
}

bool Tdm::CloseConnection()
{
    if (!m_levels.empty())
        return false;
    CloseDataSets();
    if (!con1.isOpen())
        return true;
    con1.close();
    return true;
}

bool Tdm::ExecuteSQL(const QString& sql, const SqlParams& params, const QStringList& placeholders)
{
    if (inFailedChange())
        return false;
    // A statement that fails inside a batch is undone alone. The file does that by itself; a
    // server drops the whole transaction instead, unless the statement has a savepoint.
    const bool alone =
        EngineFor(m_target).SavepointPerStatement() && !m_levels.empty() && !m_levels.back().allOrNothing;
    QSqlQuery guard(con1);
    try {
        if (alone && !guard.exec(QStringLiteral("SAVEPOINT iccard_statement")))
            throw OperationError(guard.lastError().text());
        qry1.Exec(sql, params);
        if (alone)
            guard.exec(QStringLiteral("RELEASE SAVEPOINT iccard_statement"));
        return true;
    } catch (const std::exception&) {
        if (alone)
            guard.exec(QStringLiteral("ROLLBACK TO SAVEPOINT iccard_statement"));
        markFailed();
        ShowError(QStringLiteral("执行错误：") + StatementWithValues(sql, params, placeholders));
        return false;
    }
}

QString Tdm::FieldAsText(const TDataSet& ds, const QString& column) const
{
    const QVariant v = ds.Field(column);
    return v.isNull() ? QString(QLatin1String("")) : v.toString();
}

int Tdm::FieldAsInt(const TDataSet& ds, const QString& column) const
{
    return variantToInt(ds.Field(column));
}

bool Tdm::FieldAsBool(const TDataSet& ds, const QString& column) const
{
    return variantToBool(ds.Field(column));
}

QDate Tdm::FieldAsDate(const TDataSet& ds, const QString& column) const
{
    return StoredDate(ds.Field(column));
}

void Tdm::fillUserInfo(TuserInfoRec& rec)
{
    // Everything is read before anything is changed: a value that does not convert leaves the
    // caller's record and buffers as they were.
    TuserInfoRec r = rec;
    r.CardID = FieldAsText(dsTemp, QStringLiteral("CardID"));
    r.CardNo = FieldAsText(dsTemp, QStringLiteral("CardNo"));
    r.UserName = FieldAsText(dsTemp, QStringLiteral("UserName"));
    r.BuildName = FieldAsText(dsTemp, QStringLiteral("BuildName"));
    r.DongHao = FieldAsInt(dsTemp, QStringLiteral("DongHao"));
    r.DanYuan = FieldAsInt(dsTemp, QStringLiteral("DanYuan"));
    r.UserType = FieldAsText(dsTemp, QStringLiteral("UserType"));
    r.FangHao = FieldAsText(dsTemp, QStringLiteral("FangHao"));
    r.Sex = FieldAsText(dsTemp, QStringLiteral("Sex"));
    r.ExpDate = FieldAsDate(dsTemp, QStringLiteral("Expdate"));
    r.Phone = FieldAsText(dsTemp, QStringLiteral("phone"));
    r.Remark = FieldAsText(dsTemp, QStringLiteral("Remark"));
    const QVariant isSelect = dsTemp.Field(QStringLiteral("IsSelect"));
    r.IsSelect = isSelect.isNull()
                     ? QString(QLatin1String(""))
                     : (variantToBool(isSelect) ? QStringLiteral("True") : QStringLiteral("False"));
    r.ExtName = FieldAsText(dsTemp, QStringLiteral("ExtName"));
    r.chLoss = FieldAsText(dsTemp, QStringLiteral("chLoss"));
    r.BlackCard = r.chLoss == QStringLiteral("挂失");
    r.chUseExpdate = FieldAsText(dsTemp, QStringLiteral("chUseExpdate"));
    r.IsUseExpDate = r.chUseExpdate == QStringLiteral("是");
    const QByteArray photo = dsTemp.Field(QStringLiteral("imgPhoto")).toByteArray();
    const QByteArray terminals = dsTemp.Field(QStringLiteral("VaildTerminal")).toByteArray();
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

int Tdm::loadUserInfo(const QString& sql, const SqlParams& params, TuserInfoRec& rec)
{
    dsTemp.Open(sql, params);
    const int count = dsTemp.RecordCount();
    if (count > 0)
        fillUserInfo(rec);
    return count;
}

int Tdm::LoadUserInfoByIdx(int idx, TuserInfoRec& rec)
{
    QString sql = QStringLiteral("select * from UserInfo where 1=1");
    SqlParams params;
    if (idx > 0) {
        sql += QStringLiteral(" and idx = :idx");
        params.append({QStringLiteral("idx"), idx});
    }
    sql += QStringLiteral(" order by idx desc");
    return loadUserInfo(sql, params, rec);
}

int Tdm::LoadUserInfoByCardNo(const QString& cardNo, TuserInfoRec& rec)
{
    return loadUserInfo(QStringLiteral("select * from UserInfo where CardNo=:CardNo"),
                        {{QStringLiteral("CardNo"), TextValue(cardNo)}}, rec);
}

int Tdm::LoadUserInfoByName(const QString& userName, TuserInfoRec& rec)
{
    return loadUserInfo(QStringLiteral("select * from UserInfo where UserName=:UserName"),
                        {{QStringLiteral("UserName"), TextValue(userName)}}, rec);
}

namespace {

// The values of the whole-record statements; each statement takes the ones it names.
SqlParams recordParams(const TuserInfoRec& rec, const QByteArray& terminals)
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

const QString& insertUserInfoSql()
{
    static const QString sql = QStringLiteral(
        "insert into UserInfo (CardID,CardNo,UserName,BuildName,DongHao,DanYuan,UserType,FangHao,Sex,Expdate,"
        "BlackCard,phone,Remark,IsSelect,VaildTerminal,IsUseExpDate,ExtName,chLoss,chUseExpdate) values "
        "(:CardID,:CardNo,:UserName,:BuildName,:DongHao,:DanYuan,:UserType,:FangHao,:Sex,:Expdate,:BlackCard,"
        ":phone,:Remark,:IsSelect,:VaildTerminal,:IsUseExpDate,:ExtName,:chLoss,:chUseExpdate)");
    return sql;
}

// The rows an imported owner replaces. The card number picks them through its index: without
// statistics the engine would take the index of building and unit, and read a whole unit per line.
QString importDeleteSql(const Engine& engine)
{
    return QStringLiteral(
               "delete from UserInfo%1 where CardNo = :CardNo and DongHao = :DongHao and DanYuan=:DanYuan")
        .arg(engine.IndexHint(QStringLiteral("UserInfo_CardNo")));
}

SqlParams importDeleteParams(const TuserInfoRec& rec)
{
    return {{QStringLiteral("CardNo"), TextValue(rec.CardNo)},
            {QStringLiteral("DongHao"), rec.DongHao},
            {QStringLiteral("DanYuan"), rec.DanYuan}};
}

// A card serial is held by one owner at most: the rows imported since :from (idx above it) hold
// their serials, and the rows before them give up any of those serials they hold.
// The newest owner row's idx (0 when there is none): the rows an import adds after it are above it.
const QString NewestOwnerSql = QStringLiteral("select coalesce(max(idx), 0) as newest from UserInfo");

const QString& clearOtherHoldersSql()
{
    static const QString sql =
        QStringLiteral("update UserInfo set CardID = '' where CardID in (select CardID from UserInfo where "
                       "idx > :from and CardID <> '') and idx <= :from");
    return sql;
}

// Two imported rows with the same serial (the file names it twice) leave it to the later one (the
// file's later line, inserted later).
const QString& clearEarlierImportedSql()
{
    static const QString sql = QStringLiteral(
        "update UserInfo set CardID = '' where idx > :from and CardID in (select CardID from UserInfo where "
        "idx > :from and CardID <> '') and idx < (select max(n.idx) from UserInfo n where n.CardID = "
        "UserInfo.CardID)");
    return sql;
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
    QByteArray bytes = bitmapBytes(rec.VaildTerminal);
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

} // namespace

bool Tdm::runRecordStatement(const QString& sql, const SqlParams& params)
{
    // The error box shows these statements with their placeholders, but with the row's key.
    QStringList placeholders = StatementParameters(sql);
    placeholders.removeAll(QStringLiteral("idx"));
    return ExecuteSQL(sql, paramsUsedBy(params, sql), placeholders);
}

bool Tdm::InsertUserInfo(const TuserInfoRec& rec, InsertEntry entry)
{
    return runRecordStatement(insertUserInfoSql(),
                              recordParams(rec, terminalBytes(rec, entry == InsertEntry::Editor)));
}

bool Tdm::UpdateUserInfo(const TuserInfoRec& rec)
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
    return runRecordStatement(sql, recordParams(rec, terminalBytes(rec, true)));
}

bool Tdm::UpdateUserTerminals(const TuserInfoRec& rec)
{
    static const QString sql =
        QStringLiteral("update UserInfo set VaildTerminal = :VaildTerminal where idx = :idx");
    return runRecordStatement(sql, recordParams(rec, terminalBytes(rec, true)));
}

bool Tdm::UpdateUserExpiry(const TuserInfoRec& rec)
{
    static const QString sql =
        QStringLiteral("update UserInfo set Expdate = :Expdate,chUseExpDate = :chUseExpdate,"
                       "IsUseExpDate = :IsUseExpDate where idx = :idx");
    return runRecordStatement(sql, recordParams(rec, terminalBytes(rec, false)));
}

bool Tdm::SetUserCardID(int idx, const QString& cardId)
{
    return ExecuteSQL(QStringLiteral("update UserInfo set CardID=:CardID where idx=:idx"),
                      {{QStringLiteral("CardID"), TextValue(cardId)}, {QStringLiteral("idx"), idx}});
}

bool Tdm::ClearUserCardID(int idx)
{
    return ExecuteSQL(QStringLiteral("update UserInfo set CardID='' where idx = :idx"),
                      {{QStringLiteral("idx"), idx}});
}

void Tdm::lockCard(const QString& cardId)
{
    const QString lock = EngineFor(m_target).CardSerialLock();
    if (!lock.isEmpty() && !cardId.isEmpty())
        ExecuteSQL(lock, {{QStringLiteral("CardID"), cardId.toLower()}});
}

std::optional<SqlParams> Tdm::deleteKeepingState(int idx)
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
    for (int attempt = 0; attempt < 10; ++attempt) {
        dsTemp.Open(QStringLiteral("select CardID from UserInfo where idx = :idx"),
                    {{QStringLiteral("idx"), idx}});
        if (dsTemp.Eof())
            return std::nullopt; // deleted at another desk: nothing to take along
        const QString card = FieldAsText(dsTemp, QStringLiteral("CardID"));
        dsTemp.Close();
        if (!locked.contains(card)) {
            lockCard(card);
            locked << card;
        }
        if (inFailedChange())
            return std::nullopt;
        const SqlParams params{{QStringLiteral("idx"), idx}, {QStringLiteral("CardID"), TextValue(card)}};
        try {
            dsTemp.Open(sql, params);
        } catch (const std::exception&) {
            markFailed();
            ShowError(QStringLiteral("执行错误：") + StatementWithValues(sql, params));
            return std::nullopt; // reported; the change is undone
        }
        if (dsTemp.Eof())
            continue; // its card moved in between: read it again
        SqlParams kept;
        for (const QString& column : KeptColumns)
            kept.append({column, dsTemp.Field(column)});
        dsTemp.Close();
        return kept;
    }
    throw OperationError(QStringLiteral("业主的IC卡正在其他电脑上登记，请稍后再保存。"));
}

bool Tdm::AddUserInfo(TuserInfoRec& rec, int* replaced)
{
    TTransaction change(*this);
    // A record saved again in place of its own row is that owner's row still: the new row takes
    // over what the row holds beyond the editor's form, as it holds it now (its card, loss state,
    // blacklist marks, list mark and photo bytes), since the record may have been read before any of
    // it changed. Any other row's card goes with that row, and the new owner starts without one: a
    // card is registered only when it is written or bound for the owner.
    TuserInfoRec row = rec;
    row.CardID.clear();
    std::optional<SqlParams> kept;
    int deleted = 0;
    if (CardNoExists(rec.CardNo)) {
        deleted = FieldAsInt(dsTemp, QStringLiteral("idx"));
        if (rec.idx > 0 && deleted == rec.idx)
            kept = deleteKeepingState(deleted);
        else
            ExecuteSQL(QStringLiteral("delete from UserInfo where idx = :idx"),
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
        for (const auto& p : recordParams(row, terminalBytes(row, true))) {
            if (names.contains(p.first) && !KeptColumns.contains(p.first))
                params.append(p);
        }
        params.append(*kept);
        if (!ExecuteSQL(sql, params, names))
            return change.Commit();
    } else if (!InsertUserInfo(row)) {
        return change.Commit();
    }
    const int idx = FindUserIdx(row);
    if (!change.Commit())
        return false;
    rec.idx = idx;
    rec.CardID = row.CardID;
    if (replaced)
        *replaced = deleted;
    return true;
}

bool Tdm::RegisterCardID(int toIdx, const QString& cardId)
{
    TTransaction change(*this);
    if (!cardId.isEmpty()) {
        // Desks that register the same card at the same moment take turns: the second one clears
        // the first one's registration, which it sees committed once it has the lock.
        lockCard(cardId);
        ExecuteSQL(QStringLiteral("update UserInfo set CardID='' where CardID=:CardID and idx <> :idx"),
                   {{QStringLiteral("CardID"), TextValue(cardId)}, {QStringLiteral("idx"), toIdx}});
    }
    if (toIdx > 0)
        SetUserCardID(toIdx, cardId);
    return change.Commit();
}

bool Tdm::ImportUserInfo(const TuserInfoRec& rec)
{
    TTransaction change(*this);
    ExecuteSQL(importDeleteSql(EngineFor(m_target)), importDeleteParams(rec));
    const int from = maxOwnerIdx();
    InsertUserInfo(rec, InsertEntry::Import);
    if (!rec.CardID.isEmpty())
        ExecuteSQL(clearOtherHoldersSql(), {{QStringLiteral("from"), from}});
    return change.Commit();
}

int Tdm::maxOwnerIdx()
{
    dsTemp.Open(NewestOwnerSql);
    return dsTemp.Eof() ? 0 : dsTemp.Field(QStringLiteral("newest")).toInt();
}

QString Tdm::ImportDeleteStatement() const
{
    return importDeleteSql(EngineFor(m_target));
}

QString Tdm::ClearOtherHoldersStatement()
{
    return clearOtherHoldersSql();
}

namespace {

// The columns an imported owner fills, in the order of the server's COPY lines.
const char* const ImportColumns = "CardID,CardNo,UserName,BuildName,DongHao,DanYuan,UserType,FangHao,Sex,"
                                  "Expdate,BlackCard,phone,Remark,IsSelect,VaildTerminal,IsUseExpDate,"
                                  "ExtName,chLoss,chUseExpdate";

// A text in COPY's text format: the backslash and the characters that end a field or a line are
// written as escapes. (A NUL character stays: the server refuses the line, as it refuses such a
// text in any statement.) The record's null texts are stored as empty texts, as InsertUserInfo
// stores them.
void appendCopyText(QByteArray& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    const char* p = utf8.constData();
    qsizetype from = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = p[i];
        const char* escape = c == '\\'   ? "\\\\"
                             : c == '\t' ? "\\t"
                             : c == '\n' ? "\\n"
                             : c == '\r' ? "\\r"
                                         : nullptr;
        if (!escape)
            continue;
        out.append(p + from, i - from).append(escape);
        from = i + 1;
    }
    out.append(p + from, utf8.size() - from).append('\t');
}

// One owner as a line of the staging table: its place in the batch, then the values InsertUserInfo
// binds, converted as it converts them.
void appendCopyLine(QByteArray& out, const TuserInfoRec& rec, int ordinal)
{
    const QString expiry = StoredDateText(rec.ExpDate);
    auto mark = [&out](bool value) { out.append(value ? "t\t" : "f\t"); };
    out.append(QByteArray::number(ordinal)).append('\t');
    appendCopyText(out, rec.CardID);
    appendCopyText(out, rec.CardNo);
    appendCopyText(out, rec.UserName);
    appendCopyText(out, rec.BuildName);
    out.append(QByteArray::number(rec.DongHao)).append('\t');
    out.append(QByteArray::number(rec.DanYuan)).append('\t');
    appendCopyText(out, rec.UserType);
    appendCopyText(out, rec.FangHao);
    appendCopyText(out, rec.Sex);
    appendCopyText(out, expiry);
    mark(rec.BlackCard);
    appendCopyText(out, rec.Phone);
    appendCopyText(out, rec.Remark);
    mark(false); // IsSelect
    out.append("\\\\x").append(bitmapBytes(rec.VaildTerminal).toHex()).append('\t');
    mark(rec.IsUseExpDate);
    appendCopyText(out, rec.ExtName);
    appendCopyText(out, rec.chLoss);
    appendCopyText(out, rec.chUseExpdate);
    out.back() = '\n';
}

} // namespace

TImportBatch::TImportBatch(Tdm& module) : m_dm(module)
{
    module.database();
    if (EngineFor(module.Target()).ImportsByCopy())
        return; // the owners go to the server with COPY at each commit
    prepareStatements();
    // A commit of many owners touches many pages of the four indexes; with the engine's default
    // cache of 2 MB it writes them out and reads them back again and again.
    QSqlQuery q(module.database());
    if (q.exec(QStringLiteral("PRAGMA cache_size")) && q.next())
        m_cacheSize = q.value(0).toInt();
    q.exec(QStringLiteral("PRAGMA cache_size = -32768"));
}

TImportBatch::~TImportBatch()
{
    if (m_open)
        m_dm.UndoBatch();
    if (m_dm.IsOpen() && !EngineFor(m_dm.Target()).ImportsByCopy()) {
        QSqlQuery q(m_dm.con1);
        q.exec(QStringLiteral("PRAGMA cache_size = %1").arg(m_cacheSize));
    }
}

void TImportBatch::prepareStatements()
{
    if (m_delete)
        return;
    m_delete = std::make_unique<TPrepared>(m_dm, importDeleteSql(EngineFor(m_dm.Target())));
    m_insert = std::make_unique<TPrepared>(m_dm, insertUserInfoSql());
    m_delete->Name({QStringLiteral("CardNo"), QStringLiteral("DongHao"), QStringLiteral("DanYuan")});
    // The insert takes the values InsertUserInfo gives it, picked from the same list by position.
    const SqlParams all = recordParams(TuserInfoRec(), QByteArray());
    const QStringList names = StatementParameters(insertUserInfoSql());
    QStringList taken;
    m_positions.clear();
    for (int i = 0; i < all.size(); ++i) {
        if (names.contains(all[i].first)) {
            m_positions.push_back(i);
            taken << all[i].first;
        }
    }
    m_insert->Name(taken);
}

bool TImportBatch::begin()
{
    if (m_open)
        return true;
    TSqlFailure why;
    if (!m_dm.BeginBatch(&why))
        return stop(why);
    m_open = true;
    // Read under the batch's lock: the rows above it are the ones this commit adds.
    TPrepared last(m_dm, NewestOwnerSql);
    try {
        m_lastIdx = last.Next() ? last.Int(0) : 0;
    } catch (const OperationError&) {
        return stop(last.Failure());
    }
    m_pending.reserve(1024);
    return true;
}

TPrepared* TImportBatch::write(const TuserInfoRec& rec)
{
    const SqlParams removed = importDeleteParams(rec);
    for (int i = 0; i < removed.size(); ++i)
        m_delete->BindAt(i, removed[i].second);
    if (!m_delete->Exec())
        return m_delete.get();
    // The bitmap is bound from the record itself, which outlives the statement's run.
    const SqlParams values =
        recordParams(rec, QByteArray::fromRawData(reinterpret_cast<const char*>(rec.VaildTerminal.data()),
                                                  qsizetype(rec.VaildTerminal.size())));
    for (int i = 0; i < int(m_positions.size()); ++i)
        m_insert->BindAt(i, values[m_positions[size_t(i)]].second);
    return m_insert->Exec() ? nullptr : m_insert.get();
}

bool TImportBatch::stop(const TSqlFailure& why)
{
    m_stopReason = why.Describe();
    if (m_stopReason.isEmpty())
        m_stopReason = QStringLiteral("数据库出错");
    if (m_open)
        m_dm.UndoBatch();
    m_open = false;
    m_broken = true;
    m_replay = false;
    m_pending.clear();
    m_copy.clear();
    m_serials.clear();
    m_serialTwice = false;
    return false;
}

void TImportBatch::reportRefused(const TuserInfoRec& rec, const TPrepared* failed)
{
    if (failed == m_insert.get()) {
        ShowError(QStringLiteral("执行错误：") + insertUserInfoSql());
        return;
    }
    // The values as the operator can read them: a card number of megabytes is cut short.
    SqlParams shown = importDeleteParams(rec);
    shown[0].second = TextValue(Abridged(rec.CardNo));
    ShowError(QStringLiteral("执行错误：") +
              StatementWithValues(importDeleteSql(EngineFor(m_dm.Target())), shown));
}

bool TImportBatch::Add(const TuserInfoRec& rec)
{
    if (m_broken || !begin())
        return false;
    m_pending.push_back(rec);
    if (!rec.CardID.isEmpty() && !m_serialTwice) {
        const auto size = m_serials.size();
        m_serials.insert(rec.CardID.toUpper());
        m_serialTwice = m_serials.size() == size;
    }
    if (EngineFor(m_dm.Target()).ImportsByCopy()) {
        appendCopyLine(m_copy, rec, int(m_pending.size()));
        return true;
    }
    if (m_replay)
        return true;
    const TPrepared* failed = write(rec);
    if (!failed)
        return true;
    const TSqlFailure why = failed->Failure();
    if (!why.aboutTheRow || !failed->InTransaction())
        return stop(why); // the database's trouble, not the owner's: the run ends here
    // Refused for its own values, the rest of the batch still there: the owners since the last
    // commit are done again one by one when it is committed, so that this one alone is left out
    // and reported.
    m_replay = true;
    return true;
}

bool TImportBatch::replay()
{
    prepareStatements();
    TPrepared save(m_dm, QStringLiteral("SAVEPOINT iccard_owner"));
    TPrepared keep(m_dm, QStringLiteral("RELEASE SAVEPOINT iccard_owner"));
    TPrepared undo(m_dm, QStringLiteral("ROLLBACK TO SAVEPOINT iccard_owner"));
    for (const TuserInfoRec& rec : m_pending) {
        if (!save.Exec())
            return stop(save.Failure());
        TPrepared* failed = write(rec);
        if (!failed) {
            if (!keep.Exec())
                return stop(keep.Failure());
            continue;
        }
        const TSqlFailure why = failed->Failure();
        if (!why.aboutTheRow)
            return stop(why);
        if (!undo.Exec())
            return stop(undo.Failure());
        if (!keep.Exec())
            return stop(keep.Failure());
        reportRefused(rec, failed);
        ++m_refused;
    }
    return true;
}

bool TImportBatch::Commit()
{
    if (m_broken)
        return false;
    if (!m_open)
        return true;
    if (EngineFor(m_dm.Target()).ImportsByCopy() && !m_replay) {
        TSqlFailure why;
        if (!copyPending(why)) {
            if (!why.aboutTheRow)
                return stop(why);
            m_replay = true; // a line the server refused: the owners one by one, as on the file
        }
    }
    m_copy.clear();
    if (m_replay) {
        m_dm.UndoBatch();
        m_open = false;
        m_replay = false;
        if (!begin() || !replay())
            return false;
    }
    // The serials the commit's owners bring are theirs alone, in the same commit.
    for (const QString* sql :
         {&clearOtherHoldersSql(), m_serialTwice ? &clearEarlierImportedSql() : nullptr}) {
        if (!sql)
            continue;
        TPrepared clear(m_dm, *sql);
        clear.Bind({{QStringLiteral("from"), m_lastIdx}});
        if (!clear.Exec())
            return stop(clear.Failure());
    }
    m_open = false;
    m_pending.clear();
    m_serials.clear();
    m_serialTwice = false;
    TSqlFailure why;
    if (m_dm.CommitBatch(&why))
        return true;
    return stop(why);
}

// The pending owners in one go: COPY into a staging table, one delete of the rows they replace and
// one insert of them in file order, each owner left out that a later one of the same card number,
// building and unit replaces, so the rows are those of the owners imported one by one. All of it in
// the batch's transaction; false when any of it failed, with what the failure was about.
bool TImportBatch::copyPending(TSqlFailure& failure)
{
    PGconn* pg = ServerConnection(m_dm.database());
    auto failed = [&](PGresult* result) {
        const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        const QString detail =
            QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(pg)).trimmed();
        PQclear(result);
        while (PGresult* rest = PQgetResult(pg))
            PQclear(rest);
        failure = ServerFailure(state ? QString::fromLatin1(state) : QString(), PQstatus(pg) == CONNECTION_OK,
                                detail);
        return false;
    };
    auto run = [&](const QString& statement) {
        PGresult* result = PQexec(pg, statement.toUtf8().constData());
        if (PQresultStatus(result) != PGRES_COMMAND_OK)
            return failed(result);
        PQclear(result);
        return true;
    };
    const QString columns = QString::fromLatin1(ImportColumns);
    const QString sameKey = QStringLiteral("%1.CardNo = %2.CardNo and %1.DongHao = %2.DongHao and "
                                           "%1.DanYuan = %2.DanYuan");
    if (!run(QStringLiteral(
                 "create temp table iccard_import as select 0 as ord, %1 from UserInfo with no data")
                 .arg(columns)))
        return false;
    const QString copy = QStringLiteral("copy iccard_import (ord,%1) from stdin").arg(columns);
    PGresult* result = PQexec(pg, copy.toUtf8().constData());
    if (PQresultStatus(result) != PGRES_COPY_IN)
        return failed(result);
    PQclear(result);
    constexpr qsizetype Chunk = 1 << 20;
    bool sent = true;
    for (qsizetype at = 0; sent && at < m_copy.size(); at += Chunk)
        sent = PQputCopyData(pg, m_copy.constData() + at, int(std::min(Chunk, m_copy.size() - at))) == 1;
    if (PQputCopyEnd(pg, sent ? nullptr : "not sent") != 1)
        return failed(nullptr);
    result = PQgetResult(pg);
    if (PQresultStatus(result) != PGRES_COMMAND_OK)
        return failed(result);
    PQclear(result);
    while (PGresult* rest = PQgetResult(pg))
        PQclear(rest);
    // The owners a later one of the same key replaces are found by numbering each key's owners
    // from the last: a sort of the staged owners alone, which needs no statistics of the table.
    // The statistics of the key tell the server that the staged owners are many: it then looks up
    // the rows they replace in one pass rather than one index search per owner.
    return run(QStringLiteral("analyze iccard_import (CardNo, DongHao, DanYuan)")) &&
           run(QStringLiteral("delete from UserInfo u using iccard_import s where ") +
               sameKey.arg(QStringLiteral("u"), QStringLiteral("s"))) &&
           run(QStringLiteral("insert into UserInfo (%1) select %1 from (select *, row_number() over "
                              "(partition by CardNo, DongHao, DanYuan order by ord desc) as later from "
                              "iccard_import) s where later = 1 order by ord")
                   .arg(columns)) &&
           run(QStringLiteral("drop table iccard_import"));
}

int Tdm::FindUserByCardID(const QString& cardId)
{
    dsTemp.Open(QStringLiteral("select * from UserInfo where CardID=:CardID"),
                {{QStringLiteral("CardID"), TextValue(cardId)}});
    return dsTemp.Eof() ? -1 : FieldAsInt(dsTemp, QStringLiteral("idx"));
}

bool Tdm::CardNoExists(const QString& cardNo)
{
    dsTemp.Open(QStringLiteral("select * from UserInfo where CardNo=:CardNo"),
                {{QStringLiteral("CardNo"), TextValue(cardNo)}});
    return !dsTemp.Eof();
}

int Tdm::FindUserIdx(const TuserInfoRec& rec)
{
    // The newest matching row: the one an insert has just made.
    dsTemp.Open(
        QStringLiteral("select * from UserInfo where UserName=:UserName and CardNo = :CardNo and "
                       "DongHao = :DongHao and DanYuan = :DanYuan and FangHao = :FangHao order by idx desc"),
        {{QStringLiteral("UserName"), TextValue(rec.UserName)},
         {QStringLiteral("CardNo"), TextValue(rec.CardNo)},
         {QStringLiteral("DongHao"), rec.DongHao},
         {QStringLiteral("DanYuan"), rec.DanYuan},
         {QStringLiteral("FangHao"), TextValue(rec.FangHao)}});
    if (dsTemp.Eof())
        throw OperationError(QStringLiteral("找不到业主记录（姓名 %1，卡编号 %2，%3栋%4单元%5房）")
                                 .arg(rec.UserName, rec.CardNo)
                                 .arg(rec.DongHao)
                                 .arg(rec.DanYuan)
                                 .arg(rec.FangHao));
    return FieldAsInt(dsTemp, QStringLiteral("idx"));
}

TBuildTreeNode Tdm::FillBuildTree()
{
    TBuildTreeNode root{QString::fromUtf8(BuildTreeRootText), BuildTreeRootImage, {}};
    // Every unit in one statement, in the order of the tree (a statement per building costs a
    // round trip each on a server: a community has hundreds of buildings).
    dsCom1.Open(QStringLiteral("select DongHao,DanYuan,DanYuanName from BuildInfo order by DongHao,DanYuan"));
    bool first = true;
    QVariant building;
    while (!dsCom1.Eof()) {
        const QVariant dongHao = dsCom1.Field(QStringLiteral("DongHao"));
        if (first || dongHao != building) {
            root.Children.push_back(
                {FieldAsText(dsCom1, QStringLiteral("DongHao")), BuildTreeBuildingImage, {}});
            building = dongHao;
            first = false;
        }
        // A unit without a building number is under no building (its building node stays empty).
        if (!dongHao.isNull()) {
            root.Children.back().Children.push_back(
                {FieldAsText(dsCom1, QStringLiteral("DanYuan")) + QStringLiteral(" - [") +
                     FieldAsText(dsCom1, QStringLiteral("DanYuanName")) + QStringLiteral("]"),
                 BuildTreeUnitImage,
                 {}});
        }
        dsCom1.Next();
    }
    return root;
}

void Tdm::beginLevel(bool allOrNothing)
{
    m_beginError = TSqlFailure{};
    QSqlDatabase db = database();
    const QString savepoint = QStringLiteral("iccard_change_%1").arg(m_levels.size() + 1);
    QSqlQuery q(db);
    // The outermost change is a transaction. On the file it takes the write lock at once, so that
    // a second program on the file waits for it rather than failing half-way.
    const QString begin =
        !m_levels.empty() ? QStringLiteral("SAVEPOINT ") + savepoint : EngineFor(m_target).BeginStatement();
    if (!q.exec(begin)) {
        m_beginError = FailureOf(*this, q.lastError());
        throw OperationError(q.lastError().text());
    }
    m_levels.push_back({savepoint, allOrNothing, false});
}

bool Tdm::endLevel(bool keep, TSqlFailure* refusal)
{
    const Level level = m_levels.back();
    m_levels.pop_back();
    if (!con1.isOpen())
        return false;
    const bool outermost = m_levels.empty();
    QSqlQuery q(con1);
    keep = keep && !level.failed;
    if (keep && q.exec(outermost ? QStringLiteral("COMMIT") : QStringLiteral("RELEASE ") + level.savepoint))
        return true;
    QString refused;
    if (keep) { // the engine would not keep it (a full disk, say): say so once, and undo it all
        refused = q.lastError().text();
        if (refusal) {
            *refusal = FailureOf(*this, q.lastError()); // read now, before the rollback's own errors
            refused.clear();                            // the caller says it
            markFailed();
        }
    }
    if (outermost) {
        q.exec(QStringLiteral("ROLLBACK"));
    } else if (!q.exec(QStringLiteral("ROLLBACK TO ") + level.savepoint) ||
               !q.exec(QStringLiteral("RELEASE ") + level.savepoint)) {
        markFailed();
    }
    if (!refused.isEmpty()) {
        ShowError(QStringLiteral("执行错误：提交更改失败（%1）").arg(refused));
        markFailed();
    } else if (level.allOrNothing) {
        markFailed(); // the change that holds this one failed with it
    }
    return false;
}

void Tdm::markFailed()
{
    // The innermost changes fail, up to the first batch, which goes on with its next statement.
    for (auto it = m_levels.rbegin(); it != m_levels.rend() && it->allOrNothing; ++it)
        it->failed = true;
}

bool Tdm::inFailedChange() const
{
    return !m_levels.empty() && m_levels.back().failed;
}

bool Tdm::BeginBatch(TSqlFailure* failure)
{
    try {
        beginLevel(false);
        return true;
    } catch (const OperationError& e) {
        if (failure) {
            *failure = m_beginError;
            if (failure->detail.isEmpty())
                failure->detail = e.message();
        }
        return false;
    }
}

bool Tdm::CommitBatch(TSqlFailure* failure)
{
    if (m_levels.empty() || m_levels.back().allOrNothing)
        return false;
    return endLevel(true, failure);
}

void Tdm::UndoBatch()
{
    if (!m_levels.empty() && !m_levels.back().allOrNothing)
        endLevel(false);
}

TTransaction::TTransaction(Tdm& module) : m_dm(module)
{
    m_dm.beginLevel(true);
}

TTransaction::TTransaction() : TTransaction(*dm) {}

TTransaction::~TTransaction()
{
    if (m_open)
        m_dm.endLevel(false);
}

bool TTransaction::Commit()
{
    if (!m_open)
        return false;
    m_open = false;
    return m_dm.endLevel(true);
}
