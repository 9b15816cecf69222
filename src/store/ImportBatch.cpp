#include "ImportBatch.h"

#include "DM.h"
#include "Dialogs.h"
#include "OperationError.h"
#include "OwnerStatements.h"
#include "Prepared.h"
#include "Values.h"
#include "engine/Engine.h"

#include <QSqlQuery>
#include <algorithm>
#include <utility>

namespace {

// The texts a pending owner keeps, in order.
constexpr QString TuserInfoRec::*KeptTextFields[ImportBatch::KeptTexts] = {
    &TuserInfoRec::FangHao,  &TuserInfoRec::UserName, &TuserInfoRec::Remark,   &TuserInfoRec::Sex,
    &TuserInfoRec::Phone,    &TuserInfoRec::CardID,   &TuserInfoRec::UserType, &TuserInfoRec::BuildName,
    &TuserInfoRec::IsSelect, &TuserInfoRec::ExtName,  &TuserInfoRec::chLoss,   &TuserInfoRec::chUseExpdate,
    &TuserInfoRec::CardNo};

constexpr quint64 HashBasis = 0xcbf29ce484222325ULL;
constexpr quint64 HashPrime = 0x100000001b3ULL;

// Adds a text to a hash as the database compares it, ASCII letters without case (the file's
// NOCASE); false for a text with any other character, which a server compares by its own locale.
bool fold(quint64& h, QStringView text)
{
    for (const QChar ch : text) {
        char16_t u = ch.unicode();
        if (u >= 0x80)
            return false;
        if (u >= u'a' && u <= u'z')
            u = char16_t(u - (u'a' - u'A'));
        h = (h ^ u) * HashPrime;
    }
    h = (h ^ 0x10000) * HashPrime; // the end of the text
    return true;
}

// A serial's hash: two serials have the same when they are the same in upper case (ASCII letters
// folded without a copy of the text).
quint64 serialHash(const QString& serial, bool& ascii)
{
    quint64 h = HashBasis;
    ascii = fold(h, serial);
    if (!ascii) {
        h = HashBasis;
        for (const QChar ch : serial.toUpper())
            h = (h ^ ch.unicode()) * HashPrime;
        h = (h ^ 0x10000) * HashPrime;
    }
    return h;
}

quint64 mix(quint64 h, quint64 value)
{
    h ^= value + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    h ^= h >> 31;
    h *= 0xbf58476d1ce4e5b9ULL;
    return h ^ (h >> 29);
}

} // namespace

ImportBatch::ImportBatch(Tdm& module, int expectedOwners) : m_dm(module)
{
    module.database();
    m_keys.Reserve(size_t(std::max(expectedOwners, 0)));
    m_serials.Reserve(size_t(std::max(expectedOwners, 0)));
    if (module.SqlEngine().ImportsByCopy())
        return; // the owners go to the server with COPY at each commit
    prepareStatements();
    // A commit of many owners touches many pages of the four indexes; with the engine's default
    // cache of 2 MB it writes them out and reads them back again and again.
    QSqlQuery q(module.database());
    if (q.exec(QStringLiteral("PRAGMA cache_size")) && q.next())
        m_cacheSize = q.value(0).toInt();
    setCache(ReplacingCache);
}

void ImportBatch::setCache(int size)
{
    if (size == m_cacheSet)
        return;
    QSqlQuery q(m_dm.database());
    if (q.exec(QStringLiteral("PRAGMA cache_size = %1").arg(size)))
        m_cacheSet = size;
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
    if (copying)
        ++m_commits;
    m_run.current.clear();
    // Read under the batch's lock: the rows above it are the ones this commit adds.
    PreparedStatement last(m_dm, NewestOwnerStatement());
    try {
        m_lastIdx = last.Next() ? last.Int(0) : 0;
        last.Reset(); // the connection free for the copy
    } catch (const OperationError&) {
        return stop(last.Failure());
    }
    if (!stillOnlyOwn(why))
        return stop(why);
    // Into a table of the run's own rows the owners are only added: the table's pages are written
    // once, and a smaller cache, whose pages are used again, costs less than taking new memory for
    // every page of the file.
    if (!m_dm.SqlEngine().ImportsByCopy())
        setCache(m_run.onlyOwn && m_ownSure ? AddingCache : ReplacingCache);
    if (copying && m_dm.SqlEngine().ImportsByCopy()) {
        m_copy = m_dm.SqlEngine().BeginOwnerCopy(m_dm.database(), m_lastIdx, m_run, why);
        if (!m_copy)
            return stop(why);
    }
    m_pending.reserve(1024);
    return true;
}

bool ImportBatch::stillOnlyOwn(SqlFailure& why)
{
    m_ownSure = true;
    if (m_commits == 1) { // the run's first commit: whether the table held no owners
        m_run.onlyOwn = false;
        if (m_lastIdx != 0)
            return true;
        PreparedStatement any(m_dm, AnyOwnerStatement());
        try {
            m_run.onlyOwn = any.Next() && any.Int(0) == 0;
            any.Reset();
        } catch (const OperationError&) {
            why = any.Failure();
            return false;
        }
        return true;
    }
    if (!m_run.onlyOwn)
        return true;
    const QString mark = m_dm.SqlEngine().ChangeMark(m_dm.database());
    if (mark.isEmpty())
        m_ownSure = false; // the engine's copy looks at the rows
    else
        m_run.onlyOwn = mark == m_mark;
    return true;
}

