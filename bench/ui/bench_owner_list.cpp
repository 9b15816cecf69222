// The owner list window (TFormUserInfo) on a database of 100,000 owners, shown offscreen: each
// step timed from the operator's action to the list painted with its count: opening the window,
// a click on a unit of the building tree, a search by name and one by building (from "查询" in the
// search dialog), and the list read again on the owner after the owner editor closes. Then the
// statements the list ran, with their query plans. Then the owner card issuing window
// (TFormWriteUserCard) on the same owners: opening, a tree click, a search by a part of a name, and
// the list read again on the owner a card was just registered to.
// Usage: bench_owner_list [folder] [--database URL]   (a temporary folder when none is given; no
// display needed; --database: on that PostgreSQL server, see BenchData.h)

#include "store/BenchData.h"

#include "store/AppPath.h"
#include "store/DM.h"
#include "store/DataSet.h"
#include "store/ListModel.h"
#include "store/TvexUserInfo.h"
#include "ui/AlterUserInfo.h"
#include "ui/ListScreen.h"
#include "ui/SearchCondition.h"
#include "ui/UserInfo.h"
#include "ui/UserInfoSearch.h"
#include "ui/Widgets.h"
#include "ui/WriteUserCard.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <map>

using namespace bench;

namespace {

// Answers the next modal window of type W as soon as it is shown.
template <typename W> void whenModal(std::function<void(W*)> act)
{
    auto* timer = new QTimer;
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(w);
        }
    });
    timer->start();
}

// Lets the window lay itself out and paint what changed.
void settle(QWidget& w)
{
    QApplication::processEvents();
    w.repaint();
}

void printHeadingMs()
{
    out() << QStringLiteral("%1 %2 %3 %4 %5")
                 .arg(QStringLiteral("owner list, shown offscreen (times in ms)"), -58)
                 .arg(QStringLiteral("runs"), 6)
                 .arg(QStringLiteral("median"), 10)
                 .arg(QStringLiteral("p95"), 10)
                 .arg(QStringLiteral("worst"), 10)
          << Qt::endl;
}

void reportMs(const QString& name, const std::vector<double>& usTimes)
{
    std::vector<double> us = usTimes;
    std::sort(us.begin(), us.end());
    const Figure f{us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 95 / 100)], us.back()};
    out() << QStringLiteral("%1 %2 %3 %4 %5")
                 .arg(name, -58)
                 .arg(int(us.size()), 6)
                 .arg(f.median / 1000.0, 10, 'f', 2)
                 .arg(f.p95 / 1000.0, 10, 'f', 2)
                 .arg(f.worst / 1000.0, 10, 'f', 2)
          << Qt::endl;
}

