#pragma once

#include "store/Database.h"
#include "store/SqlText.h"

#include <QString>
#include <QTextStream>
#include <functional>
#include <map>
#include <random>

// What the store benchmarks share: the database of a large community (100,000 owners in 200
// buildings of 10 units, 255 terminals), filled through the data module dm, and the table of
// median, p95 and worst times they print. Main thread only.
namespace bench {

constexpr int Owners = 100000;
constexpr int Buildings = 200;
constexpr int UnitsPerBuilding = 10;
constexpr int Terminals = 255;
constexpr int OwnersPerUnit = Owners / (Buildings * UnitsPerBuilding);

// Owner i (from 0) gets idx i + 1, card serial PadNumber(100000000 + i, 10), these card
// number and name, building i / OwnersPerUnit / UnitsPerBuilding + 1, unit
// i / OwnersPerUnit % UnitsPerBuilding + 1 and room i % OwnersPerUnit + 101 in four digits.
QString cardNo(int i);
QString userName(int i);
QString cardSerial(int i);
QString room(int i);

// "--database URL" among the arguments (taken out of them): the benchmark then runs on that
// PostgreSQL server instead of the SQLite file of the program folder. The server's database must be
// one for benchmarks (its name starts with "iccard_bench"): its tables are dropped. Exits with a
// message for a URL that names no such server database.
void takeDatabaseOption(int& argc, char** argv);
// The database of the run: the server given, or the program folder's file.
const DatabaseTarget& target();
// A data module on an empty database of the run (the file removed, or the server's tables dropped),
// made the program's dm.
void newEmptyDataModule();
// A data module on the database of the run as it is, made the program's dm.
void newDataModule();
// Where the data is: the file, or the server's database.
QString describeDatabase();
// The size of the database in MB.
double databaseMb();

// Fills the empty database of dm in one transaction. False on any failure.
bool fill(std::mt19937& rng);

// What every store benchmark does first: the program folder is the folder named on the command
// line (or scratch, a temporary one), the database (in it, or the server's of --database) is made
// anew and filled, and the data set and the heading of the table are printed. False (after saying so) when
// filling failed.
bool setUp(int argc, char** argv, const QString& scratch);

// The benchmark's output.
QTextStream& out();

// The first line: the data set and how long it took to fill.
void printDataSet(qint64 fillMs);
// The heading of the table of times, and one line of it.
void printHeading();
struct Figure {
    double median;
    double p95;
    double worst;
};
void report(const QString& name, int n, const Figure& f);

// Runs op n times and gives its times in microseconds; before, when given, runs untimed ahead of
// each run.
Figure time(int n, const std::function<void(int)>& op, const std::function<void(int)>& before = {});

// The statements, one of each, with the query plans the engine makes for them.
void printPlans(const std::map<QString, SqlParams>& statements);

} // namespace bench