bool ImportBatch::noteOwner(const TuserInfoRec& rec)
{
    bool keyNew = false;
    if (m_run.onlyOwn && !m_keysUnsure) {
        quint64 h = HashBasis;
        if (fold(h, rec.CardNo))
            m_keys.Note(mix(mix(h, quint32(rec.DongHao)), quint32(rec.DanYuan)), 0, keyNew);
        else
            m_keysUnsure = true;
    }
    if (!keyNew)
        m_run.keyAgain = true;
    if (rec.CardID.isEmpty())
        return keyNew;
    bool ascii = true;
    const quint64 serial = mix(serialHash(rec.CardID, ascii), 0);
    if (!ascii)
        m_serialsUnsure = true; // a server may hold it as the same as another
    bool fresh = false;
    int& commit = m_serials.Note(serial, m_commits, fresh);
    if (!fresh) {
        if (commit == m_commits)
            m_serialTwice = true;
        else
            m_run.serialAgain = true;
        commit = m_commits;
    }
    if (m_serialsUnsure)
        m_run.serialAgain = true;
    return keyNew;
}

void ImportBatch::HashNotes::Reserve(size_t count)
{
    size_t size = 4096;
    while (size < count * 2)
        size *= 2;
    if (size <= m_slots.size())
        return;
    std::vector<Slot> old = std::exchange(m_slots, std::vector<Slot>(size));
    m_used = 0;
    for (const Slot& slot : old) {
        if (slot.hash != 0) {
            bool fresh = false;
            Note(slot.hash, slot.number, fresh);
        }
    }
}

int& ImportBatch::HashNotes::Note(quint64 hash, int number, bool& fresh)
{
    hash += hash == 0; // 0 marks a free slot
    if ((m_used + 1) * 2 > m_slots.size())
        Reserve(m_used + 1 + m_slots.size() / 2);
    const size_t mask = m_slots.size() - 1;
    for (size_t i = size_t(hash) & mask;; i = (i + 1) & mask) {
        Slot& slot = m_slots[i];
        if (slot.hash == hash) {
            fresh = false;
            return slot.number;
        }
        if (slot.hash == 0) {
            slot = {hash, number};
            ++m_used;
            fresh = true;
            return slot.number;
        }
    }
}

void ImportBatch::keep(const TuserInfoRec& rec)
{
    PendingOwner& p = m_pending.emplace_back();
    p.expiry = rec.ExpDate.toJulianDay();
    p.idx = rec.idx;
    p.DongHao = rec.DongHao;
    p.DanYuan = rec.DanYuan;
    p.IsUseExpDate = rec.IsUseExpDate;
    p.BlackCard = rec.BlackCard;
    p.VaildTerminal = rec.VaildTerminal;
    for (int i = 0; i < KeptTexts; ++i) {
        const QString& text = rec.*KeptTextFields[i];
        p.lengths[size_t(i)] = text.isNull() ? -1 : qint32(text.size());
        m_pendingTexts.insert(m_pendingTexts.end(), text.utf16(), text.utf16() + text.size());
    }
}

void ImportBatch::pendingOwner(size_t i, qsizetype& textAt, TuserInfoRec& rec) const
{
    const PendingOwner& p = m_pending[i];
    rec = TuserInfoRec();
    rec.ExpDate = QDate::fromJulianDay(p.expiry);
    rec.idx = p.idx;
    rec.DongHao = p.DongHao;
    rec.DanYuan = p.DanYuan;
    rec.IsUseExpDate = p.IsUseExpDate;
    rec.BlackCard = p.BlackCard;
    rec.VaildTerminal = p.VaildTerminal;
    for (int f = 0; f < KeptTexts; ++f) {
        const qint32 length = p.lengths[size_t(f)];
        if (length < 0)
            continue;
        rec.*KeptTextFields[f] =
            QString(reinterpret_cast<const QChar*>(m_pendingTexts.data() + textAt), length);
        textAt += length;
    }
}

PreparedStatement* ImportBatch::write(const TuserInfoRec& rec, bool replacing)
{
    // The values InsertUserInfo and ImportDeleteParams give, bound one by one without a list of
    // variants per owner: a community's file has a hundred thousand of them.
    if (replacing) {
        m_delete->BindTextAt(0, rec.CardNo);
        m_delete->BindIntAt(1, rec.DongHao);
        m_delete->BindIntAt(2, rec.DanYuan);
        if (!m_delete->Exec())
            return m_delete.get();
    }
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
    m_pendingTexts.clear();
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
    keep(rec);
    // Into a table of the run's own rows, an owner whose key no earlier owner had replaces nothing.
    const bool replacing = !noteOwner(rec) || !m_run.onlyOwn || !m_ownSure;
    if (m_copy) {
        if (m_copy->Add(rec))
            return true;
        SqlFailure why;
        m_copy->Finish(why);
        return stop(why);
    }
    if (m_dm.SqlEngine().ImportsByCopy() || m_replay)
        return true; // done one by one at the commit
    const PreparedStatement* failed = write(rec, replacing);
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
    TuserInfoRec rec;
    qsizetype textAt = 0;
    for (size_t i = 0; i < m_pending.size(); ++i) {
        pendingOwner(i, textAt, rec);
        if (!save.Exec())
            return stop(save.Failure());
        PreparedStatement* failed = write(rec, true);
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
    // The serials the commit's owners bring are theirs alone, in the same commit: only an earlier
    // commit of the run may hold them when the table held the run's rows alone.
    if (m_run.onlyOwn && m_ownSure && !m_run.serialAgain)
        holdersCleared = true;
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
    m_pendingTexts.clear();
    m_serialTwice = false;
    m_run.keyAgain = false;
    m_run.serialAgain = false;
    SqlFailure why;
    if (!m_dm.CommitBatch(&why))
        return stop(why);
    if (!m_run.current.isEmpty())
        m_run.commits << m_run.current;
    m_run.current.clear();
    if (m_run.onlyOwn)
        m_mark = m_dm.SqlEngine().ChangeMark(m_dm.database());
    return true;
}
