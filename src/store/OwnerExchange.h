#pragma once

#include "DM.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Owner data files ("对帐文件"): the owners of a unit or of the whole community written to a
// comma-separated file, and such a file read back, each line taking the place of the owners with
// its card number in its building and unit. The owner card window and the command line iccard-data
// both run them through this unit, which holds every rule of the file; they only show what it
// returns. User-interface thread only (the command line's main thread).
//
// The file: GBK text (with the user-defined areas of the Chinese Windows code page, where offices
// keep rare characters), lines ending in CR LF, the header line OwnerFileHeader, then one line per
// owner of 13 fields separated by "," (no quoting): building, unit, room (a whole number written
// without leading zeros), "_" + card serial, name, telephone, "是"/"否", expiry yyyy/M/d, sex,
// card type, "_" + card number, photo file ("null.jpg" for none), and the permitted terminals,
// each followed by "|" ("0|3|17|"). An empty value is an empty field. A comma or line break
// inside a text is written as "，" or a blank, so that every line keeps its 13 fields. An export is
// whole or absent: it is written beside the target and takes its place once complete on the disk.
// It writes nothing the import would not read back: an owner without a building or unit, with an
// expiry that is no date, or with a text GBK cannot hold refuses the whole export, naming them.
//
// Reading: the first line is passed over whatever it says. Lines may end in CR LF, LF or CR alone.
// The file may also be UTF-8 (with the byte-order mark, or without one when it reads as UTF-8 or
// not as GBK), as spreadsheet programs save it. A line whose first field is empty is skipped (and
// counted); the expiry may be yyyy/M/d, yyyy-M-d or yyyy.M.d (an empty one is the day a zeroed
// record holds); fields 4 and 11 lose one leading "_". A line that cannot be read (other than 13
// fields, building or unit not a whole number, a date that is none, a terminal outside 0..255,
// bytes that are neither GBK nor UTF-8) stops the run there: the lines before it are kept, it
// changes nothing. A line the database refuses for its values is reported ("执行错误：" and the
// statement) and the run goes on; a database that cannot take changes (read-only, full, held by
// another program) stops the run at once. Messages quote at most 40 characters of a field.

extern const char* const OwnerFileHeader;

// The texts the runs and their callers show.
extern const char* const ExchangeDoneText;    // "操作完成"
extern const char* const ExchangeMissingText; // "数据文件不存在,操作终止"
extern const char* const ExchangeFileErrorText; // "操作错误：文件正在被使用，请关闭文件后再操作"
extern const char* const ExportChoiceRefusedText; // "栋号，单元号输入错误．操作终止"
extern const char* const ExportEveryoneQuestion;  // "要导出所有的用户记录吗？"
extern const char* const ExportOverwriteQuestion; // "文件已经存在，覆盖文件吗？"
extern const char* const ExportRefusedOwnersText; // the refusal when owners cannot go into the file
extern const char* const ImportEmptyText;         // "文件中没有业主资料"
extern const char* const ImportQuestion;          // "导入数据吗?"

// Progress of a run: done of total (owners written, or lines read after the header). Called at the
// start, at most every 50 ms on the way and at the end, so a caller may repaint in it (the owner
// card window lets the event loop run without user input). Nothing may write to the database from
// it while the run is going.
using ExchangeProgress = std::function<void(int done, int total)>;

// Which owners an export writes: everyone, or those of one unit of one building.
struct ExportFilter {
    bool everyone = true;
    int building = 0;
    int unit = 0;
};

// The export choice on the building and unit texts (as typed in the dialog or given on the command
// line): both empty is everyone; otherwise both must be whole numbers, and the filter is that unit.
// Nothing when they are not.
std::optional<ExportFilter> ExportFilterFromTexts(const QString& building, const QString& unit);
// The same with its messages, through the dialog seam: texts that are not both whole numbers are
// refused ("栋号，单元号输入错误．操作终止"); for everyone the question "要导出所有的用户记录吗？" is
// asked when askForEveryone (the window) and No stops. Nothing when the export is not to run.
std::optional<ExportFilter> ChooseExport(const QString& building, const QString& unit,
                                         bool askForEveryone = true);

// The window's file choices, through the dialog seam. The export file: the save dialog for
// "对帐文件 (*.csv)", ".csv" added to a name without a suffix, and "文件已经存在，覆盖文件吗？" for a
// file that exists. The import file: the open dialog for "*.csv", then "导入数据吗?". Empty when
// the operator cancelled or answered No.
QString AskExportFileName();
QString AskImportFileName();

enum class ExchangeStatus {
    Done,         // the whole file was written or read (refused lines are counted in refused)
    Missing,      // import: the file does not exist
    FileError,    // the file could not be opened, read or written; no file was left by an export
    Stopped,      // import: a line could not be read; the lines before it are kept
    Failed,       // the database could not be used (message empty: already shown) or could take no
                  // more changes (the lines up to the last commit are kept)
    Unexportable, // export: owners the file cannot carry; no file was left
    Empty,        // import: the file holds no owner line; nothing changed
};

