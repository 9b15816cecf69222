#include "BenchData.h"

#include "store/AppPath.h"
#include "store/DM.h"
#include "store/DataSet.h"

#include "cards/Digits.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <cstdlib>
#include <vector>

namespace bench {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

namespace {

DatabaseTarget s_target;

} // namespace

void takeDatabaseOption(int& argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--database") != 0)
            continue;
        if (i + 1 >= argc) {
            out() << "--database needs a URL" << Qt::endl;
            std::exit(2);
        }
        try {
            s_target = ParseDatabaseUrl(QString::fromLocal8Bit(argv[i + 1]));
        } catch (const std::exception& e) {
            out() << e.what() << Qt::endl;
            std::exit(2);
        }
        if (s_target.IsServer() && !s_target.dbname.startsWith(QLatin1String("iccard_bench"))) {
            out() << "the server's database must be one for benchmarks (iccard_bench...): its tables are "
                     "dropped"
                  << Qt::endl;
            std::exit(2);
        }
        for (int k = i; k + 2 <= argc; ++k)
            argv[k] = argv[k + 2];
        argc -= 2;
        return;
    }
}

const DatabaseTarget& target()
{
    return s_target;
}

void newDataModule()
{
    dm = s_target.IsServer() ? new Tdm(s_target) : new Tdm;
}

void newEmptyDataModule()
{
    if (!s_target.IsServer()) {
        QFile::remove(Tdm::DatabasePath());
        newDataModule();
        return;
    }
    newDataModule();
    {
        QSqlQuery q(dm->database());
        q.exec(QStringLiteral("drop schema public cascade"));
        q.exec(QStringLiteral("create schema public"));
    }
    delete dm;
    newDataModule();
    dm->database();
}

QString describeDatabase()
{
    return s_target.IsServer() ? s_target.Describe() : Tdm::DatabasePath();
}

double databaseMb()
{
    if (!s_target.IsServer())
        return double(QFileInfo(Tdm::DatabasePath()).size()) / 1048576.0;
    QSqlQuery q(dm->database());
    return q.exec(QStringLiteral("select pg_database_size(current_database())")) && q.next()
               ? q.value(0).toDouble() / 1048576.0
               : -1;
}

QString cardNo(int i)
{
    return QStringLiteral("C%1").arg(i, 8, 10, QLatin1Char('0'));
}

QString userName(int i)
{
    return QStringLiteral("业主%1").arg(i);
}

QString cardSerial(int i)
{
    return PadNumber(100000000 + i, 10);
}

QString room(int i)
{
    return QStringLiteral("%1").arg(i % OwnersPerUnit + 101, 4, 10, QLatin1Char('0'));
}

bool fill(std::mt19937& rng)
{
    QSqlDatabase db = dm->database();
    QSqlQuery q(db);
    if (!db.transaction())
        return false;
    if (!q.prepare(QStringLiteral(
                       "insert into BuildInfo (DongHao, DanYuan, DanYuanName, selFlag) values (?, ?, ?, %1)")
                       .arg(dm->BoolLiteral(false))))
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
                                  "values (?, ?, '', %1)")
                       .arg(dm->BoolLiteral(false))))
        return false;
    for (int t = 0; t < Terminals; ++t) {
        q.addBindValue(t);
        q.addBindValue(QStringLiteral("门禁%1").arg(t));
        if (!q.exec())
            return false;
    }
    if (!q.prepare(
            QStringLiteral(
                "insert into UserInfo (CardID, CardNo, UserName, BuildName, DongHao, DanYuan, UserType, "
                "FangHao, "
                "Sex, "
                "Expdate, BlackCard, phone, Remark, IsSelect, VaildTerminal, IsUseExpDate, ExtName, chLoss, "
                "chUseExpdate, selFlag) values (?, ?, ?, '', ?, ?, '用户卡', ?, '男', '2026-12-31', %1, "
                "'13800000000', '', %1, ?, %2, '', '', '是', %1)")
                .arg(dm->BoolLiteral(false), dm->BoolLiteral(true))))
        return false;
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < Owners; ++i) {
        const int unitIndex = i / OwnersPerUnit;
        QByteArray bitmap(32, '\0');
        for (char& c : bitmap)
            c = char(byte(rng));
        q.addBindValue(cardSerial(i));
        q.addBindValue(cardNo(i));
        q.addBindValue(userName(i));
        q.addBindValue(unitIndex / UnitsPerBuilding + 1);
        q.addBindValue(unitIndex % UnitsPerBuilding + 1);
        q.addBindValue(room(i));
        q.addBindValue(bitmap);
        if (!q.exec()) {
            out() << q.lastError().text() << Qt::endl;
            return false;
        }
    }
    q.finish();
    if (!db.commit())
        return false;
    // A community's tables on a server are kept vacuumed and analysed by its autovacuum, which
    // would get to these new rows within a minute: the figures are of that steady state.
    if (dm->IsServer() && !q.exec(QStringLiteral("vacuum analyze")))
        return false;
    return true;
}

