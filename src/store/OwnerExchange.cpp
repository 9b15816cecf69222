#include "OwnerExchange.h"

#include "AppPath.h"
#include "DM.h"
#include "Dialogs.h"
#include "FileSync.h"
#include "ImportBatch.h"
#include "LogEntries.h"
#include "OperationError.h"
#include "Prepared.h"
#include "engine/Engine.h"

#include "cards/Digits.h"
#include "cards/Gbk.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <map>
#include <vector>

const char* const OwnerFileHeader =
    "栋号,单元号,房号,固有卡号,业主姓名,联系电话,有效期使用,有效期,性别,卡类型,卡号别名,相片文件,门禁设备";
const char* const ExchangeDoneText = "操作完成";
const char* const ExchangeMissingText = "数据文件不存在,操作终止";
const char* const ExchangeFileErrorText = "操作错误：文件正在被使用，请关闭文件后再操作";
const char* const ExportChoiceRefusedText = "栋号，单元号输入错误．操作终止";
const char* const ExportEveryoneQuestion = "要导出所有的用户记录吗？";
const char* const ExportOverwriteQuestion = "文件已经存在，覆盖文件吗？";
const char* const ExportRefusedOwnersText =
    "以下业主资料不能写入对帐文件（含有GBK编码不能表示的字符，如表情符号；或者导入时不能读回），"
    "文件未导出。请修改这些资料后再导出：";
const char* const ImportEmptyText = "文件中没有业主资料";
const char* const ImportQuestion = "导入数据吗?";

namespace {

constexpr int FieldCount = 13;
constexpr qint64 ProgressEveryMs = 50;

QString text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// Calls the progress at the start, at most every 50 ms on the way (the clock is read every 256
// steps), and at the end.
class Pacer {
public:
    Pacer(const ExchangeProgress& progress, int total) : m_progress(progress), m_total(total)
    {
        m_clock.start();
        if (m_progress)
            m_progress(0, total);
    }
    void step(int done)
    {
        if (m_progress && (done & 255) == 0 && m_clock.elapsed() >= ProgressEveryMs) {
            m_progress(done, m_total);
            m_clock.restart();
        }
    }
    void finish(int done)
    {
        if (m_progress)
            m_progress(done, m_total);
    }

private:
    const ExchangeProgress& m_progress;
    int m_total;
    QElapsedTimer m_clock;
};

ExchangeResult failed(const OperationError& e)
{
    ExchangeResult r;
    r.status = ExchangeStatus::Failed;
    r.message = e.shown() ? QString() : e.message();
    return r;
}

ExchangeResult fileError(ExchangeResult r, const QString& reason)
{
    r.status = ExchangeStatus::FileError;
    r.reason = reason;
    r.message = text(ExchangeFileErrorText) + QLatin1Char('\n') + reason;
    return r;
}

// An export that could not be written: nothing was left, and a file that was there stays.
ExchangeResult exportNotWritten(ExchangeResult r, const QString& reason, bool targetWasThere)
{
    r.status = ExchangeStatus::FileError;
    r.reason = reason;
    r.message = QStringLiteral("文件没有导出：%1。").arg(reason);
    if (targetWasThere)
        r.message += QStringLiteral("原来的文件没有改动。");
    return r;
}

// Where a run that stopped can go on: the lines kept, the first that is not (the header is line 1).
QString keptText(int keptLine)
{
    if (keptLine <= 1)
        return QStringLiteral("没有导入任何一行；从第 2 行起没有导入。");
    return QStringLiteral("已导入 %1 行（第 2 行到第 %2 行）；从第 %3 行起没有导入。")
        .arg(keptLine - 1)
        .arg(keptLine)
        .arg(keptLine + 1);
}

// ---- Export ---------------------------------------------------------------------------------------

// A text of the database in a field: a comma would start another field and a line break another
// line, so they are written as "，" and a blank.
void appendText(QByteArray& out, QByteArrayView v)
{
    const char* p = v.data();
    const qsizetype n = v.size();
    qsizetype from = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char c = p[i];
        if (c != ',' && c != '\r' && c != '\n')
            continue;
        out.append(p + from, i - from);
        out.append(c == ',' ? "\xEF\xBC\x8C" : " "); // "，" in UTF-8
        from = i + 1;
    }
    out.append(p + from, n - from);
}

