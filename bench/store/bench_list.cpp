// The list model on a database of 100,000 owners: opening the owner list, moving to an owner,
// to the last row, reopening after a change and finding a card serial, each timed; then the
// statements the model ran with their query plans; then the memory a real grid takes while it
// scrolls from the first owner to the last, page by page.
// Usage: bench_list [folder] [--database URL]   (a temporary folder when none is given; no display
// needed; --database: on that PostgreSQL server, see BenchData.h)

#include "BenchData.h"

#include "store/AppPath.h"
#include "store/DM.h"
#include "store/DataSet.h"
#include "store/ListModel.h"
#include "store/OwnerStatements.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <map>
#include <vector>

using namespace bench;

namespace {

// The owner list's grid and query, in building, unit and room order.
const QList<ListColumn> OwnerColumns = {
    {QStringLiteral("选择"), QStringLiteral("selFlag"), ListColumnKind::Check},
    {QStringLiteral("卡编号"), QStringLiteral("CardNo")},
    {QStringLiteral("状态"), QStringLiteral("chLoss")},
    {QStringLiteral("卡号"), QStringLiteral("CardID")},
    {QStringLiteral("栋  号"), QStringLiteral("DongHao")},
    {QStringLiteral("单元号"), QStringLiteral("DanYuan")},
    {QStringLiteral("房 号"), QStringLiteral("FangHao")},
    {QStringLiteral("姓  名"), QStringLiteral("UserName")},
    {QStringLiteral("性别"), QStringLiteral("Sex")},
    {QStringLiteral("使用"), QStringLiteral("chUseExpdate")},
    {QStringLiteral("有效期"), QStringLiteral("ExpDate"), ListColumnKind::Date},
    {QStringLiteral("联系电话"), QStringLiteral("Phone")},
    {QStringLiteral("备  注"), QStringLiteral("Remark")},
};

ListQuery ownerList(const QString& filter = QString(), const SqlParams& params = {})
{
    return {QStringLiteral("idx, selFlag, CardNo, chLoss, CardID, DongHao, DanYuan, FangHao, UserName, Sex, "
                           "chUseExpdate, ExpDate, Phone, Remark"),
            QStringLiteral("UserInfo where 1=1") + filter,
            params,
            {{QStringLiteral("DongHao")}, {QStringLiteral("DanYuan")}, {QStringLiteral("FangHao")}}};
}

// Moves to a row as a window does: makes it current and shows it, every cell's text or check
// mark (which reads its page).
void moveTo(QItemSelectionModel& selection, int row)
{
    MakeCurrentRow(&selection, row);
    const QAbstractItemModel& model = *selection.model();
    for (int c = 0; c < model.columnCount(); ++c) {
        model.index(row, c).data();
        model.index(row, c).data(Qt::CheckStateRole);
    }
}

// Drops the pages read so far, so that a move starts with none at hand.
void dropPages(ListModel& model)
{
    model.SetPageSize(model.PageSize());
}

double residentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

// Scrolls a real grid from the first row to the last, a screenful at a time, and prints the
// memory it took.
int scrollGrid()
{
    ListModel model(*dm, OwnerColumns);
    int pageReads = 0;
    model.SetStatementHook([&](const QString& sql, const SqlParams&) {
        if (sql.contains(QLatin1String(":list_limit")))
            ++pageReads;
    });
    model.Open(ownerList());
    QTableView view;
    view.setModel(&model);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.resize(1200, 800);
    view.show();
    QApplication::processEvents();
    const double before = residentMB();

    QElapsedTimer t;
    t.start();
    QScrollBar* bar = view.verticalScrollBar();
    int steps = 0;
    double peak = before;
    while (true) {
        bar->setValue(bar->value() + bar->pageStep());
        QApplication::processEvents();
        view.viewport()->repaint();
        ++steps;
        if (steps % 100 == 0)
            peak = std::max(peak, residentMB());
        if (bar->value() >= bar->maximum())
            break;
    }
    view.viewport()->repaint();
    const double after = residentMB();
    peak = std::max(peak, after);
    const int lastShown = view.rowAt(view.viewport()->height() - 1);
    out() << Qt::endl
          << QStringLiteral("grid memory: a %1x%2 QTableView over the owner list (%3 rows of %4 columns; "
                            "pages of %5 rows, %6 kept)")
                 .arg(view.width())
                 .arg(view.height())
                 .arg(model.RecordCount())
                 .arg(model.columnCount())
                 .arg(model.PageSize())
                 .arg(model.PageLimit())
          << Qt::endl
          << QStringLiteral("scrolled to row %1 in %2 steps of a screenful, %3 pages read, %4 ms")
                 .arg(lastShown)
                 .arg(steps)
                 .arg(pageReads)
                 .arg(t.elapsed())
          << Qt::endl
          << QStringLiteral("RSS at the top %1 MB, at the end %2 MB, growth %3 MB (highest seen %4 MB)")
                 .arg(before, 0, 'f', 1)
                 .arg(after, 0, 'f', 1)
                 .arg(after - before, 0, 'f', 1)
                 .arg(peak, 0, 'f', 1)
          << Qt::endl;
    return lastShown == model.RecordCount() - 1 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir temp;
    if (!setUp(argc, argv, temp.path()))
        return 1;
    std::mt19937 rng(20240306);

    ListModel model(*dm, OwnerColumns);
    QItemSelectionModel selection(&model);
    std::map<QString, SqlParams> statements;
    model.SetStatementHook([&](const QString& sql, const SqlParams& params) { statements[sql] = params; });
    auto noPages = [&](int) { dropPages(model); };

    report(QStringLiteral("open the owner list: count + first page"), 50,
           time(50, [&](int) { model.Open(ownerList()); }));
    report(QStringLiteral("open one unit (tree click): count + first page"), 200, time(200, [&](int i) {
               model.Open(ownerList(QStringLiteral(" and DongHao = :DongHao and DanYuan = :DanYuan"),
                                    {{QStringLiteral("DongHao"), i % Buildings + 1},
                                     {QStringLiteral("DanYuan"), i % UnitsPerBuilding + 1}}));
           }));
    model.Open(ownerList());

    std::uniform_int_distribution<int> middle(Owners * 2 / 5, Owners * 3 / 5);
    std::uniform_int_distribution<int> anyOwner(0, Owners - 1);
    auto toMiddle = [&](int) { moveTo(selection, model.LocateIdx(middle(rng) + 1)); };
    auto toAny = [&](int) { moveTo(selection, model.LocateIdx(anyOwner(rng) + 1)); };
    auto toLastRow = [&](int) { moveTo(selection, model.RecordCount() - 1); };
    auto toLastIdx = [&](int) { moveTo(selection, model.LocateIdx(Owners)); };
    // Each move starts with no page at hand.
    report(QStringLiteral("move to an owner in the middle: locate idx, page, current"), 500,
           time(500, toMiddle, noPages));
    report(QStringLiteral("move to any owner: locate idx, page, current"), 500, time(500, toAny, noPages));
    report(QStringLiteral("move to the last row: page, current"), 200, time(200, toLastRow, noPages));
    report(QStringLiteral("move to the last owner by idx: locate, page, current"), 200,
           time(200, toLastIdx, noPages));
    report(QStringLiteral("locate by CardID (any owner)"), 2000,
           time(2000, [&](int) { model.LocateCardID(cardSerial(anyOwner(rng))); }));
    report(QStringLiteral("locate by CardID (a serial nobody holds)"), 500,
           time(500, [&](int i) { model.LocateCardID(cardSerial(Owners + i)); }));

    // A new owner in the middle of the order, as the owner editor adds one (its synced insert,
    // timed by bench_store, is left out here).
    int added = 0;
    int located = -1;
    auto addOwner = [&](int i) {
        TuserInfoRec r;
        r.UserName = userName(Owners + i);
        r.CardNo = cardNo(Owners + i);
        r.DongHao = Buildings / 2;
        r.DanYuan = UnitsPerBuilding / 2;
        r.FangHao = room(i);
        InsertUserInfo(*dm, r, InsertEntry::Import);
        added = int(dm->LastInsertId());
    };
    auto reopenAndLocate = [&](int) {
        model.Reopen();
        located = model.LocateIdx(added);
        moveTo(selection, located);
    };
    report(QStringLiteral("reopen after an insert: count, locate it, page, current"), 100,
           time(100, reopenAndLocate, addOwner));
    const bool foundAdded = located >= 0 && model.IdxAt(located) == added;
    out() << QStringLiteral("(the last owner added, idx %1, is row %2 of %3: %4)")
                 .arg(added)
                 .arg(located)
                 .arg(model.RecordCount())
                 .arg(foundAdded ? QStringLiteral("found") : QStringLiteral("NOT FOUND"))
          << Qt::endl;

    // The owner card issuing window's list: newest first, lost cards left out (no index helps
    // the condition, so its pages and counts read the table itself).
    ListModel cards(*dm, {{QStringLiteral("序号"), QStringLiteral("idx")},
                          {QStringLiteral("业主姓名"), QStringLiteral("UserName")},
                          {QStringLiteral("卡编号"), QStringLiteral("CardNo")},
                          {QStringLiteral("栋号"), QStringLiteral("DongHao")},
                          {QStringLiteral("单元号"), QStringLiteral("DanYuan")},
                          {QStringLiteral("房间号"), QStringLiteral("FangHao")},
                          {QStringLiteral("IC卡号"), QStringLiteral("CardID")}});
    cards.SetStatementHook([&](const QString& sql, const SqlParams& params) { statements[sql] = params; });
    const ListQuery cardList{QStringLiteral("idx, UserName, CardNo, DongHao, DanYuan, FangHao, CardID"),
                             QStringLiteral("UserInfo where ((chLoss <> '挂失') or (chLoss is null))"),
                             {},
                             {{QStringLiteral("idx"), true}}};
    QItemSelectionModel cardSelection(&cards);
    report(QStringLiteral("owner card list (idx desc): count + first page"), 50,
           time(50, [&](int) { cards.Open(cardList); }));
    report(QStringLiteral("owner card list: move to any owner"), 500,
           time(
               500, [&](int) { moveTo(cardSelection, cards.LocateIdx(anyOwner(rng) + 1)); },
               [&](int) { dropPages(cards); }));
    report(QStringLiteral("owner card list: locate by CardID"), 500,
           time(500, [&](int) { cards.LocateCardID(cardSerial(anyOwner(rng))); }));

    printPlans(statements);
    model.SetStatementHook({});
    const int scrolled = scrollGrid();

    delete dm;
    return foundAdded && scrolled == 0 ? 0 : 1;
}
