// The operation log window's list on a log of 1,000,000 entries: the time to open it (the count and
// the first page, as the window does at each 查询) without a filter and with each filter, then the
// statements with their query plans.
// Usage: bench_log [folder] [--database URL]   (a temporary folder when none is given; --database:
// on that PostgreSQL server, see BenchData.h). A database that holds the log of an earlier run
// already (the same folder or server database) is used again as it is.
//
// The log: one year of entries, newest last, from 12 computers and 4 system users, at the three
// operator levels and the command line; the actions in the shares an office has (owner cards
// written and read most, restores and emptyings seldom); card actions name one of 100,000 owners
// and their card serial.

#include "BenchData.h"

#include "office/Lists.h"
#include "store/AppPath.h"
#include "store/DM.h"
#include "store/ListModel.h"
#include "store/OperationLog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <map>

using namespace bench;

namespace {

constexpr int Entries = 1000000;
const QDate FirstDay(2025, 1, 1);
constexpr int Days = 365;
// Entries follow one another at this many seconds.
constexpr qint64 Step = qint64(Days) * 86400 / Entries;

const QList<ListColumn> Columns = {
    {QStringLiteral("时间"), QStringLiteral("LogTime")},
    {QStringLiteral("电脑"), QStringLiteral("Computer")},
    {QStringLiteral("系统用户"), QStringLiteral("SystemUser")},
    {QStringLiteral("操作员级别"), QStringLiteral("LevelName")},
    {QStringLiteral("操作"), QStringLiteral("Action")},
    {QStringLiteral("结果"), QStringLiteral("Outcome")},
    {QStringLiteral("卡号"), QStringLiteral("CardID"), ListColumnKind::CardSerial},
    {QStringLiteral("业主"), QStringLiteral("OwnerName")},
    {QStringLiteral("详情"), QStringLiteral("Details")},
};

// The action of an entry: owner cards most, then owners, then the rest, a rare few seldom.
QString actionFor(std::mt19937& rng)
{
    const QStringList& all = LogActions();
    const int roll = int(rng() % 1000);
    if (roll < 400)
        return LogAction::WriteOwnerCard;
    if (roll < 600)
        return LogAction::ReadOwnerCard;
    if (roll < 700)
        return LogAction::ChangeOwner;
    if (roll < 760)
        return LogAction::ReportLost;
    if (roll < 800)
        return LogAction::WriteBlackList;
    return all[int(rng() % all.size())];
}

// Many rows a statement: a server takes a million entries in a few thousand round trips.
constexpr int RowsPerInsert = 500;

bool fillLog(std::mt19937& rng)
{
    QSqlDatabase db = dm->database();
    if (!db.transaction())
        return false;
    const QString columns =
        QStringLiteral("insert into OperationLog (LogTime, Computer, SystemUser, OperatorLevel, "
                       "Action, Outcome, CardID, OwnerIdx, OwnerName, Details) values ");
    auto insertOf = [&](int rows) {
        QStringList tuples;
        tuples.fill(QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"), rows);
        return columns + tuples.join(QStringLiteral(", "));
    };
    QSqlQuery full(db);
    if (!full.prepare(insertOf(RowsPerInsert))) {
        out() << full.lastError().text() << Qt::endl;
        return false;
    }
    QVariantList pending;
    auto flush = [&](QSqlQuery& q) {
        for (qsizetype i = 0; i < pending.size(); ++i)
            q.bindValue(int(i), pending[i]);
        pending.clear();
        if (q.exec())
            return true;
        out() << q.lastError().text() << Qt::endl;
        return false;
    };
    const QDateTime start(FirstDay, QTime(0, 0));
    for (int i = 0; i < Entries; ++i) {
        const QString action = actionFor(rng);
        const bool aboutOwner = action == LogAction::WriteOwnerCard || action == LogAction::ReadOwnerCard ||
                                action == LogAction::ChangeOwner || action == LogAction::ReportLost ||
                                action == LogAction::WriteBlackList || action == LogAction::AddOwner;
        const int owner = int(rng() % Owners);
        pending << start.addSecs(qint64(i) * Step).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                << QStringLiteral("WUYE-PC%1").arg(rng() % 12 + 1, 2, 10, QLatin1Char('0'))
                << QStringLiteral("office%1").arg(rng() % 4 + 1) << int(rng() % 4) - 1 << action
                << (rng() % 50 == 0 ? QStringLiteral("卡操作失败") : LogSucceeded)
                << (aboutOwner ? QVariant(cardSerial(owner)) : QVariant())
                << (aboutOwner ? QVariant(owner + 1) : QVariant())
                << (aboutOwner ? QVariant(userName(owner)) : QVariant())
                << QStringLiteral("栋号=%1；单元=%2；房号=%3；有效期=2026-12-31；终端=1,2,5")
                       .arg(owner / 500 + 1)
                       .arg(owner / 50 % 10 + 1)
                       .arg(room(owner));
        if (pending.size() == RowsPerInsert * 10 && !flush(full))
            return false;
    }
    if (!pending.isEmpty()) {
        QSqlQuery rest(db);
        if (!rest.prepare(insertOf(int(pending.size() / 10))) || !flush(rest))
            return false;
    }
    return db.commit();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    takeDatabaseOption(argc, argv);
    QTemporaryDir scratch;
    SetAppPath(argc > 1 ? QString::fromLocal8Bit(argv[1]) : scratch.path());
    bool filled = false;
    if (target().IsServer() || QFile::exists(Tdm::DatabasePath())) {
        newDataModule();
        QSqlQuery q(dm->database());
        filled = q.exec(QStringLiteral("select count(*) from OperationLog")) && q.next() &&
                 q.value(0).toInt() == Entries;
        q.finish();
        if (!filled) {
            delete dm;
            dm = nullptr;
        }
    }
    QElapsedTimer filling;
    filling.start();
    if (!filled) {
        newEmptyDataModule();
        std::mt19937 rng(20261211);
        if (!fillLog(rng)) {
            out() << "filling the log failed" << Qt::endl;
            return 1;
        }
    }
    // The statistics and, on a server, the map of pages all of whose rows every transaction sees
    // (which lets a count read the index alone): what a log that grew over a year has, its
    // server's autovacuum having run.
    {
        QSqlQuery q(dm->database());
        q.exec(target().IsServer() ? QStringLiteral("vacuum analyze OperationLog")
                                   : QStringLiteral("analyze"));
    }
    out() << QStringLiteral("log: %1 entries over %2 days in %3; %4 ms, %5 MB")
                 .arg(Entries)
                 .arg(Days)
                 .arg(describeDatabase())
                 .arg(filled ? QStringLiteral("kept from an earlier run")
                             : QStringLiteral("filled in %1").arg(filling.elapsed()))
                 .arg(databaseMb(), 0, 'f', 1)
          << Qt::endl;
    printHeading();

    const QDate lastDay = QDateTime(FirstDay, QTime(0, 0)).addSecs(qint64(Entries - 1) * Step).date();
    const QDate monthAgo = lastDay.addDays(-30);
    const QDate halfYearAgo = lastDay.addDays(-180);
    const std::vector<std::pair<QString, LogFilter>> cases = {
        {QStringLiteral("open the log, no filter"), {}},
        {QStringLiteral("one day (the last)"), {.from = lastDay, .to = lastDay}},
        {QStringLiteral("one month (the last)"), {.from = monthAgo, .to = lastDay}},
        {QStringLiteral("one day a half year ago"), {.from = halfYearAgo, .to = halfYearAgo}},
        {QStringLiteral("action: write owner card (40%)"), {.action = LogAction::WriteOwnerCard}},
        {QStringLiteral("action: restore (1 in 175)"), {.action = LogAction::Restore}},
        {QStringLiteral("card serial, as stored"), {.card = cardSerial(4242)}},
        {QStringLiteral("card serial, a card with no entry"), {.card = QStringLiteral("3914049354")}},
        {QStringLiteral("owner: part of a name"), {.owner = userName(4242).mid(1)}},
        {QStringLiteral("owner: a name no entry has"), {.owner = QStringLiteral("没有这个人")}},
        {QStringLiteral("desk: a computer (1 in 12)"), {.desk = QStringLiteral("PC07")}},
        {QStringLiteral("desk: a user (1 in 4)"), {.desk = QStringLiteral("office3")}},
        {QStringLiteral("one month and an action"),
         {.from = monthAgo, .to = lastDay, .action = LogAction::ReportLost}},
        {QStringLiteral("one month and a desk"),
         {.from = monthAgo, .to = lastDay, .desk = QStringLiteral("PC07")}},
    };
    constexpr int Runs = 15;
    std::map<QString, SqlParams> statements;
    for (const auto& [name, filter] : cases) {
        const ListQuery query = OperationLogList(filter);
        int count = 0;
        const Figure f = time(Runs, [&](int) {
            ListModel model(*dm, Columns);
            model.SetStatementHook(
                [&](const QString& sql, const SqlParams& params) { statements[sql] = params; });
            model.Open(query);
            for (int c = 0; c < model.columnCount(); ++c)
                model.index(0, c).data();
            count = model.RecordCount();
        });
        report(QStringLiteral("%1 (%2 rows)").arg(name).arg(count), Runs, f);
    }
    printPlans(statements);
    delete dm;
    dm = nullptr;
    return 0;
}