// A whole number in decimal, without a buffer of its own on the heap (one per field of 100,000 lines).
void appendNumber(QByteArray& out, qint64 value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end - digits);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The room as a whole number ("0101" is 101); a room that is not one is written as it stands.
void appendRoom(QByteArray& out, QByteArrayView v)
{
    qsizetype b = 0;
    qsizetype e = v.size();
    while (b < e && isBlank(v[b]))
        ++b;
    while (e > b && isBlank(v[e - 1]))
        --e;
    qsizetype i = b;
    const bool negative = i < e && v[i] == '-';
    if (i < e && (v[i] == '-' || v[i] == '+'))
        ++i;
    qint64 value = 0;
    bool whole = i < e;
    for (; whole && i < e; ++i) {
        whole = v[i] >= '0' && v[i] <= '9';
        value = value * 10 + (v[i] - '0');
        whole = whole && value <= 2147483648LL;
    }
    if (negative)
        value = -value;
    if (whole && value <= 2147483647LL)
        appendNumber(out, value);
    else
        appendText(out, v);
}

// The expiry as the short date of a Chinese desktop, yyyy/M/d, from the stored ISO text (older
// rows may hold another form StoredDate reads). False for a value that is no date (the import
// would stop at it); an empty value is written as an empty field.
bool appendDate(QByteArray& out, QByteArrayView v)
{
    if (v.isEmpty())
        return true;
    auto digit = [&v](qsizetype i) { return v[i] >= '0' && v[i] <= '9'; };
    int year = 0;
    int month = 0;
    int day = 0;
    if (v.size() >= 10 && digit(0) && digit(1) && digit(2) && digit(3) && v[4] == '-' && digit(5) &&
        digit(6) && v[7] == '-' && digit(8) && digit(9) && (v.size() == 10 || v[10] == ' ' || v[10] == 'T')) {
        auto number = [&v](qsizetype at, int n) {
            int value = 0;
            for (int k = 0; k < n; ++k)
                value = value * 10 + (v[at + k] - '0');
            return value;
        };
        year = number(0, 4);
        month = number(5, 2);
        day = number(8, 2);
    }
    if (!QDate::isValid(year, month, day)) {
        try {
            const QDate stored = StoredDate(QString::fromUtf8(v));
            year = stored.year();
            month = stored.month();
            day = stored.day();
        } catch (const OperationError&) {
            appendText(out, v);
            return false;
        }
    }
    // Four digits of year, as the import reads them.
    if (year >= 0 && year < 1000)
        out.append(year < 10 ? "000" : year < 100 ? "00" : "0");
    appendNumber(out, year);
    out.append('/');
    appendNumber(out, month);
    out.append('/');
    appendNumber(out, day);
    return true;
}

// Whether a building or unit as stored reads back as a whole number of the file.
bool wholeNumber(QByteArrayView v)
{
    qsizetype i = !v.isEmpty() && v[0] == '-' ? 1 : 0;
    if (v.size() > i && v.size() - i <= 9) {
        for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        }
        if (i == v.size())
            return true;
    }
    return ParseInt32(QString::fromUtf8(v)).has_value();
}

// Every terminal whose bit is set, ascending, each followed by "|".
void appendTerminals(QByteArray& out, QByteArrayView bitmap)
{
    const qsizetype n = std::min<qsizetype>(bitmap.size(), TerminalBitmapSize);
    for (qsizetype i = 0; i < n; ++i) {
        const auto byte = static_cast<uint8_t>(bitmap[i]);
        for (int bit = 0; byte != 0 && bit < 8; ++bit) {
            if (byte & (0x80 >> bit)) {
                appendNumber(out, int(i) * 8 + bit);
                out.append('|');
            }
        }
    }
}

// The columns of the export query, in the order of the file's fields.
enum Column {
    DongHao,
    DanYuan,
    FangHao,
    CardID,
    UserName,
    Phone,
    UseExpdate,
    Expdate,
    Sex,
    UserType,
    CardNo,
    ExtName,
    Terminals
};

