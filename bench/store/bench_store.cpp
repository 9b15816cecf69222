// Fills a database the size of a large community (100,000 owners in 200 buildings of 10 units,
// 255 terminals) and times each record operation the windows use at that size.
// Usage: bench_store [folder]   (a temporary folder when none is given)

#include "store/AppPath.h"
#include "store/DM.h"
#include "store/TvexUserInfo.h"

#include "cards/Digits.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr int Owners = 100000;
constexpr int Buildings = 200;
constexpr int UnitsPerBuilding = 10;
constexpr int Terminals = 255;

QTextStream out(stdout);

QString cardNo(int i)
{
    return QStringLiteral("C%1").arg(i, 8, 10, QLatin1Char('0'));
}

QString userName(int i)
{
    return QStringLiteral("业主%1").arg(i);
}

bool fill(std::mt19937& rng)
{
    QSqlDatabase db = dm->database();
    QSqlQuery q(db);
    if (!db.transaction())
        return false;
    if (!q.prepare(QStringLiteral(
            "insert into BuildInfo (DongHao, DanYuan, DanYuanName, selFlag) values (?, ?, ?, 0)")))
        return false;
    for (int b = 1; b <= Buildings; ++b) {
        for (int u = 1; u <= UnitsPerBuilding; ++u) {
            q.addBindValue(b);
            q.addBindValue(u);
            q.addBindValue(QStringLiteral("%1号楼%2单元").arg(b).arg(u));
            if (!q.exec())
                return false;
        }
    }
    if (!q.prepare(QStringLiteral("insert into TerminalInfo (TerminalID, TerminalName, Remark, selFlag) "
                                  "values (?, ?, '', 0)")))
        return false;
    for (int t = 0; t < Terminals; ++t) {
        q.addBindValue(t);
        q.addBindValue(QStringLiteral("门禁%1").arg(t));
        if (!q.exec())
            return false;
    }
    if (!q.prepare(QStringLiteral(
            "insert into UserInfo (CardID, CardNo, UserName, BuildName, DongHao, DanYuan, UserType, FangHao, "
            "Sex, "
            "Expdate, BlackCard, phone, Remark, IsSelect, VaildTerminal, IsUseExpDate, ExtName, chLoss, "
            "chUseExpdate, selFlag) values (?, ?, ?, '', ?, ?, '用户卡', ?, '男', '2026-12-31', 0, "
            "'13800000000', '', 0, ?, 1, '', '', '是', 0)")))
        return false;
    std::uniform_int_distribution<int> byte(0, 255);
    const int perUnit = Owners / (Buildings * UnitsPerBuilding);
    for (int i = 0; i < Owners; ++i) {
        const int unitIndex = i / perUnit;
        QByteArray bitmap(32, '\0');
        for (char& c : bitmap)
            c = char(byte(rng));
        q.addBindValue(PadNumber(100000000 + i, 10));
        q.addBindValue(cardNo(i));
        q.addBindValue(userName(i));
        q.addBindValue(unitIndex / UnitsPerBuilding + 1);
        q.addBindValue(unitIndex % UnitsPerBuilding + 1);
        q.addBindValue(QStringLiteral("%1").arg(i % perUnit + 101, 4, 10, QLatin1Char('0')));
        q.addBindValue(bitmap);
        if (!q.exec()) {
            out << q.lastError().text() << Qt::endl;
            return false;
        }
    }
    q.finish();
    return db.commit();
}

struct Figure {
    double median;
    double p95;
    double worst;
};

// Runs op n times and gives the times in microseconds.
Figure time(int n, const std::function<void(int)>& op)
{
    std::vector<double> us;
    us.reserve(size_t(n));
    QElapsedTimer t;
    for (int i = 0; i < n; ++i) {
        t.start();
        op(i);
        us.push_back(double(t.nsecsElapsed()) / 1000.0);
    }
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 95 / 100)], us.back()};
}

