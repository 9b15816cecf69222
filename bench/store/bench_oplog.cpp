// The cost of an operation log entry on the SQLite file of a program folder: what the caller waits
// in RecordOperation (median, 99th percentile and worst, when each entry comes after the last one is
// in, and when they come in a burst), and how many entries a second the writer commits when they
// come one at a time (each committed before the next is recorded) and in bursts.
// Usage: bench_oplog [folder] [entries already in the log, 100000 when not given]

#include "BenchData.h"

#include "store/AppPath.h"
#include "store/DM.h"
#include "store/OperationLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <vector>

using namespace bench;

namespace {

LogEntry sample(int i)
{
    LogEntry e;
    e.action = LogAction::WriteOwnerCard;
    e.outcome = LogSucceeded;
    e.cardId = QStringLiteral("%1").arg(100000000 + i, 10, 10, QLatin1Char('0'));
    e.ownerIdx = i + 1;
    e.ownerName = QStringLiteral("业主%1").arg(i);
    e.details =
        QStringLiteral("栋号=3；单元=1；房号=0502；小区标识=57302914；扇区=7；有效期=2026-12-31；终端=1,2,5");
    return e;
}

// The log as a community has it after years: `count` entries put in directly, in one transaction.
bool prefill(int count)
{
    QSqlDatabase db = dm->database();
    if (!db.transaction())
        return false;
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "insert into OperationLog (LogTime, Computer, SystemUser, OperatorLevel, Action, "
        "Outcome, CardID, OwnerIdx, OwnerName, Details) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (int i = 0; i < count; ++i) {
        const LogEntry e = sample(i);
        const QVariantList values{QStringLiteral("2025-01-01 08:00:00"),
                                  LogComputer(),
                                  LogSystemUser(),
                                  1,
                                  e.action,
                                  e.outcome,
                                  e.cardId,
                                  e.ownerIdx,
                                  e.ownerName,
                                  e.details};
        for (int v = 0; v < values.size(); ++v)
            q.bindValue(v, values[v]);
        if (!q.exec())
            return false;
    }
    return db.commit();
}

struct Waits {
    double median;
    double p99;
    double worst;
};

Waits waitsOf(std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    const auto at = [&](double q) { return us[std::min(us.size() - 1, size_t(q * double(us.size())))]; };
    return {at(0.5), at(0.99), us.back()};
}

void printWaits(const QString& name, const Waits& w)
{
    out() << qSetFieldWidth(44) << Qt::left << name << qSetFieldWidth(10) << Qt::right
          << QString::number(w.median, 'f', 1) << QString::number(w.p99, 'f', 1)
          << QString::number(w.worst, 'f', 1) << qSetFieldWidth(0) << Qt::endl;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    SetAppPath(argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path());
    const int already = argc > 2 ? QByteArray(argv[2]).toInt() : 100000;
    newEmptyDataModule();
    QElapsedTimer fillTime;
    fillTime.start();
    if (!prefill(already)) {
        out() << "could not fill the log" << Qt::endl;
        return 1;
    }
    out() << "operation log on " << describeDatabase() << ", " << already
          << " entries already in it (filled in " << fillTime.elapsed() << " ms)" << Qt::endl;

    constexpr int OneByOne = 2000;
    constexpr int Bursts = 10;
    constexpr int BurstSize = 1000;
    int next = already;

    // One at a time: each entry recorded, then waited for until it is committed.
    std::vector<double> spaced;
    QElapsedTimer whole;
    whole.start();
    for (int i = 0; i < OneByOne; ++i) {
        const LogEntry e = sample(next++);
        QElapsedTimer call;
        call.start();
        RecordOperation(e);
        spaced.push_back(double(call.nsecsElapsed()) / 1000.0);
        if (!FlushOperationLog()) {
            out() << "the log could not be written" << Qt::endl;
            return 1;
        }
    }
    const double oneByOneSeconds = double(whole.nsecsElapsed()) / 1e9;

    // Bursts: a thousand entries recorded back to back, then all of them committed.
    std::vector<double> burst;
    double burstSeconds = 0;
    for (int b = 0; b < Bursts; ++b) {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < BurstSize; ++i) {
            const LogEntry e = sample(next++);
            QElapsedTimer call;
            call.start();
            RecordOperation(e);
            burst.push_back(double(call.nsecsElapsed()) / 1000.0);
        }
        if (!FlushOperationLog(60000)) {
            out() << "the log could not be written" << Qt::endl;
            return 1;
        }
        burstSeconds += double(t.nsecsElapsed()) / 1e9;
    }
    StopOperationLog();

    out() << Qt::endl << "what the caller waits in RecordOperation, µs" << Qt::endl;
    out() << qSetFieldWidth(44) << Qt::left << "" << qSetFieldWidth(10) << Qt::right << "median"
          << "p99"
          << "worst" << qSetFieldWidth(0) << Qt::endl;
    printWaits(QStringLiteral("each after the last one is in (%1)").arg(OneByOne), waitsOf(spaced));
    printWaits(QStringLiteral("in bursts of %1 (%2)").arg(BurstSize).arg(Bursts * BurstSize), waitsOf(burst));
    out() << Qt::endl << "entries committed per second" << Qt::endl;
    out() << "  one at a time (recorded, committed, next): "
          << QString::number(OneByOne / oneByOneSeconds, 'f', 0) << "  ("
          << QString::number(oneByOneSeconds * 1000.0 / OneByOne, 'f', 2) << " ms each, commit included)"
          << Qt::endl;
    out() << "  in bursts of " << BurstSize << ": "
          << QString::number(Bursts * BurstSize / burstSeconds, 'f', 0) << Qt::endl;
    QSqlQuery q(dm->database());
    q.exec(QStringLiteral("select count(*) from OperationLog"));
    q.next();
    out() << "entries in the log at the end: " << q.value(0).toInt() << " (expected "
          << already + OneByOne + Bursts * BurstSize << ")" << Qt::endl;
    delete dm;
    dm = nullptr;
    return 0;
}