// Appends the line of the current row; what keeps it out of the file (a place or an expiry the
// import could not read back) goes to problems.
void appendLine(QByteArray& out, const PreparedStatement& row, QStringList& problems)
{
    auto field = [&](Column c) { appendText(out, row.Text(c)); };
    auto place = [&](Column c, const char* none, const char* what) {
        if (row.IsNull(c) || row.Text(c).isEmpty())
            problems << text(none);
        else if (!wholeNumber(row.Text(c)))
            problems
                << QStringLiteral("%1“%2”不是整数").arg(text(what), Abridged(QString::fromUtf8(row.Text(c))));
    };
    place(DongHao, "没有栋号", "栋号");
    place(DanYuan, "没有单元号", "单元号");
    field(DongHao);
    out.append(',');
    field(DanYuan);
    out.append(',');
    appendRoom(out, row.Text(FangHao));
    out.append(",_");
    field(CardID);
    out.append(',');
    field(UserName);
    out.append(',');
    field(Phone);
    out.append(',');
    field(UseExpdate);
    out.append(',');
    if (!row.IsNull(Expdate) && !appendDate(out, row.Text(Expdate)))
        problems << QStringLiteral("有效期“%1”不是日期").arg(Abridged(QString::fromUtf8(row.Text(Expdate))));
    out.append(',');
    field(Sex);
    out.append(',');
    field(UserType);
    out.append(",_");
    field(CardNo);
    out.append(',');
    const QByteArrayView photo = row.Text(ExtName);
    if (photo.isEmpty())
        out.append("null.jpg");
    else
        appendText(out, photo);
    out.append(',');
    appendTerminals(out, row.Blob(Terminals));
    out.append("\r\n");
}

// An owner the file cannot carry, by the line it would have (the header is line 1): where it lives
// and its card number alias, as the line has them, and what is wrong.
struct Refusal {
    QString place;
    QString cardNo;
    QStringList problems;
};
using Refusals = std::map<int, Refusal>;

// Notes a problem of a line (UTF-8, without its line end) of the export.
void refuseLine(Refusals& refusals, int lineNo, const QByteArray& line, const QString& problem)
{
    Refusal& r = refusals[lineNo];
    if (r.problems.isEmpty()) {
        const QList<QByteArray> fields = line.split(',');
        auto field = [&](int f) {
            const QString v = QString::fromUtf8(fields.value(f));
            return v.isEmpty() ? QStringLiteral("？") : Abridged(v);
        };
        r.place = QStringLiteral("%1栋%2单元%3")
                      .arg(field(0), field(1), Abridged(QString::fromUtf8(fields.value(2))));
        r.cardNo = Abridged(QString::fromUtf8(fields.value(10)).mid(1));
    }
    r.problems << problem;
}

// Notes the lines of a block (UTF-8; starts: where each line begins, the first is file line
// firstLine) whose texts GBK cannot hold, with the columns at fault.
void noteUnencodable(const QByteArray& block, const std::vector<qsizetype>& starts, int firstLine,
                     Refusals& refusals)
{
    const QStringList columns = QString::fromUtf8(OwnerFileHeader).split(QLatin1Char(','));
    QByteArray scratch;
    for (size_t i = 0; i < starts.size(); ++i) {
        const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : block.size();
        const QByteArray line = block.mid(starts[i], end - starts[i]).chopped(2); // without CR LF
        scratch.clear();
        if (AppendUtf8AsGbk(line.constData(), line.size(), scratch) == 0)
            continue;
        const QList<QByteArray> fields = line.split(',');
        QStringList bad;
        for (qsizetype f = 0; f < fields.size() && f < columns.size(); ++f) {
            scratch.clear();
            if (AppendUtf8AsGbk(fields[f].constData(), fields[f].size(), scratch) > 0)
                bad << columns[f];
        }
        refuseLine(refusals, firstLine + int(i), line,
                   bad.join(QStringLiteral("、")) + QStringLiteral("有GBK编码不能表示的字符"));
    }
}

QString filterClause(const ExportFilter& filter)
{
    return filter.everyone ? QStringLiteral(" where 1 = 1")
                           : QStringLiteral(" where 1 = 1 and DongHao = :DongHao and DanYuan = :DanYuan");
}

SqlParams filterParams(const ExportFilter& filter)
{
    if (filter.everyone)
        return {};
    return {{QStringLiteral("DongHao"), filter.building}, {QStringLiteral("DanYuan"), filter.unit}};
}

// ---- Import ---------------------------------------------------------------------------------------

// Fields of one line: field k runs from after the (k-1)-th comma to the k-th comma, or to the end of
// the line. count receives how many fields the line has, also beyond the thirteenth.
std::array<QStringView, FieldCount> splitFields(QStringView line, int& count)
{
    std::array<QStringView, FieldCount> fields{};
    qsizetype from = 0;
    count = 0;
    while (count < FieldCount && from <= line.size()) {
        qsizetype comma = line.indexOf(u',', from);
        if (comma < 0)
            comma = line.size();
        fields[size_t(count++)] = line.mid(from, comma - from);
        from = comma + 1;
    }
    if (from <= line.size()) // the thirteenth field ended at a comma: the fields after it
        count += int(line.mid(from).count(u',')) + 1;
    return fields;
}

