#pragma once

// The operation log read out: the entries of a log query (OperationLogList) as a GBK CSV file like
// the owner data file, for the log window's export and `iccard-data log --csv`, and as lines of
// text for the command line. Both run on the data module's connection. User-interface (main)
// thread only.

#include "store/ListModel.h"

#include <QString>
#include <functional>

// The first line of the file.
inline const char* const LogFileHeader = "时间,电脑,系统用户,操作员级别,操作,结果,卡号,业主,详情";

struct LogFileResult {
    bool ok = false;
    int entries = 0;  // entries written
    int replaced = 0; // characters GBK cannot hold, written as '?'
    QString message;  // why the file was not written, naming it
};

// Writes the entries the query lists into fileName, in the query's order or, with oldestFirst, the
// other way round: the header, then one line per entry, CR LF after each. Commas and line breaks
// inside a value become "，" and a space, as in the owner data file. The file is written beside its
// place and takes it only when whole (an older file of the name is replaced then): on a failure
// the name holds what it held before.
LogFileResult WriteLogFile(const QString& fileName, const ListQuery& query, bool oldestFirst = false);

// Hands every entry the query lists to line, as one line of text (the file's fields, separated
// by tabs; a tab or a line break inside a value becomes a space), in the query's order or the
// other way round. Returns how many. Throws OperationError
// on an engine error.
int ForEachLogLine(const ListQuery& query, bool oldestFirst, const std::function<void(const QString&)>& line);
