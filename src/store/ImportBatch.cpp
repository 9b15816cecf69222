#include "ImportBatch.h"

#include "DM.h"
#include "Dialogs.h"
#include "OperationError.h"
#include "OwnerStatements.h"
#include "Prepared.h"
#include "Values.h"
#include "engine/Engine.h"

#include <QSqlQuery>

ImportBatch::ImportBatch(Tdm& module) : m_dm(module)
{
    module.database();
    if (module.SqlEngine().ImportsByCopy())
        return; // the owners go to the server with COPY at each commit
    prepareStatements();
    // A commit of many owners touches many pages of the four indexes; with the engine's default
    // cache of 2 MB it writes them out and reads them back again and again.
    QSqlQuery q(module.database());
    if (q.exec(QStringLiteral("PRAGMA cache_size")) && q.next())
        m_cacheSize = q.value(0).toInt();
    q.exec(QStringLiteral("PRAGMA cache_size = -32768"));
}

ImportBatch::~ImportBatch()
{
    m_copy.reset();
    if (m_open)
        m_dm.UndoBatch();
    if (m_dm.IsOpen() && !m_dm.SqlEngine().ImportsByCopy()) {
        QSqlQuery q(m_dm.CurrentConnection());
        q.exec(QStringLiteral("PRAGMA cache_size = %1").arg(m_cacheSize));
    }
}