// Puts a field into a text of the record: into the text's own buffer when it has one big enough, so
// that reading a hundred thousand lines does not make a hundred thousand texts of each field.
void setText(QString& text, QStringView field)
{
    if (!text.isDetached() || text.capacity() < field.size()) {
        text = field.toString();
        return;
    }
    text.resize(field.size());
    std::copy(field.begin(), field.end(), text.data());
}

QStringView withoutUnderscore(QStringView field)
{
    return field.startsWith(u'_') ? field.mid(1) : field;
}

// The texts every owner line fills.
constexpr QString TuserInfoRec::*LineTexts[] = {
    &TuserInfoRec::FangHao,  &TuserInfoRec::CardID,       &TuserInfoRec::UserName,
    &TuserInfoRec::Phone,    &TuserInfoRec::chUseExpdate, &TuserInfoRec::Sex,
    &TuserInfoRec::UserType, &TuserInfoRec::CardNo,       &TuserInfoRec::ExtName};

// An empty record for the next line, which keeps the buffers of the texts every line fills.
void clearKeepingBuffers(TuserInfoRec& rec)
{
    TuserInfoRec fresh;
    for (QString TuserInfoRec::*text : LineTexts)
        (fresh.*text).swap(rec.*text);
    rec = std::move(fresh);
}

// One owner line into a record; the reason it cannot be read otherwise.
std::optional<QString> readLine(const std::array<QStringView, FieldCount>& f, TuserInfoRec& rec)
{
    const auto building = ParseInt32(f[0]);
    if (!building)
        return QStringLiteral("栋号“%1”不是整数").arg(Abridged(f[0]));
    const auto unit = ParseInt32(f[1]);
    if (!unit)
        return QStringLiteral("单元号“%1”不是整数").arg(Abridged(f[1]));
    rec.DongHao = *building;
    rec.DanYuan = *unit;
    if (!f[7].isEmpty()) {
        try {
            rec.ExpDate = DateFromText(f[7]);
        } catch (const OperationError&) {
            return QStringLiteral("有效期“%1”不是日期（应为 年/月/日，例如 2025/6/30）").arg(Abridged(f[7]));
        }
    }
    rec.VaildTerminal.fill(0);
    if (!f[12].isEmpty()) {
        QStringView list = f[12];
        qsizetype from = 0;
        while (from < list.size()) {
            qsizetype bar = list.indexOf(u'|', from);
            if (bar < 0)
                bar = list.size(); // the last entry without its "|"
            const QStringView entry = list.mid(from, bar - from);
            const std::optional<int> terminal = TerminalFromText(entry);
            if (!terminal)
                return QStringLiteral("门禁设备“%1”不是 0 到 255 之间的门禁编号").arg(Abridged(entry));
            SetTerminal(rec.VaildTerminal.data(), *terminal);
            from = bar + 1;
        }
    }
    setText(rec.FangHao, f[2]);
    setText(rec.CardID, withoutUnderscore(f[3]));
    setText(rec.UserName, f[4]);
    setText(rec.Phone, f[5]);
    setText(rec.chUseExpdate, f[6]);
    rec.IsUseExpDate = f[6] == u"是";
    setText(rec.Sex, f[8]);
    setText(rec.UserType, f[9]);
    setText(rec.CardNo, withoutUnderscore(f[10]));
    setText(rec.ExtName, f[11]);
    return std::nullopt;
}

// Line ends in bytes: LF, CR LF (one) and CR alone.
qsizetype countLineEnds(const char* bytes, qsizetype size)
{
    qsizetype n = std::count(bytes, bytes + size, '\n');
    const char* end = bytes + size;
    for (const char* p = bytes; (p = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)))); ++p) {
        if (p + 1 == end || p[1] != '\n')
            ++n;
    }
    return n;
}

// Where the first line ends and the next begins: after the first LF, CR LF or CR; size when there
// is no line end.
qsizetype afterFirstLine(const char* bytes, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i) {
        if (bytes[i] == '\n')
            return i + 1;
        if (bytes[i] == '\r')
            return i + 1 < size && bytes[i + 1] == '\n' ? i + 2 : i + 1;
    }
    return size;
}

