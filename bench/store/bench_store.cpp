// Fills a database the size of a large community (100,000 owners in 200 buildings of 10 units,
// 255 terminals) and times each record operation the windows use at that size.
// Usage: bench_store [folder]   (a temporary folder when none is given)

#include "BenchData.h"

#include "store/AppPath.h"
#include "store/BuildTree.h"
#include "store/CardOwners.h"
#include "store/DM.h"
#include "store/DbMaintenance.h"
#include "store/FirstSteps.h"
#include "store/OwnerStatements.h"
#include "store/TvexUserInfo.h"

#include "cards/Digits.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <vector>

using namespace bench;

namespace {

TuserInfoRec imported(int i)
{
    TuserInfoRec r;
    r.UserName = userName(i);
    r.CardNo = cardNo(i);
    return r;
}

// The owner list (its query to its first 100 rows, every column read, and its count).
void ownerList(const QString& filter)
{
    DataSet list(*dm, QStringLiteral("list"));
    list.Open(QStringLiteral("select * from UserInfo where 1=1") + filter +
              QStringLiteral(" order by DongHao,DanYuan"));
    for (int row = 0; row < 100 && !list.Eof(); ++row) {
        for (const char* c : {"idx", "selFlag", "CardNo", "chLoss", "CardID", "DongHao", "DanYuan", "FangHao",
                              "UserName", "Sex", "chUseExpdate", "ExpDate", "Phone", "Remark"})
            list.Field(QLatin1String(c));
        list.Next();
    }
    list.RecordCount();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    if (!setUp(argc, argv, temp.path()))
        return 1;
    std::mt19937 rng(20240306);

    std::uniform_int_distribution<int> anyOwner(0, Owners - 1);
    std::vector<int> keys(2000);
    for (int& k : keys)
        k = anyOwner(rng);
    const int n = int(keys.size());
    TuserInfoRec rec;
    QByteArray photo;
    QByteArray terminals;
    rec.PhotoStream = &photo;
    rec.TerminalStream = &terminals;

    report(QStringLiteral("LoadUserInfoByIdx (a key)"), n,
           time(n, [&](int i) { LoadUserInfoByIdx(*dm, keys[size_t(i)] + 1, rec); }));
    report(QStringLiteral("LoadUserInfoByIdx (0: newest row, all rows counted)"), 200,
           time(200, [&](int) { LoadUserInfoByIdx(*dm, 0, rec); }));
    report(QStringLiteral("LoadUserInfoByCardNo"), n,
           time(n, [&](int i) { LoadUserInfoByCardNo(*dm, cardNo(keys[size_t(i)]), rec); }));
    report(QStringLiteral("LoadUserInfoByName"), n,
           time(n, [&](int i) { LoadUserInfoByName(*dm, userName(keys[size_t(i)]), rec); }));
    report(QStringLiteral("FindUserByCardID (found)"), n,
           time(n, [&](int i) { FindUserByCardID(*dm, cardSerial(keys[size_t(i)])); }));
    report(QStringLiteral("FindUserByCardID (not found)"), n,
           time(n, [&](int i) { FindUserByCardID(*dm, PadNumber(keys[size_t(i)], 10)); }));
    report(
        QStringLiteral("owner list, card number search, serial typed unsigned"), 200, time(200, [&](int i) {
            const CardCondition card = CardSearchCondition(UnsignedSerialText(100000000 + keys[size_t(i)]));
            DataSet list(*dm, QStringLiteral("list"));
            list.Open(QStringLiteral("select * from UserInfo where 1=1 and ") + card.text +
                          QStringLiteral(" order by DongHao,DanYuan"),
                      card.params);
            list.RecordCount();
        }));
    // A blacklist card read back: the owners of its 10 entries, by the low 24 bits of their serials.
    report(QStringLiteral("OwnersBySerial24 (blacklist card listing, 10 entries)"), 20, time(20, [&](int i) {
               QList<uint32_t> entries;
               for (int e = 0; e < 10; ++e)
                   entries << (uint32_t(100000000 + keys[size_t(i * 10 + e)]) & 0xFFFFFF);
               if (OwnersBySerial24(entries).size() != QSet<uint32_t>(entries.begin(), entries.end()).size())
                   out() << "OwnersBySerial24: an entry without its owner" << Qt::endl;
           }));
    report(QStringLiteral("CardNoExists"), n,
           time(n, [&](int i) { CardNoExists(*dm, cardNo(keys[size_t(i)])); }));
    report(QStringLiteral("FindUserIdx"), n, time(n, [&](int i) {
               TuserInfoRec r;
               const int k = keys[size_t(i)];
               r.UserName = userName(k);
               r.CardNo = cardNo(k);
               r.DongHao = k / OwnersPerUnit / UnitsPerBuilding + 1;
               r.DanYuan = k / OwnersPerUnit % UnitsPerBuilding + 1;
               r.FangHao = room(k);
               FindUserIdx(*dm, r);
           }));
    report(QStringLiteral("IsSelected"), n,
           time(n, [&](int i) { TvexUserInfo::IsSelected(keys[size_t(i)] + 1); }));
    report(QStringLiteral("SetUserCardID (committed, synced to disk)"), 500,
           time(500, [&](int i) { SetUserCardID(*dm, keys[size_t(i)] + 1, PadNumber(200000000 + i, 10)); }));
    {
        // The same statement without the sync at commit, to show what the disk costs.
        QSqlQuery q(dm->database());
        q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        report(
            QStringLiteral("SetUserCardID (for comparison: no sync at commit)"), 500,
            time(500, [&](int i) { SetUserCardID(*dm, keys[size_t(i)] + 1, PadNumber(300000000 + i, 10)); }));
        q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
    }
    report(QStringLiteral("owner list, all owners: first 100 rows + count"), 50,
           time(50, [&](int) { ownerList(QString()); }));
    report(QStringLiteral("owner list, one unit (tree click): first 100 rows + count"), 200,
           time(200, [&](int i) {
               ownerList(
                   QStringLiteral(" and DongHao=%1 and DanYuan=%2").arg(i % Buildings + 1).arg(i % 10 + 1));
           }));
    report(QStringLiteral("owner list, search by name: first 100 rows + count"), 200, time(200, [&](int i) {
               ownerList(QStringLiteral(" and UserName='%1'").arg(userName(keys[size_t(i)])));
           }));
    report(QStringLiteral("FillBuildTree (200 buildings, 2,000 units)"), 50,
           time(50, [&](int) { FillBuildTree(*dm); }));
    report(QStringLiteral("SelectNone (owner list opening, nothing marked)"), 50,
           time(50, [&](int) { TvexUserInfo::SelectNone(); }));
    TvexUserInfo::SetSelected(5, 1);
    report(QStringLiteral("SelectNone (one owner marked)"), 50, time(50, [&](int) {
               TvexUserInfo::SetSelected(5, 1);
               TvexUserInfo::SelectNone();
           }));

    report(QStringLiteral("InsertUserInfo, one commit each"), 200,
           time(200, [&](int i) { InsertUserInfo(*dm, imported(Owners + i), InsertEntry::Import); }));
    QElapsedTimer batch;
    batch.start();
    dm->BeginBatch();
    for (int i = 0; i < 1000; ++i)
        InsertUserInfo(*dm, imported(Owners + 1000 + i), InsertEntry::Import);
    dm->CommitBatch();
    out() << QStringLiteral("InsertUserInfo, 1,000 in one batch: %1 ms in all").arg(batch.elapsed())
          << Qt::endl;

    if (!dm->IsServer()) {
        // The whole community backed up and restored. A restore holds the database's write lock for
        // nearly all of its time: another program's change waits that long (up to its busy timeout).
        const QString backup = AppPath + QStringLiteral("bench.bak");
        report(QStringLiteral("BackupDatabaseTo (the whole community)"), 3,
               time(3, [&](int) { BackupDatabaseTo(backup); }));
        report(QStringLiteral("RestoreDatabase of it (whole check, kept copy, rows)"), 3, time(3, [&](int) {
                   if (!RestoreDatabase(backup).ok)
                       qFatal("the restore failed");
               }));
    }

    // The main window's first steps, read after every window it opened closes: owners with cards,
    // and (the case that could read through the index) 100,000 owners of whom none holds a card.
    report(QStringLiteral("ReadFirstSteps (owners hold cards)"), 200,
           time(200, [&](int) { ReadFirstSteps(*dm); }));
    dm->ExecuteSQL(QStringLiteral("update UserInfo set CardID = null"));
    report(QStringLiteral("ReadFirstSteps (no owner holds a card)"), 200,
           time(200, [&](int) { ReadFirstSteps(*dm); }));

    delete dm;
    return 0;
}