struct ExchangeResult {
    ExchangeStatus status = ExchangeStatus::Done;
    int total = 0;    // owners to write, or lines after the header
    int done = 0;     // owners written, or lines taken and kept (imported, skipped and refused)
    int skipped = 0;  // import: lines with an empty first field
    int refused = 0;  // import: lines the database refused, each reported
    int stopLine = 0; // Stopped, Failed: the first line of the file not imported (the header is 1)
    QString reason;   // FileError, Stopped, Failed: what could not be done or read, for the operator
    // Unexportable: one entry per owner the file cannot carry, in the order of the file: "第N行
    // （building栋unit单元room，卡号别名 no）：" and what is wrong.
    QStringList unexportable;
    // The message box to show: empty when there is nothing left to show (Failed).
    QString message;
    bool ok() const { return status == ExchangeStatus::Done; }
};

// Writes the owners the filter picks, all of them also when reported lost, ordered by building, unit
// and room, to fileName: beside it first, then in its place once whole on the disk; any failure
// leaves an existing file as it was, and says why in words. When an owner cannot go into the file
// as the import would read it back (a text with a character GBK cannot hold, such as an emoji,
// which a question mark would replace in the owner's name; no building, which the import skips; no
// unit or an expiry that is no date, at which it stops), the export is refused as a whole and no
// file is written. The result names every such line, its owner and what is wrong
// (ExportRefusedOwnersText), so the operator can correct them and export again.
ExchangeResult ExportOwners(const QString& fileName, const ExportFilter& filter,
                            const ExchangeProgress& progress = {});
// The query of the export (a filter's building and unit are the parameters :DongHao, :DanYuan).
QString ExportStatement(const ExportFilter& filter);

struct ImportOptions {
    ExchangeProgress progress;
    // Called after every commit with the number of the last line of the file now kept.
    std::function<void(int line)> committed;
    // Owner lines per commit; 0: the engine's own (Engine::ImportLinesPerCommit).
    int linesPerCommit = 0;
};

// The reading side of an owner data file, without the database: the file's bytes decoded (GBK, or
// UTF-8 as above), cut into lines after the header and each line converted into an owner record.
// The import reads through it; it needs no data module and touches no program state, so any thread
// may use a reader of its own.
enum class OwnerLineKind {
    Owner,      // the record holds the line's owner
    Skipped,    // the first field is empty
    Unreadable, // the line cannot be read: reason says why, and the run stops there
};

struct OwnerLine {
    OwnerLineKind kind = OwnerLineKind::Skipped;
    int number = 0; // the line of the file (the header is line 1)
    QString reason; // Unreadable: what could not be read, for the operator
};

class OwnerFileReader {
public:
    // bytes (size of them; null when size is 0) must outlive the reader.
    OwnerFileReader(const char* bytes, qsizetype size);
    // Lines after the header, counted in the bytes as they are: the progress total of a run.
    int Total() const { return m_total; }
    // The next line of the readable text into line and, for an owner, into rec (emptied first).
    // False when no line is left.
    bool Next(OwnerLine& line, TuserInfoRec& rec);
    // The line last read (the header is line 1).
    int LineNo() const { return m_lineNo; }
    // The line at which bytes that are neither GBK nor UTF-8 begin: the readable text ends before
    // it. 0 when every byte could be read.
    int BadLine() const { return m_badLine; }
    // Whether the text was read as UTF-8 (otherwise GBK).
    bool Utf8() const { return m_utf8; }

private:
    // The readable bytes after the header, decoded a line at a time into m_line.
    const char* m_bytes = nullptr;
    qsizetype m_end = 0;
    qsizetype m_pos = 0;
    qsizetype m_nextLf = -1; // where the next LF and CR are (the readable end when there is none)
    qsizetype m_nextCr = -1;
    QString m_line;
    int m_lineNo = 1;
    int m_total = 0;
    int m_badLine = 0;
    bool m_utf8 = false;
};

// Reads an owner data file into the owners, in file order, in commits of many lines. A database
// that takes no more changes stops the run at once: the commit it was in is undone, and the result
// says why, how many lines are kept and the first line that is not (Failed, in one message).
ExchangeResult ImportOwners(const QString& fileName, const ImportOptions& options);
ExchangeResult ImportOwners(const QString& fileName, const ExchangeProgress& progress = {});

// Shows the result through the dialog seam, in one box: "操作完成" (a notice), "数据文件不存在,操作终止",
// a file without owners or the owners the file cannot carry (a refusal), or the file error, the
// line that could not be read or the database's trouble (an error box).
void ShowExchangeResult(const ExchangeResult& result);
