// The terminal selection grid of a community with 255 registered terminals: how long an owner card
// window takes to build its grid and show the first screen of selectors (a new window each time,
// as every opening makes one), and how long a rebuild takes in a window already shown (after the
// terminal registration screen closes). Times in milliseconds; the opening should stay under 50.
// Usage: bench_terminal_grid [folder]   (a temporary folder when none is given; no display needed)

#include "store/AppPath.h"
#include "store/DM.h"
#include "store/DataSet.h"
#include "ui/TerminalSel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int Terminals = 255;
constexpr int Runs = 50;
constexpr double LimitMs = 50.0;

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Terminals 0 to 254 with names of the lengths communities give them, some too long for a selector.
bool fillTerminals()
{
    QSqlDatabase db = dm->database();
    if (!db.transaction())
        return false;
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("insert into TerminalInfo (TerminalID, TerminalName, Remark, selFlag) "
                                  "values (?, ?, '', 0)")))
        return false;
    for (int t = 0; t < Terminals; ++t) {
        q.addBindValue(t);
        switch (t % 3) {
        case 0:
            q.addBindValue(QStringLiteral("门禁%1").arg(t));
            break;
        case 1:
            q.addBindValue(QStringLiteral("%1号楼%2单元").arg(t / 10 + 1).arg(t % 10 + 1));
            break;
        default:
            q.addBindValue(QStringLiteral("%1号楼东侧地下车库入口人行通道门").arg(t / 10 + 1));
            break;
        }
        if (!q.exec()) {
            out() << q.lastError().text() << Qt::endl;
            return false;
        }
    }
    return db.commit();
}

// Counts the paints of a widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Runs the event loop until the counter has seen a paint more than before; false after a second
// without one.
bool untilPainted(const PaintCounter& counter, int before)
{
    QElapsedTimer waited;
    waited.start();
    while (counter.paints == before) {
        if (waited.elapsed() > 1000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

struct Figure {
    double first;
    double median;
    double p95;
    double worst;
};

Figure timeRuns(int n, const std::function<double()>& run)
{
    std::vector<double> ms;
    ms.reserve(size_t(n));
    for (int i = 0; i < n; ++i)
        ms.push_back(run());
    const double first = ms.front();
    std::sort(ms.begin(), ms.end());
    return {first, ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 95 / 100)], ms.back()};
}

void report(const QString& name, int n, const Figure& f)
{
    out() << QStringLiteral("%1 %2 %3 %4 %5 %6")
                 .arg(name, -56)
                 .arg(n, 5)
                 .arg(f.first, 8, 'f', 2)
                 .arg(f.median, 8, 'f', 2)
                 .arg(f.p95, 8, 'f', 2)
                 .arg(f.worst, 8, 'f', 2)
          << Qt::endl;
}

// A host window as the owner card windows have it: the grid filling a window of their size.
struct Host {
    QWidget window;
    TerminalGrid* grid;
    PaintCounter counter;
    Host() : grid(new TerminalGrid(&window))
    {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(grid);
        window.resize(820, 480);
        grid->viewport()->installEventFilter(&counter);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The offscreen platform's note on every window with a layout would bury the figures.
    static const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (!message.contains(QLatin1String("does not support propagateSizeHints")))
                previous(type, context, message);
        });
    QTemporaryDir temp;
    SetAppPath(argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path());
    QFile::remove(Tdm::DatabasePath());
    dm = new Tdm;
    if (!fillTerminals()) {
        out() << "filling the database failed" << Qt::endl;
        return 1;
    }
    out() << QStringLiteral("database: %1 terminals in %2; style %3, platform %4")
                 .arg(Terminals)
                 .arg(Tdm::DatabasePath(), QApplication::style()->name(), QGuiApplication::platformName())
          << Qt::endl
          << QStringLiteral("%1 %2 %3 %4 %5 %6")
                 .arg(QStringLiteral("operation (times in milliseconds)"), -56)
                 .arg(QStringLiteral("runs"), 5)
                 .arg(QStringLiteral("first"), 8)
                 .arg(QStringLiteral("median"), 8)
                 .arg(QStringLiteral("p95"), 8)
                 .arg(QStringLiteral("worst"), 8)
          << Qt::endl;

    bool complete = true;
    QElapsedTimer t;
    const Figure opening = timeRuns(Runs, [&] {
        t.start();
        auto host = std::make_unique<Host>();
        host->grid->BuildGrid();
        host->window.show();
        complete = untilPainted(host->counter, 0) && host->grid->Count() == Terminals && complete;
        const double ms = double(t.nsecsElapsed()) / 1e6;
        host.reset();
        QCoreApplication::processEvents();
        return ms;
    });
    report(QStringLiteral("open: new window and grid, BuildGrid, show, first paint"), Runs, opening);

    Host shown;
    shown.grid->BuildGrid();
    shown.window.show();
    untilPainted(shown.counter, 0);
    const Figure rebuild = timeRuns(Runs, [&] {
        const int before = shown.counter.paints;
        t.start();
        shown.grid->BuildGrid();
        shown.grid->viewport()->repaint();
        complete = shown.counter.paints > before && shown.grid->Count() == Terminals && complete;
        return double(t.nsecsElapsed()) / 1e6;
    });
    report(QStringLiteral("rebuild in a shown window: BuildGrid, repaint"), Runs, rebuild);

    const Figure bitmaps = timeRuns(Runs, [&] {
        t.start();
        shown.grid->TickAll();
        const TerminalBitmap bitmap = shown.grid->Bitmap();
        shown.grid->SetBitmap(bitmap.data());
        return double(t.nsecsElapsed()) / 1e6;
    });
    report(QStringLiteral("TickAll, Bitmap, SetBitmap"), Runs, bitmaps);

    out() << QStringLiteral("opening under %1 ms (median): %2")
                 .arg(LimitMs)
                 .arg(opening.median < LimitMs ? QStringLiteral("yes") : QStringLiteral("NO"))
          << Qt::endl;
    delete dm;
    dm = nullptr;
    if (!complete) {
        out() << "a run did not show all terminals or was never painted" << Qt::endl;
        return 1;
    }
    return opening.median < LimitMs ? 0 : 1;
}