void report(const QString& name, int n, const Figure& f)
{
    out << QStringLiteral("%1 %2 %3 %4 %5")
               .arg(name, -58)
               .arg(n, 6)
               .arg(f.median, 10, 'f', 1)
               .arg(f.p95, 10, 'f', 1)
               .arg(f.worst, 10, 'f', 1)
        << Qt::endl;
}

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
    dm->dsCom1.Open(QStringLiteral("select * from UserInfo where 1=1") + filter +
                    QStringLiteral(" order by DongHao,DanYuan"));
    for (int row = 0; row < 100 && !dm->dsCom1.Eof(); ++row) {
        for (const char* c : {"idx", "selFlag", "CardNo", "chLoss", "CardID", "DongHao", "DanYuan", "FangHao",
                              "UserName", "Sex", "chUseExpdate", "ExpDate", "Phone", "Remark"})
            dm->dsCom1.Field(QLatin1String(c));
        dm->dsCom1.Next();
    }
    dm->dsCom1.RecordCount();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    SetAppPath(argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path());
    QFile::remove(Tdm::DatabasePath());
    dm = new Tdm;
    std::mt19937 rng(20240305);

    QElapsedTimer total;
    total.start();
    if (!fill(rng)) {
        out << "filling the database failed" << Qt::endl;
        return 1;
    }
    out << QStringLiteral("database: %1 owners, %2 units, %3 terminals in %4; filled in %5 ms, %6 MB")
               .arg(Owners)
               .arg(Buildings * UnitsPerBuilding)
               .arg(Terminals)
               .arg(Tdm::DatabasePath())
               .arg(total.elapsed())
               .arg(double(QFileInfo(Tdm::DatabasePath()).size()) / 1048576.0, 0, 'f', 1)
        << Qt::endl;
    out << QStringLiteral("%1 %2 %3 %4 %5")
               .arg(QStringLiteral("operation (times in microseconds)"), -58)
               .arg(QStringLiteral("runs"), 6)
               .arg(QStringLiteral("median"), 10)
               .arg(QStringLiteral("p95"), 10)
               .arg(QStringLiteral("worst"), 10)
        << Qt::endl;

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
           time(n, [&](int i) { dm->LoadUserInfoByIdx(keys[size_t(i)] + 1, rec); }));
    report(QStringLiteral("LoadUserInfoByIdx (0: newest row, all rows counted)"), 200,
           time(200, [&](int) { dm->LoadUserInfoByIdx(0, rec); }));
    report(QStringLiteral("LoadUserInfoByCardNo"), n,
           time(n, [&](int i) { dm->LoadUserInfoByCardNo(cardNo(keys[size_t(i)]), rec); }));
    report(QStringLiteral("LoadUserInfoByName"), n,
           time(n, [&](int i) { dm->LoadUserInfoByName(userName(keys[size_t(i)]), rec); }));
    report(QStringLiteral("FindUserByCardID (found)"), n,
           time(n, [&](int i) { dm->FindUserByCardID(PadNumber(100000000 + keys[size_t(i)], 10)); }));
    report(QStringLiteral("FindUserByCardID (not found)"), n,
           time(n, [&](int i) { dm->FindUserByCardID(PadNumber(keys[size_t(i)], 10)); }));
    report(QStringLiteral("CardNoExists"), n,
           time(n, [&](int i) { dm->CardNoExists(cardNo(keys[size_t(i)])); }));
    report(QStringLiteral("FindUserIdx"), n, time(n, [&](int i) {
               TuserInfoRec r;
               const int k = keys[size_t(i)];
               const int perUnit = Owners / (Buildings * UnitsPerBuilding);
               r.UserName = userName(k);
               r.CardNo = cardNo(k);
               r.DongHao = k / perUnit / UnitsPerBuilding + 1;
               r.DanYuan = k / perUnit % UnitsPerBuilding + 1;
               r.FangHao = QStringLiteral("%1").arg(k % perUnit + 101, 4, 10, QLatin1Char('0'));
               dm->FindUserIdx(r);
           }));
    report(QStringLiteral("IsSelected"), n,
           time(n, [&](int i) { TvexUserInfo::IsSelected(keys[size_t(i)] + 1); }));
    report(QStringLiteral("SetUserCardID (committed, synced to disk)"), 500,
           time(500, [&](int i) { dm->SetUserCardID(keys[size_t(i)] + 1, PadNumber(200000000 + i, 10)); }));
    {
        // The same statement without the sync at commit, to show what the disk costs.
        QSqlQuery q(dm->database());
        q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        report(
            QStringLiteral("SetUserCardID (for comparison: no sync at commit)"), 500,
            time(500, [&](int i) { dm->SetUserCardID(keys[size_t(i)] + 1, PadNumber(300000000 + i, 10)); }));
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
           time(50, [&](int) { dm->FillBuildTree(); }));
    report(QStringLiteral("SelectNone (owner list opening, nothing marked)"), 50,
           time(50, [&](int) { TvexUserInfo::SelectNone(); }));
    TvexUserInfo::SetSelected(5, 1);
    report(QStringLiteral("SelectNone (one owner marked)"), 50, time(50, [&](int) {
               TvexUserInfo::SetSelected(5, 1);
               TvexUserInfo::SelectNone();
           }));

    report(QStringLiteral("InsertUserInfo, one commit each"), 200,
           time(200, [&](int i) { dm->InsertUserInfo(imported(Owners + i), InsertEntry::Import); }));
    QElapsedTimer batch;
    batch.start();
    dm->BeginBatch();
    for (int i = 0; i < 1000; ++i)
        dm->InsertUserInfo(imported(Owners + 1000 + i), InsertEntry::Import);
    dm->CommitBatch();
    out << QStringLiteral("InsertUserInfo, 1,000 in one batch: %1 ms in all").arg(batch.elapsed())
        << Qt::endl;

    delete dm;
    return 0;
}