double sinceUs(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    takeDatabaseOption(argc, argv);
    QApplication app(argc, argv);
    QTemporaryDir temp;
    SetAppPath(argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path());
    newEmptyDataModule();
    {
        std::mt19937 fillRng(20240305);
        QElapsedTimer filling;
        filling.start();
        if (!fill(fillRng)) {
            out() << "filling the database failed" << Qt::endl;
            return 1;
        }
        printDataSet(filling.elapsed());
    }
    printHeadingMs();
    std::mt19937 rng(20240307);
    std::uniform_int_distribution<int> anyOwner(0, Owners - 1);
    bool ok = true;

    auto* w = new TFormUserInfo;
    w->resize(1200, 660);
    std::map<QString, SqlParams> statements;
    w->grid->Model().SetStatementHook(
        [&](const QString& sql, const SqlParams& params) { statements.emplace(sql, params); });
    const auto countShown = [&] { return w->lblCount->text().toInt(); };

    // Opening: the tree of 2,000 units filled, the marks a few owners had left cleared, every owner
    // counted and the first screenful painted.
    std::vector<double> times;
    for (int run = 0; run < 30; ++run) {
        for (int i = 0; i < 5; ++i)
            TvexUserInfo::SetSelected(anyOwner(rng) + 1, 1);
        QElapsedTimer t;
        t.start();
        w->show();
        settle(*w);
        times.push_back(sinceUs(t));
        ok = ok && countShown() == Owners;
        w->reject();
        QApplication::processEvents();
    }
    reportMs(QStringLiteral("open: show to the count and first rows painted"), times);
    w->show();
    settle(*w);
    // The steps of the opening on their own.
    const auto timeStep = [&](const QString& name, const std::function<void()>& step,
                              const std::function<void()>& before = {}) {
        std::vector<double> stepTimes;
        for (int run = 0; run < 30; ++run) {
            if (before)
                before();
            QElapsedTimer t;
            t.start();
            step();
            stepTimes.push_back(sinceUs(t));
        }
        reportMs(name, stepTimes);
    };
    timeStep(QStringLiteral("  of which: the tree of 2,000 units filled"), [&] { w->tree->Fill(); });
    timeStep(
        QStringLiteral("  of which: 5 marks cleared (every row read)"), [] { TvexUserInfo::SelectNone(); },
        [&] {
            for (int i = 0; i < 5; ++i)
                TvexUserInfo::SetSelected(anyOwner(rng) + 1, 1);
        });
    timeStep(QStringLiteral("  of which: every owner counted, first page read"), [&] { w->Reload(); });

    // A click on a unit of the tree.
    times.clear();
    std::uniform_int_distribution<int> anyBuilding(0, Buildings - 1);
    std::uniform_int_distribution<int> anyUnit(0, UnitsPerBuilding - 1);
    for (int run = 0; run < 100; ++run) {
        QTreeWidgetItem* unit = w->tree->Root()->child(anyBuilding(rng))->child(anyUnit(rng));
        w->tree->scrollToItem(unit);
        settle(*w);
        const QPoint at = w->tree->visualItemRect(unit).center();
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(w->tree->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        settle(*w);
        times.push_back(sinceUs(t));
        ok = ok && countShown() == OwnersPerUnit;
    }
    reportMs(QStringLiteral("tree click on a unit: filter, count, rows painted"), times);

    // A search: the time runs from "查询" in the dialog to the list painted.
    const auto timeSearch = [&](const QString& name, int runs, const std::function<QString(int)>& value,
                                bool byName, int expected) {
        std::vector<double> searchTimes;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer t;
            const QString typed = value(run);
            whenModal<TFormSearchUserInfo>([&](TFormSearchUserInfo* d) {
                (byName ? d->chkUserName : d->chkDongHao)->setChecked(true);
                (byName ? d->edtUserName : d->edtDongHao)->setText(typed);
                t.start();
                d->btnSearch->click();
            });
            w->btnSearch->click();
            settle(*w);
            searchTimes.push_back(sinceUs(t));
            ok = ok && countShown() == expected;
        }
        reportMs(name, searchTimes);
    };
    timeSearch(
        QStringLiteral("search by name: marks cleared, filter, count, painted"), 50,
        [&](int) { return userName(anyOwner(rng)); }, true, 1);
    timeSearch(
        QStringLiteral("search by building: marks cleared, filter, count, painted"), 50,
        [&](int) { return QString::number(anyBuilding(rng) + 1); }, false, OwnersPerUnit * UnitsPerBuilding);

    // "修改" on an owner of the whole list: the editor changes the room; the time runs from the
    // editor closing to the list painted on the owner.
    whenModal<TFormSearchUserInfo>([](TFormSearchUserInfo* d) { d->btnSearch->click(); });
    w->btnSearch->click(); // nothing ticked: every owner
    settle(*w);
    times.clear();
    for (int run = 0; run < 50; ++run) {
        const int idx = anyOwner(rng) + 1;
        w->grid->MakeCurrent(w->grid->Model().LocateIdx(idx));
        settle(*w);
        QElapsedTimer t;
        whenModal<TFormAlter>([&](TFormAlter* editor) {
            dm->ExecuteSQL(QStringLiteral("update UserInfo set FangHao = :room where idx = :idx"),
                           {{QStringLiteral("room"), room(run)}, {QStringLiteral("idx"), idx}});
            t.start();
            editor->reject();
        });
        w->btnModify->click();
        settle(*w);
        times.push_back(sinceUs(t));
        ok = ok && w->grid->CurrentIdx() == idx && countShown() == Owners;
    }
    reportMs(QStringLiteral("after 修改: reload, locate the owner, painted on it"), times);

    w->reject();
    delete w;
    printPlans(statements);

    // The owner card issuing window: every owner not reported lost, newest first.
    out() << Qt::endl;
    printHeadingMs();
    auto* cards = new TFormWriteUserCard;
    cards->resize(1180, 760);
    const auto cardsCount = [&] { return cards->lblCount->text().toInt(); };
    times.clear();
    for (int run = 0; run < 30; ++run) {
        QElapsedTimer t;
        t.start();
        cards->show();
        settle(*cards);
        times.push_back(sinceUs(t));
        ok = ok && cardsCount() == Owners;
        cards->reject();
        QApplication::processEvents();
    }
    reportMs(QStringLiteral("issuing window: open, count and first rows painted"), times);
    cards->show();
    settle(*cards);
    times.clear();
    for (int run = 0; run < 100; ++run) {
        QTreeWidgetItem* unit = cards->tvBuild->Root()->child(anyBuilding(rng))->child(anyUnit(rng));
        cards->tvBuild->scrollToItem(unit);
        settle(*cards);
        const QPoint at = cards->tvBuild->visualItemRect(unit).center();
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(cards->tvBuild->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        settle(*cards);
        times.push_back(sinceUs(t));
        ok = ok && cardsCount() == OwnersPerUnit;
    }
    reportMs(QStringLiteral("issuing window: tree click on a unit, painted"), times);
    times.clear();
    for (int run = 0; run < 30; ++run) {
        QElapsedTimer t;
        const QString part = userName(anyOwner(rng)).right(4);
        whenModal<TFormSearchCondition>([&](TFormSearchCondition* d) {
            d->rb2->setChecked(true);
            d->edt2->setText(part);
            t.start();
            d->btnOk->click();
        });
        cards->btnSearch->click();
        settle(*cards);
        times.push_back(sinceUs(t));
        ok = ok && cardsCount() >= 1;
    }
    reportMs(QStringLiteral("issuing window: search by a part of a name, painted"), times);
    times.clear();
    for (int run = 0; run < 50; ++run) {
        const int i = anyOwner(rng);
        QElapsedTimer t;
        t.start();
        cards->LoadList();
        const int row = cards->grdOwners->Model().LocateCardID(cardSerial(i));
        cards->grdOwners->MakeCurrent(row);
        settle(*cards);
        times.push_back(sinceUs(t));
        ok = ok && cards->grdOwners->CurrentIdx() == i + 1;
    }
    reportMs(QStringLiteral("issuing window: reload on the owner of a card, painted"), times);
    cards->reject();
    delete cards;
    FreeSearchCondition();
    out() << Qt::endl
          << (ok ? "every step showed what it should" : "SOME STEP SHOWED THE WRONG LIST") << Qt::endl;
    delete dm;
    dm = nullptr;
    return ok ? 0 : 1;
}
