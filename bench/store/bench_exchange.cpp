// The owner data file of a large community (100,000 owners in 200 buildings of 10 units), imported
// and exported by the program, and the same work done by the engine's own tools side by side in the
// same run. On the SQLite file: the command-line shell sqlite3, .import of the same rows into the
// same table and -csv of the same query. On a PostgreSQL server (--database): the server's own COPY
// of the same rows into an empty copy of the table, and COPY (query) TO STDOUT of the same query,
// through libpq. Prints the times (median of the runs) and the two ratios.
// Usage: bench_exchange [folder] [runs] [--database URL]   (a temporary folder and 3 runs when none
// are given; --database: a server's database for benchmarks, see BenchData.h)
//        bench_exchange --files folder   writes the same data as files for scripts/bulk.sh and ends:
// owners.csv (the owner data file), rows-file.csv and rows-server.csv (the rows for sqlite3's
// .import and for the server's COPY)

#include "BenchData.h"

#include "store/AppPath.h"
#include "store/DM.h"
#include "store/OwnerExchange.h"
#include "store/engine/Engine.h"

#include "cards/Digits.h"
#include "cards/Gbk.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <libpq-fe.h>
#include <random>
#include <vector>

using namespace bench;

namespace {

struct Owner {
    int building, unit;
    QString room, serial, name, cardNo, date;
    TerminalBitmap terminals{};
};

std::vector<Owner> community()
{
    std::mt19937 rng(20240305);
    std::uniform_int_distribution<int> count(0, 12);
    std::uniform_int_distribution<int> terminal(0, Terminals - 1);
    std::vector<Owner> owners;
    owners.reserve(Owners);
    for (int i = 0; i < Owners; ++i) {
        const int unitIndex = i / OwnersPerUnit;
        Owner o{unitIndex / UnitsPerBuilding + 1,
                unitIndex % UnitsPerBuilding + 1,
                room(i),
                cardSerial(i),
                userName(i),
                cardNo(i),
                QStringLiteral("2026-12-%1").arg(i % 28 + 1, 2, 10, QLatin1Char('0'))};
        for (int k = count(rng); k > 0; --k)
            SetTerminal(o.terminals.data(), terminal(rng));
        owners.push_back(o);
    }
    return owners;
}

// The owner data file, as the export writes it and the import reads it (GBK, CR LF).
QByteArray ownerFile(const std::vector<Owner>& owners)
{
    QString text = QString::fromUtf8(OwnerFileHeader) + QStringLiteral("\r\n");
    for (const Owner& o : owners) {
        QString terminals;
        for (int t = 0; t < TerminalCount; ++t) {
            if (TestTerminal(o.terminals.data(), t))
                terminals += QString::number(t) + QLatin1Char('|');
        }
        const QDate day = QDate::fromString(o.date, Qt::ISODate);
        text += QStringLiteral("%1,%2,%3,_%4,%5,13800000000,是,%6/%7/%8,男,用户卡,_%9,null.jpg,")
                    .arg(o.building)
                    .arg(o.unit)
                    .arg(o.room)
                    .arg(o.serial, o.name)
                    .arg(day.year())
                    .arg(day.month())
                    .arg(day.day())
                    .arg(o.cardNo) +
                terminals + QStringLiteral("\r\n");
    }
    return StringToGbk(text);
}

// The same rows as the 22 column values of UserInfo the import stores, for sqlite3's .import:
// UTF-8, the keys the import gives (1, 2, ...), ISO dates; a CSV cannot carry bytes, so the
// terminal bitmap goes in as its 64 hexadecimal digits.
QByteArray tableRows(const std::vector<Owner>& owners, bool server)
{
    // The server's bytea takes hexadecimal digits after "\\x"; its CSV reads an empty field as Null.
    const QString bytesPrefix = server ? QStringLiteral("\\x") : QString();
    QByteArray out;
    out.reserve(qsizetype(owners.size()) * 200);
    int idx = 0;
    for (const Owner& o : owners) {
        const QByteArray bitmap(reinterpret_cast<const char*>(o.terminals.data()), TerminalBitmapSize);
        out += QStringLiteral("%1,%2,%3,%4,,%5,%6,用户卡,%7,男,%8,0,13800000000,,0,%9,1,null.jpg,,是,0,\n")
                   .arg(++idx)
                   .arg(o.serial, o.cardNo, o.name)
                   .arg(o.building)
                   .arg(o.unit)
                   .arg(o.room, o.date, bytesPrefix + QString::fromLatin1(bitmap.toHex().toUpper()))
                   .toUtf8();
    }
    return out;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs sqlite3 and gives its time in milliseconds (the process's start included), -1 on failure.
double runShell(const QString& shell, const QStringList& args, const QString& outputFile = {})
{
    QProcess p;
    if (!outputFile.isEmpty())
        p.setStandardOutputFile(outputFile);
    QElapsedTimer t;
    t.start();
    p.start(shell, args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        out() << "sqlite3 failed: " << p.readAllStandardError() << Qt::endl;
        return -1;
    }
    return double(t.nsecsElapsed()) / 1e6;
}

// A libpq connection of its own to the server of the run, for its COPY.
struct Server {
    PGconn* pg = nullptr;
    ~Server() { PQfinish(pg); }
    bool open(const DatabaseTarget& t)
    {
        const QByteArray host = t.host.toUtf8(), port = QByteArray::number(t.port), db = t.dbname.toUtf8(),
                         user = t.user.toUtf8();
        const char* keys[] = {"host", "port", "dbname", "user", nullptr};
        const char* values[] = {host.constData(), port.constData(), db.constData(),
                                user.isEmpty() ? nullptr : user.constData(), nullptr};
        pg = PQconnectdbParams(keys, values, 0);
        if (PQstatus(pg) == CONNECTION_OK)
            return run(QStringLiteral("set client_min_messages = warning"));
        out() << "server: " << PQerrorMessage(pg) << Qt::endl;
        return false;
    }
    bool run(const QString& sql)
    {
        PGresult* r = PQexec(pg, sql.toUtf8().constData());
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
        if (!ok)
            out() << "server: " << PQresultErrorMessage(r) << Qt::endl;
        PQclear(r);
        return ok;
    }
    // COPY of the rows into table (CSV); milliseconds, -1 on failure.
    double copyIn(const QString& table, const QByteArray& rows)
    {
        QElapsedTimer t;
        t.start();
        PGresult* r =
            PQexec(pg, QStringLiteral("copy %1 from stdin (format csv)").arg(table).toUtf8().constData());
        const bool started = PQresultStatus(r) == PGRES_COPY_IN;
        PQclear(r);
        if (!started || PQputCopyData(pg, rows.constData(), int(rows.size())) != 1 ||
            PQputCopyEnd(pg, nullptr) != 1)
            return -1;
        r = PQgetResult(pg);
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        if (!ok)
            out() << "server: " << PQresultErrorMessage(r) << Qt::endl;
        PQclear(r);
        while (PGresult* rest = PQgetResult(pg))
            PQclear(rest);
        return ok ? double(t.nsecsElapsed()) / 1e6 : -1;
    }
    // COPY (query) TO STDOUT into a file; milliseconds, -1 on failure.
    double copyOut(const QString& query, const QString& fileName)
    {
        QElapsedTimer t;
        t.start();
        QFile file(fileName);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return -1;
        PGresult* r =
            PQexec(pg, QStringLiteral("copy (%1) to stdout (format csv)").arg(query).toUtf8().constData());
        const bool started = PQresultStatus(r) == PGRES_COPY_OUT;
        PQclear(r);
        if (!started)
            return -1;
        char* buffer = nullptr;
        int n = 0;
        while ((n = PQgetCopyData(pg, &buffer, 0)) > 0) {
            file.write(buffer, n);
            PQfreemem(buffer);
        }
        r = PQgetResult(pg);
        const bool ok = n == -1 && PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        while (PGresult* rest = PQgetResult(pg))
            PQclear(rest);
        return ok && file.flush() ? double(t.nsecsElapsed()) / 1e6 : -1;
    }
};

int owners()
{
    QSqlQuery q(dm->database());
    return q.exec(QStringLiteral("select count(*) from UserInfo")) && q.next() ? q.value(0).toInt() : -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--files") {
        const QString dir = QString::fromLocal8Bit(argv[2]) + QLatin1Char('/');
        const std::vector<Owner> all = community();
        return writeFile(dir + QStringLiteral("owners.csv"), ownerFile(all)) &&
                       writeFile(dir + QStringLiteral("rows-file.csv"), tableRows(all, false)) &&
                       writeFile(dir + QStringLiteral("rows-server.csv"), tableRows(all, true))
                   ? 0
                   : 1;
    }
    takeDatabaseOption(argc, argv);
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    const QString folder = argc > 1 && argv[1][0] ? QString::fromLocal8Bit(argv[1]) : temp.path();
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    SetAppPath(folder);
    const bool server = target().IsServer();
    const QString shell = server ? QString() : QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (!server && shell.isEmpty()) {
        out() << "sqlite3 (the Debian package sqlite3) is needed for the comparison" << Qt::endl;
        return 1;
    }
    Server copy;
    if (server && !copy.open(target()))
        return 1;

    const std::vector<Owner> all = community();
    const QString file = AppPath + QStringLiteral("owners.csv");
    const QString rows = AppPath + QStringLiteral("rows.csv");
    const QString shellDb = AppPath + QStringLiteral("shell.db");
    const QString emptyDb = AppPath + QStringLiteral("empty.db");
    const QByteArray rowBytes = tableRows(all, server);
    if (!writeFile(file, ownerFile(all)) || !writeFile(rows, rowBytes))
        return 1;
    // An empty database with the program's schema: the table of the same shape for the engine's tool.
    newEmptyDataModule();
    dm->database();
    delete dm;
    dm = nullptr;
    if (!server) {
        QFile::remove(emptyDb);
        QFile::copy(Tdm::DatabasePath(), emptyDb);
    }
    // The next import starts on an empty table.
    auto emptyDatabase = [&] {
        if (server) {
            newDataModule();
            QSqlQuery q(dm->database());
            return q.exec(QStringLiteral("truncate UserInfo restart identity"));
        }
        QFile::remove(Tdm::DatabasePath());
        QFile::copy(emptyDb, Tdm::DatabasePath());
        newDataModule();
        return true;
    };

    out() << QStringLiteral("owner data file: %1 owners, %2 MB (GBK); %3 runs each, medians; %4; database %5")
                 .arg(Owners)
                 .arg(double(QFileInfo(file).size()) / 1048576.0, 0, 'f', 1)
                 .arg(runs)
                 .arg(AppPath, describeDatabase())
          << Qt::endl;
    if (server) {
        out() << "Compared, for the import: ours reads the GBK owner file, converts every line, and in "
                 "commits of "
              << EngineFor(dm->Target()).ImportLinesPerCommit()
              << " lines copies the owners (COPY) into UserInfo, then deletes the rows they replace and takes"
                 " their serials from earlier holders, each in one pass; the server's COPY reads the same "
                 "rows already converted to the 22 UserInfo columns"
                 " (CSV, UTF-8, keys given, bitmap as \\x hex) into an empty copy of UserInfo (same columns,"
                 " collations and indexes), in one statement."
              << Qt::endl;
        out() << "For the export: both run the same query (all owners in building, unit, room order); ours"
                 " writes the owner file (GBK, rooms as numbers, dates yyyy/M/d, terminals as numbers), COPY"
                 " (query) TO STDOUT writes the raw columns as CSV (UTF-8, the bitmap in the connection's"
                 " bytea form) through libpq into a file."
              << Qt::endl;
    } else {
        out()
            << "Compared, for the import: ours reads the GBK owner file, converts every line, and in commits"
               " of "
            << EngineFor(dm->Target()).ImportLinesPerCommit()
            << " lines deletes the rows it replaces (through the card number's index) and inserts the owner;"
               " sqlite3 .import reads the same rows already converted to the 22 UserInfo columns (UTF-8, "
               "keys"
               " given, bitmap as hex text) into UserInfo of an empty database of the same schema (same"
               " columns, collations and indexes), rollback journal, synchronous=FULL, one transaction."
            << Qt::endl;
        out() << "For the export: both run the same query (all owners in building, unit, room order, through "
                 "the"
                 " index); ours writes the owner file (GBK, rooms as numbers, dates yyyy/M/d, terminals as"
                 " numbers), sqlite3 -csv writes the raw columns (UTF-8, the bitmap as raw bytes)."
              << Qt::endl;
    }

    std::vector<double> ours, oursProgress, oursAgain, shellImport, oursExport, shellExport;
    int progressCalls = 0;
    qint64 progressNs = 0;
    for (int run = 0; run < runs; ++run) {
        for (bool withProgress : {false, true}) {
            if (!emptyDatabase())
                return 1;
            // In the window the progress repaints: here it lets the event loop run, as the window does.
            ExchangeProgress progress;
            if (withProgress)
                progress = [&](int, int) {
                    QElapsedTimer inside;
                    inside.start();
                    ++progressCalls;
                    QCoreApplication::processEvents();
                    progressNs += inside.nsecsElapsed();
                };
            QElapsedTimer t;
            t.start();
            const ExchangeResult r = ImportOwners(file, progress);
            (withProgress ? oursProgress : ours).push_back(double(t.nsecsElapsed()) / 1e6);
            if (!r.ok() || owners() != Owners) {
                out() << "import failed: " << r.message << Qt::endl;
                return 1;
            }
            if (withProgress) {
                t.start();
                const ExchangeResult again = ImportOwners(file);
                oursAgain.push_back(double(t.nsecsElapsed()) / 1e6);
                if (!again.ok() || owners() != Owners)
                    return 1;
            }
            delete dm;
            dm = nullptr;
        }

        double s = -1;
        if (server) {
            if (copy.run(QStringLiteral("drop table if exists bench_copy")) &&
                copy.run(QStringLiteral("create table bench_copy (like UserInfo including all)")))
                s = copy.copyIn(QStringLiteral("bench_copy"), rowBytes);
        } else {
            QFile::remove(shellDb);
            QFile::copy(emptyDb, shellDb);
            s = runShell(shell, {shellDb, QStringLiteral("-cmd"), QStringLiteral("PRAGMA synchronous=FULL"),
                                 QStringLiteral(".import --csv %1 UserInfo").arg(rows)});
        }
        if (s < 0)
            return 1;
        shellImport.push_back(s);

        newDataModule();
        QElapsedTimer t;
        t.start();
        const ExchangeResult r = ExportOwners(AppPath + QStringLiteral("export.csv"), ExportFilter{});
        oursExport.push_back(double(t.nsecsElapsed()) / 1e6);
        delete dm;
        dm = nullptr;
        if (!r.ok() || r.done != Owners) {
            out() << "export failed: " << r.message << Qt::endl;
            return 1;
        }
        const double e =
            server
                ? copy.copyOut(ExportStatement(ExportFilter{}), AppPath + QStringLiteral("shell-export.csv"))
                : runShell(shell,
                           {QStringLiteral("-csv"), Tdm::DatabasePath(), ExportStatement(ExportFilter{})},
                           AppPath + QStringLiteral("shell-export.csv"));
        if (e < 0)
            return 1;
        shellExport.push_back(e);
    }
    if (server)
        copy.run(QStringLiteral("drop table if exists bench_copy"));

    auto line = [](const QString& what, double ms) {
        out() << QStringLiteral("%1 %2 ms").arg(what, -62).arg(ms, 9, 'f', 1) << Qt::endl;
    };
    const QString tool = server ? QStringLiteral("COPY") : QStringLiteral("sqlite3");
    const double importMs = median(ours);
    const double withProgressMs = median(oursProgress);
    line(QStringLiteral("import, ours (empty table)"), importMs);
    line(QStringLiteral("import, ours, progress letting the event loop run"), withProgressMs);
    line(QStringLiteral("import, ours, the same file again (replacing every owner)"), median(oursAgain));
    line(server ? QStringLiteral("import, server's COPY into an empty copy of the table")
                : QStringLiteral("import, sqlite3 .import"),
         median(shellImport));
    line(QStringLiteral("export, ours"), median(oursExport));
    line(server ? QStringLiteral("export, server's COPY (query) TO STDOUT")
                : QStringLiteral("export, sqlite3 -csv"),
         median(shellExport));
    out() << QStringLiteral("progress: %1 calls per import, %2 ms in them (%3 % of the import); the import "
                            "with them took %4 % longer than without (run-to-run noise included)")
                 .arg(progressCalls / runs)
                 .arg(double(progressNs) / 1e6 / runs, 0, 'f', 2)
                 .arg(double(progressNs) / 1e6 / runs / importMs * 100.0, 0, 'f', 2)
                 .arg((withProgressMs - importMs) / importMs * 100.0, 0, 'f', 1)
          << Qt::endl;
    out() << QStringLiteral("ratio import ours / %1: %2")
                 .arg(tool)
                 .arg(importMs / median(shellImport), 0, 'f', 2)
          << Qt::endl;
    out() << QStringLiteral("ratio export ours / %1: %2")
                 .arg(tool)
                 .arg(median(oursExport) / median(shellExport), 0, 'f', 2)
          << Qt::endl;
    return 0;
}