bool onlyAscii(const char* bytes, qsizetype size)
{
    return std::all_of(bytes, bytes + size, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The text of the file after its header line: GBK, or UTF-8 when the file starts with the
// byte-order mark, or when the text reads as UTF-8 with characters beyond ASCII (GBK owner lines
// almost never do: "是", "男" and the card type do not, while UTF-8 often reads as GBK with the
// user-defined areas), or when it is UTF-8 and not GBK. The header plays no part in the choice (it
// is not read). When some bytes are neither, the encoding that reads further is taken, and the text
// ends before the line that holds them (badLine, counted from the header as line 1). The text is
// the bytes from begin to end, decoded line by line as they are read (a line end is never part of
// a GBK or UTF-8 sequence).
struct FileText {
    qsizetype begin = 0;
    qsizetype end = 0;
    int badLine = 0;
    bool utf8 = false;
};

FileText findText(const char* bytes, qsizetype size)
{
    FileText out;
    if (size <= 0)
        return out; // an empty file has no bytes to look at (and may come without a buffer)
    static const char bom[] = "\xEF\xBB\xBF";
    const bool withBom = size >= 3 && std::memcmp(bytes, bom, 3) == 0;
    const qsizetype body = afterFirstLine(bytes, size);

    qsizetype validEnd = size;
    const qsizetype utf8End = body + ValidUtf8Prefix(bytes + body, size - body);
    if (withBom || (utf8End == size && !onlyAscii(bytes + body, size - body))) {
        out.utf8 = true;
        validEnd = utf8End;
    } else {
        const qsizetype gbkEnd = body + ValidGbkPrefix(bytes + body, size - body);
        out.utf8 = gbkEnd < size && utf8End > gbkEnd;
        validEnd = std::max(gbkEnd, utf8End);
    }
    qsizetype end = size;
    if (validEnd < size) {
        // The text stops at the start of the line that cannot be read.
        end = validEnd;
        while (end > 0 && bytes[end - 1] != '\n' && bytes[end - 1] != '\r')
            --end;
        out.badLine = 1 + int(countLineEnds(bytes, end));
    }
    out.begin = std::min(body, end);
    // UTF-8 text takes a byte-order mark at its start as no character: one right after the header
    // is dropped, as decoding the text after the header in one piece drops it.
    if (out.utf8 && end - out.begin >= 3 && std::memcmp(bytes + out.begin, bom, 3) == 0)
        out.begin += 3;
    out.end = end;
    return out;
}

} // namespace

// ---- Reading -------------------------------------------------------------------------------------

OwnerFileReader::OwnerFileReader(const char* bytes, qsizetype size) : m_bytes(bytes)
{
    const FileText text = findText(bytes, size);
    m_pos = text.begin;
    m_end = text.end;
    m_badLine = text.badLine;
    m_utf8 = text.utf8;
    if (size > 0) {
        const char last = bytes[size - 1];
        const qsizetype lines = countLineEnds(bytes, size) + (last == '\n' || last == '\r' ? 0 : 1);
        m_total = std::max(int(lines) - 1, 0);
    }
}

bool OwnerFileReader::Next(OwnerLine& line, TuserInfoRec& rec)
{
    if (m_pos >= m_end)
        return false;
    // The next line end: LF, CR LF or CR alone. Where the next of each is stays known, so that a
    // file of one kind is searched through once for the other.
    auto find = [this](char c) {
        const void* at = std::memchr(m_bytes + m_pos, c, size_t(m_end - m_pos));
        return at ? qsizetype(static_cast<const char*>(at) - m_bytes) : m_end;
    };
    if (m_nextLf < m_pos)
        m_nextLf = find('\n');
    if (m_nextCr < m_pos)
        m_nextCr = find('\r');
    const qsizetype end = std::min(m_nextLf, m_nextCr);
    qsizetype next = end;
    if (end < m_end)
        next = m_bytes[end] == '\r' && end + 1 < m_end && m_bytes[end + 1] == '\n' ? end + 2 : end + 1;
    if (m_utf8)
        m_line = QString::fromUtf8(m_bytes + m_pos, end - m_pos);
    else
        DecodeGbk(m_bytes + m_pos, end - m_pos, m_line);
    const QStringView text(m_line);
    m_pos = next;
    line.number = ++m_lineNo;
    line.reason.clear();
    int count = 0;
    const auto fields = splitFields(text, count);
    if (fields[0].isEmpty()) {
        line.kind = OwnerLineKind::Skipped;
        return true;
    }
    clearKeepingBuffers(rec);
    if (count != FieldCount) {
        rec = TuserInfoRec{};
        line.kind = OwnerLineKind::Unreadable;
        line.reason =
            count < FieldCount
                ? QStringLiteral("只有 %1 个字段，应为 %2 个（这一行不完整）").arg(count).arg(FieldCount)
                : QStringLiteral("有 %1 个字段，应为 %2 个（资料中多了逗号）").arg(count).arg(FieldCount);
    } else if (std::optional<QString> reason = readLine(fields, rec)) {
        rec = TuserInfoRec{}; // nothing of the line, nor of the one before
        line.kind = OwnerLineKind::Unreadable;
        line.reason = std::move(*reason);
    } else {
        line.kind = OwnerLineKind::Owner;
    }
    return true;
}

// ---- Choices --------------------------------------------------------------------------------------

std::optional<ExportFilter> ExportFilterFromTexts(const QString& building, const QString& unit)
{
    if (building.isEmpty() && unit.isEmpty())
        return ExportFilter{};
    const auto b = ParseInt32(building);
    const auto u = ParseInt32(unit);
    if (!b || !u)
        return std::nullopt;
    return ExportFilter{false, *b, *u};
}

std::optional<ExportFilter> ChooseExport(const QString& building, const QString& unit, bool askForEveryone)
{
    const std::optional<ExportFilter> filter = ExportFilterFromTexts(building, unit);
    if (!filter) {
        ShowRefusal(text(ExportChoiceRefusedText));
        return std::nullopt;
    }
    if (filter->everyone && askForEveryone &&
        dialogs().message(MsgIcon::Question, MsgButtons::YesNo, text(ExportEveryoneQuestion)) !=
            MsgAnswer::Yes)
        return std::nullopt;
    return filter;
}

QString AskExportFileName()
{
    QString name =
        dialogs().saveFileName(QStringLiteral("导出业主资料"), AppPath, QStringLiteral("对帐文件 (*.csv)"));
    if (name.isEmpty())
        return QString();
    if (QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".csv");
    if (QFileInfo::exists(name) && !AskYesNo(text(ExportOverwriteQuestion)))
        return QString();
    return name;
}

QString AskImportFileName()
{
    const QString name =
        dialogs().openFileName(QStringLiteral("导入业主资料"), AppPath, QStringLiteral("*.csv"));
    if (name.isEmpty() || !AskYesNo(text(ImportQuestion)))
        return QString();
    return name;
}

// ---- Runs -----------------------------------------------------------------------------------------

namespace {

ExchangeResult exportOwners(const QString& fileName, const ExportFilter& filter,
                            const ExchangeProgress& progress)
{
    ExchangeResult r;
    const bool targetWasThere = QFileInfo::exists(fileName);
    try {
        const SqlParams params = filterParams(filter);
        const Engine& engine = EngineFor(dm->Target());
        PreparedStatement count(*dm, engine.ExportCountQuery(filterClause(filter)));
        count.Bind(params);
        const bool counted = count.Next();
        r.total = counted ? int(count.Int(0)) : 0;
        const bool placeless = counted && count.Int(1) > 0;
        count.Reset();
        PreparedStatement rows(*dm, engine.ExportQuery(ExportStatement(filter), placeless));
        rows.Bind(params);

        WholeFile file(fileName);
        if (!file.Open())
            return exportNotWritten(r, file.ErrorText(), targetWasThere);
        // Lines are gathered as UTF-8, the engine's own text, and written as GBK a block at a time.
        constexpr qsizetype Block = 256 * 1024;
        QByteArray lines;
        lines.reserve(Block + 4096);
        QByteArray gbk;
        gbk.reserve(Block + 4096);
        // Where each owner's line begins in the block, and the file line of the block's first one
        // (the header is line 1): what names a line that cannot go into the file.
        std::vector<qsizetype> starts;
        int firstLine = 2;
        Refusals refusals;
        QStringList problems;
        auto flush = [&] {
            gbk.clear();
            if (AppendUtf8AsGbk(lines.constData(), lines.size(), gbk) > 0)
                noteUnencodable(lines, starts, firstLine, refusals);
            firstLine += int(starts.size());
            lines.clear();
            starts.clear();
            // Once a line is refused the rest is only read, to name every line at fault.
            return !refusals.empty() || file.Write(gbk.constData(), gbk.size());
        };
        lines.append(OwnerFileHeader).append("\r\n");
        Pacer pacer(progress, r.total);
        while (rows.Next()) {
            const qsizetype start = lines.size();
            starts.push_back(start);
            problems.clear();
            appendLine(lines, rows, problems);
            ++r.done;
            for (const QString& problem : problems)
                refuseLine(refusals, r.done + 1, lines.mid(start, lines.size() - start - 2), problem);
            if (lines.size() >= Block && !flush())
                return exportNotWritten(r, file.ErrorText(), targetWasThere);
            pacer.step(r.done);
        }
        if (!flush())
            return exportNotWritten(r, file.ErrorText(), targetWasThere);
        pacer.finish(r.done);
        if (!refusals.empty()) {
            file.Discard();
            for (const auto& [line, refusal] : refusals)
                r.unexportable << QStringLiteral("第%1行（%2，卡号别名 %3）：%4")
                                      .arg(line)
                                      .arg(refusal.place, refusal.cardNo,
                                           refusal.problems.join(QStringLiteral("；")));
            constexpr qsizetype Listed = 20;
            r.status = ExchangeStatus::Unexportable;
            r.message = text(ExportRefusedOwnersText) + QLatin1Char('\n') +
                        r.unexportable.mid(0, Listed).join(QLatin1Char('\n'));
            if (r.unexportable.size() > Listed)
                r.message += QStringLiteral("\n……共 %1 行").arg(r.unexportable.size());
            return r;
        }
        if (!file.Commit())
            return exportNotWritten(r, file.ErrorText(), targetWasThere);
    } catch (const OperationError& e) {
        ExchangeResult f = failed(e);
        f.total = r.total;
        f.done = r.done;
        return f;
    }
    r.message = text(ExchangeDoneText);
    return r;
}

// What went wrong, in the words the operator saw (the first line of the box, or why it stopped).
QString exchangeOutcome(const ExchangeResult& r)
{
    if (r.ok())
        return LogSucceeded;
    const QString said = !r.reason.isEmpty() ? r.reason : r.message.section(QLatin1Char('\n'), 0, 0);
    return said.isEmpty() ? QStringLiteral("数据库不能使用") : said;
}

void recordExchange(const QString& action, const QString& fileName, const QString& filterText,
                    const ExchangeResult& r)
{
    LogEntry e;
    e.action = action;
    e.outcome = exchangeOutcome(r);
    QStringList parts{LogFields({{QStringLiteral("文件"), QDir::toNativeSeparators(fileName)}}), filterText};
    if (action == LogAction::ImportOwners)
        parts
            << QStringLiteral("读入 %1 行；跳过 %2 行；拒绝 %3 行").arg(r.done).arg(r.skipped).arg(r.refused);
    else
        parts << QStringLiteral("导出 %1 位业主").arg(r.ok() ? r.done : 0);
    if (r.stopLine > 0)
        parts << QStringLiteral("从第 %1 行起没有导入").arg(r.stopLine);
    e.details = LogJoin(parts);
    RecordOperation(e);
}

} // namespace

ExchangeResult ExportOwners(const QString& fileName, const ExportFilter& filter,
                            const ExchangeProgress& progress)
{
    const ExchangeResult r = exportOwners(fileName, filter, progress);
    recordExchange(LogAction::ExportOwners, fileName,
                   filter.everyone ? QStringLiteral("范围=全部业主")
                                   : LogFields({{QStringLiteral("栋号"), QString::number(filter.building)},
                                                {QStringLiteral("单元"), QString::number(filter.unit)}}),
                   r);
    return r;
}

QString ExportStatement(const ExportFilter& filter)
{
    // Only the columns the file carries: a photo kept in the database is never read.
    return QStringLiteral("select DongHao, DanYuan, FangHao, CardID, UserName, phone, chUseExpdate, Expdate, "
                          "Sex, UserType, CardNo, ExtName, VaildTerminal from UserInfo") +
           filterClause(filter) + QStringLiteral(" order by DongHao, DanYuan, FangHao");
}

ExchangeResult ImportOwners(const QString& fileName, const ExchangeProgress& progress)
{
    ImportOptions options;
    options.progress = progress;
    return ImportOwners(fileName, options);
}

namespace {

ExchangeResult importOwners(const QString& fileName, const ImportOptions& options);

} // namespace

ExchangeResult ImportOwners(const QString& fileName, const ImportOptions& options)
{
    const ExchangeResult r = importOwners(fileName, options);
    recordExchange(LogAction::ImportOwners, fileName, QString(), r);
    return r;
}

namespace {

ExchangeResult importOwners(const QString& fileName, const ImportOptions& options)
{
    ExchangeResult r;
    const QFileInfo info(fileName);
    if (!info.exists()) {
        r.status = ExchangeStatus::Missing;
        r.message = text(ExchangeMissingText);
        return r;
    }
    QFile file(fileName);
    if (!info.isFile())
        return fileError(r, QStringLiteral("%1 不是文件").arg(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return fileError(r, QStringLiteral("不能打开文件 %1（%2）").arg(fileName, file.errorString()));
    QByteArray read;
    const qsizetype size = file.size();
    const char* bytes = size > 0 ? reinterpret_cast<const char*>(file.map(0, size)) : nullptr;
    if (!bytes && size > 0) {
        read = file.readAll();
        if (read.size() != size)
            return fileError(r, QStringLiteral("不能读取文件 %1（%2）").arg(fileName, file.errorString()));
        bytes = read.constData();
    }
    OwnerFileReader reader(bytes, size);
    r.total = reader.Total();

    try {
        ImportBatch batch(*dm, r.total);
        const int perCommit =
            std::max(1, options.linesPerCommit > 0 ? options.linesPerCommit
                                                   : EngineFor(dm->Target()).ImportLinesPerCommit());
        // What the commits so far keep: the lines up to keptLine (the header is line 1).
        struct Kept {
            int line = 1;
            int done = 0;
            int skipped = 0;
            int refused = 0;
        } kept;
        auto commit = [&](int line) {
            const bool pending = batch.Pending() > 0;
            if (pending && !batch.Commit())
                return false;
            kept = {line, r.done, r.skipped, batch.Refused()};
            if (pending && options.committed)
                options.committed(line);
            return true;
        };
        // The database takes no more changes: the run ends at the last commit, and says why once.
        auto stopped = [&]() {
            r.status = ExchangeStatus::Failed;
            r.done = kept.done;
            r.skipped = kept.skipped;
            r.refused = kept.refused;
            r.stopLine = kept.line + 1;
            r.reason = batch.StopReason();
            r.message = QStringLiteral(
                            "导入停止：%1\n%2\n解决以后可以再导入这个文件：已导入的业主会被同样的资料替换。")
                            .arg(r.reason, keptText(kept.line));
            return r;
        };
        // A line that cannot be read (or bytes that are no text): the lines before it are kept.
        auto unreadable = [&](int lineNo, const QString& reason) {
            r.status = ExchangeStatus::Stopped;
            r.stopLine = lineNo;
            r.reason = reason;
            r.refused = batch.Refused();
            r.message = text(ExchangeFileErrorText) +
                        QStringLiteral("\n第 %1 行：%2\n").arg(lineNo).arg(reason) + keptText(lineNo - 1);
            return r;
        };
        int owners = 0; // owner lines met
        Pacer pacer(options.progress, r.total);
        OwnerLine line;
        TuserInfoRec rec;
        while (reader.Next(line, rec)) {
            switch (line.kind) {
            case OwnerLineKind::Skipped:
                ++r.skipped;
                break;
            case OwnerLineKind::Unreadable:
                if (!commit(line.number - 1))
                    return stopped();
                return unreadable(line.number, line.reason);
            case OwnerLineKind::Owner:
                ++owners;
                if (!batch.Add(rec))
                    return stopped();
                break;
            }
            ++r.done;
            if (batch.Pending() >= perCommit && !commit(line.number))
                return stopped();
            pacer.step(r.done);
        }
        if (!commit(reader.LineNo()))
            return stopped();
        r.refused = batch.Refused();
        if (reader.BadLine() > 0)
            return unreadable(reader.BadLine(),
                              reader.Utf8() ? QStringLiteral("文字不是 UTF-8 编码")
                                            : QStringLiteral("文字既不是 GBK 编码，也不是 UTF-8 编码"));
        pacer.finish(r.done);
        if (owners == 0) {
            r.status = ExchangeStatus::Empty;
            r.message = text(ImportEmptyText);
            if (r.skipped > 0)
                r.message += QStringLiteral("（%1 行的第一个字段栋号是空的，都已跳过）").arg(r.skipped);
            r.message += QStringLiteral("，没有导入任何业主。请检查是不是选错了文件。");
            return r;
        }
    } catch (const OperationError& e) {
        ExchangeResult f = failed(e);
        f.total = r.total;
        f.done = r.done;
        f.skipped = r.skipped;
        return f;
    }
    r.message = text(ExchangeDoneText);
    return r;
}

} // namespace

void ShowExchangeResult(const ExchangeResult& result)
{
    switch (result.status) {
    case ExchangeStatus::Done:
        ShowMessage(result.message);
        break;
    case ExchangeStatus::Missing:
    case ExchangeStatus::Unexportable:
    case ExchangeStatus::Empty:
        ShowRefusal(result.message);
        break;
    case ExchangeStatus::FileError:
    case ExchangeStatus::Stopped:
    case ExchangeStatus::Failed:
        if (!result.message.isEmpty())
            ShowError(result.message);
        break;
    }
}