bool setUp(int argc, char** argv, const QString& scratch)
{
    takeDatabaseOption(argc, argv);
    SetAppPath(argc > 1 ? QString::fromLocal8Bit(argv[1]) : scratch);
    newEmptyDataModule();
    std::mt19937 rng(20240305);
    QElapsedTimer total;
    total.start();
    if (!fill(rng)) {
        out() << "filling the database failed" << Qt::endl;
        return false;
    }
    printDataSet(total.elapsed());
    printHeading();
    return true;
}

void printDataSet(qint64 fillMs)
{
    out() << QStringLiteral("database: %1 owners, %2 units, %3 terminals in %4; filled in %5 ms, %6 MB")
                 .arg(Owners)
                 .arg(Buildings * UnitsPerBuilding)
                 .arg(Terminals)
                 .arg(describeDatabase())
                 .arg(fillMs)
                 .arg(databaseMb(), 0, 'f', 1)
          << Qt::endl;
}

void printHeading()
{
    out() << QStringLiteral("%1 %2 %3 %4 %5")
                 .arg(QStringLiteral("operation (times in microseconds)"), -58)
                 .arg(QStringLiteral("runs"), 6)
                 .arg(QStringLiteral("median"), 10)
                 .arg(QStringLiteral("p95"), 10)
                 .arg(QStringLiteral("worst"), 10)
          << Qt::endl;
}

void report(const QString& name, int n, const Figure& f)
{
    out() << QStringLiteral("%1 %2 %3 %4 %5")
                 .arg(name, -58)
                 .arg(n, 6)
                 .arg(f.median, 10, 'f', 1)
                 .arg(f.p95, 10, 'f', 1)
                 .arg(f.worst, 10, 'f', 1)
          << Qt::endl;
}

Figure time(int n, const std::function<void(int)>& op, const std::function<void(int)>& before)
{
    std::vector<double> us;
    us.reserve(size_t(n));
    QElapsedTimer t;
    for (int i = 0; i < n; ++i) {
        if (before)
            before(i);
        t.start();
        op(i);
        us.push_back(double(t.nsecsElapsed()) / 1000.0);
    }
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 95 / 100)], us.back()};
}

void printPlans(const std::map<QString, SqlParams>& statements)
{
    out() << Qt::endl << "statements (one of each kind) and their query plans:" << Qt::endl;
    for (const auto& [sql, params] : statements) {
        out() << sql << Qt::endl;
        QSqlQuery q(dm->database());
        const bool server = dm->IsServer();
        if (!ExecBound(q, (server ? QStringLiteral("explain ") : QStringLiteral("explain query plan ")) + sql,
                       params)) {
            out() << "    (no plan)" << Qt::endl;
            continue;
        }
        while (q.next())
            out() << "    " << q.value(server ? 0 : 3).toString() << Qt::endl;
    }
}

} // namespace bench