void ImportBatch::prepareStatements()
{
    if (m_delete)
        return;
    m_delete = std::make_unique<PreparedStatement>(m_dm, ImportDeleteStatement(m_dm));
    m_insert = std::make_unique<PreparedStatement>(m_dm, InsertUserInfoStatement());
    m_delete->Name({QStringLiteral("CardNo"), QStringLiteral("DongHao"), QStringLiteral("DanYuan")});
    // The insert takes the values InsertUserInfo gives it, picked from the same list by position.
    const SqlParams all = OwnerRecordParams(TuserInfoRec(), QByteArray());
    const QStringList names = StatementParameters(InsertUserInfoStatement());
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

bool ImportBatch::begin(bool copying)
{
    if (m_open)
        return true;
    SqlFailure why;
    if (!m_dm.BeginBatch(&why))
        return stop(why);
    m_open = true;
    // Read under the batch's lock: the rows above it are the ones this commit adds.
    PreparedStatement last(m_dm, NewestOwnerStatement());
    try {
        m_lastIdx = last.Next() ? last.Int(0) : 0;
        last.Reset(); // the connection free for the copy
    } catch (const OperationError&) {
        return stop(last.Failure());
    }
    if (copying && m_dm.SqlEngine().ImportsByCopy()) {
        m_copy = m_dm.SqlEngine().BeginOwnerCopy(m_dm.database(), m_lastIdx, why);
        if (!m_copy)
            return stop(why);
    }
    m_pending.reserve(1024);
    // As many as the last commit had, so that the set is not grown step by step again.
    m_serials.reserve(qsizetype(m_pending.capacity()));
    return true;
}

PreparedStatement* ImportBatch::write(const TuserInfoRec& rec)
{
    // The values InsertUserInfo and ImportDeleteParams give, bound one by one without a list of
    // variants per owner: a community's file has a hundred thousand of them.
    m_delete->BindTextAt(0, rec.CardNo);
    m_delete->BindIntAt(1, rec.DongHao);
    m_delete->BindIntAt(2, rec.DanYuan);
    if (!m_delete->Exec())
        return m_delete.get();
    for (int i = 0; i < int(m_positions.size()); ++i) {
        // By the value's place in the list OwnerRecordParams gives.
        switch (m_positions[size_t(i)]) {
        case 0:
            m_insert->BindTextAt(i, rec.CardID);
            break;
        case 1:
            m_insert->BindTextAt(i, rec.CardNo);
            break;
        case 2:
            m_insert->BindTextAt(i, rec.UserName);
            break;
        case 3:
            m_insert->BindTextAt(i, rec.BuildName);
            break;
        case 4:
            m_insert->BindIntAt(i, rec.DongHao);
            break;
        case 5:
            m_insert->BindIntAt(i, rec.DanYuan);
            break;
        case 6:
            m_insert->BindTextAt(i, rec.UserType);
            break;
        case 7:
            m_insert->BindTextAt(i, rec.FangHao);
            break;
        case 8:
            m_insert->BindTextAt(i, rec.Sex);
            break;
        case 9:
            m_insert->BindAt(i, StoredDateText(rec.ExpDate));
            break;
        case 10:
            m_insert->BindAt(i, rec.BlackCard);
            break;
        case 11:
            m_insert->BindTextAt(i, rec.Phone);
            break;
        case 12:
            m_insert->BindTextAt(i, rec.Remark);
            break;
        case 13:
            m_insert->BindAt(i, false);
            break; // IsSelect
        case 14:
            // The bitmap is bound from the record itself, which outlives the statement's run.
            m_insert->BindAt(i,
                             QByteArray::fromRawData(reinterpret_cast<const char*>(rec.VaildTerminal.data()),
                                                     qsizetype(rec.VaildTerminal.size())));
            break;
        case 15:
            m_insert->BindAt(i, rec.IsUseExpDate);
            break;
        case 16:
            m_insert->BindTextAt(i, rec.ExtName);
            break;
        case 17:
            m_insert->BindTextAt(i, rec.chLoss);
            break;
        case 18:
            m_insert->BindTextAt(i, rec.chUseExpdate);
            break;
        default:
            m_insert->BindIntAt(i, rec.idx);
            break;
        }
    }
    return m_insert->Exec() ? nullptr : m_insert.get();
}

bool ImportBatch::stop(const SqlFailure& why)
{
    m_copy.reset();
    m_stopReason = why.Describe();
    if (m_stopReason.isEmpty())
        m_stopReason = QStringLiteral("数据库出错");
    if (m_open)
        m_dm.UndoBatch();
    m_open = false;
    m_broken = true;
    m_replay = false;
    m_pending.clear();
    m_serials.clear();
    m_serialTwice = false;
    return false;
}

void ImportBatch::reportRefused(const TuserInfoRec& rec, const PreparedStatement* failed)
{
    if (failed == m_insert.get()) {
        ShowError(QStringLiteral("执行错误：") + InsertUserInfoStatement());
        return;
    }
    // The values as the operator can read them: a card number of megabytes is cut short.
    SqlParams shown = ImportDeleteParams(rec);
    shown[0].second = TextValue(Abridged(rec.CardNo));
    ShowError(QStringLiteral("执行错误：") + StatementWithValues(ImportDeleteStatement(m_dm), shown));
}

bool ImportBatch::Add(const TuserInfoRec& rec)
{
    if (m_broken || !begin())
        return false;
    m_pending.push_back(rec);
    if (!rec.CardID.isEmpty() && !m_serialTwice) {
        const auto size = m_serials.size();
        m_serials.insert(rec.CardID.toUpper());
        m_serialTwice = m_serials.size() == size;
    }
    if (m_copy) {
        if (m_copy->Add(rec))
            return true;
        SqlFailure why;
        m_copy->Finish(why);
        return stop(why);
    }
    if (m_dm.SqlEngine().ImportsByCopy() || m_replay)
        return true; // done one by one at the commit
    const PreparedStatement* failed = write(rec);
    if (!failed)
        return true;
    const SqlFailure why = failed->Failure();
    if (!why.aboutTheRow || !failed->InTransaction())
        return stop(why); // the database's trouble, not the owner's: the run ends here
    // Refused for its own values, the rest of the batch still there: the owners since the last
    // commit are done again one by one when it is committed, so that this one alone is left out
    // and reported.
    m_replay = true;
    return true;
}

bool ImportBatch::replay()
{
    prepareStatements();
    PreparedStatement save(m_dm, QStringLiteral("SAVEPOINT iccard_owner"));
    PreparedStatement keep(m_dm, QStringLiteral("RELEASE SAVEPOINT iccard_owner"));
    PreparedStatement undo(m_dm, QStringLiteral("ROLLBACK TO SAVEPOINT iccard_owner"));
    for (const TuserInfoRec& rec : m_pending) {
        if (!save.Exec())
            return stop(save.Failure());
        PreparedStatement* failed = write(rec);
        if (!failed) {
            if (!keep.Exec())
                return stop(keep.Failure());
            continue;
        }
        const SqlFailure why = failed->Failure();
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

bool ImportBatch::Commit()
{
    if (m_broken)
        return false;
    if (!m_open)
        return true;
    bool holdersCleared = false; // the copy took the serials from the owners before it
    if (m_copy) {
        SqlFailure why;
        holdersCleared = m_copy->Finish(why);
        m_copy.reset();
        if (!holdersCleared) {
            if (!why.aboutTheRow)
                return stop(why);
            m_replay = true; // a line the server refused: the owners one by one, as on the file
        }
    }
    if (m_replay) {
        m_dm.UndoBatch();
        m_open = false;
        m_replay = false;
        holdersCleared = false;
        if (!begin(false) || !replay())
            return false;
    }
    // The serials the commit's owners bring are theirs alone, in the same commit.
    for (const QString* sql : {holdersCleared ? nullptr : &ClearOtherHoldersStatement(),
                               m_serialTwice ? &ClearEarlierImportedStatement() : nullptr}) {
        if (!sql)
            continue;
        PreparedStatement clear(m_dm, *sql);
        clear.Bind({{QStringLiteral("from"), m_lastIdx}});
        if (!clear.Exec())
            return stop(clear.Failure());
    }
    m_open = false;
    m_pending.clear();
    m_serials.clear();
    m_serialTwice = false;
    SqlFailure why;
    if (m_dm.CommitBatch(&why))
        return true;
    return stop(why);
}
