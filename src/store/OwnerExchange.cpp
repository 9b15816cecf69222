#include "OwnerExchange.h"

#include "AppPath.h"
#include "DM.h"
#include "Dialogs.h"
#include "OperationError.h"
#include "Prepared.h"

#include "cards/Digits.h"
#include "cards/Gbk.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

const char* const OwnerFileHeader =
    "栋号,单元号,房号,固有卡号,业主姓名,联系电话,有效期使用,有效期,性别,卡类型,卡号别名,相片文件,门禁设备";
const char* const ExchangeDoneText = "操作完成";
const char* const ExchangeMissingText = "数据文件不存在,操作终止";
const char* const ExchangeFileErrorText = "操作错误：文件正在被使用，请关闭文件后再操作";
const char* const ExportChoiceRefusedText = "栋号，单元号输入错误．操作终止";
const char* const ExportEveryoneQuestion = "要导出所有的用户记录吗？";
const char* const ExportOverwriteQuestion = "文件已经存在，覆盖文件吗？";
const char* const ExportUnencodableText =
    "以下业主资料含有GBK编码不能表示的字符（如表情符号），文件未导出。请修改这些资料后再导出：";
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

TExchangeResult failed(const OperationError& e)
{
    TExchangeResult r;
    r.status = ExchangeStatus::Failed;
    r.message = e.shown() ? QString() : e.message();
    return r;
}

TExchangeResult fileError(TExchangeResult r, const QString& reason)
{
    r.status = ExchangeStatus::FileError;
    r.reason = reason;
    r.message = text(ExchangeFileErrorText) + QLatin1Char('\n') + reason;
    return r;
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
        out.append(QByteArray::number(value));
    else
        appendText(out, v);
}

// The expiry as the short date of a Chinese desktop, yyyy/M/d, from the stored ISO text (older
// rows may hold another form StoredDate reads); a value that is no date is written as it stands.
void appendDate(QByteArray& out, QByteArrayView v)
{
    auto digit = [&v](qsizetype i) { return v[i] >= '0' && v[i] <= '9'; };
    QDate day;
    if (v.size() >= 10 && digit(0) && digit(1) && digit(2) && digit(3) && v[4] == '-' && digit(5) &&
        digit(6) && v[7] == '-' && digit(8) && digit(9) && (v.size() == 10 || v[10] == ' ' || v[10] == 'T')) {
        auto number = [&v](qsizetype at, int n) {
            int value = 0;
            for (int k = 0; k < n; ++k)
                value = value * 10 + (v[at + k] - '0');
            return value;
        };
        day = QDate(number(0, 4), number(5, 2), number(8, 2));
    }
    if (!day.isValid()) {
        try {
            day = StoredDate(QString::fromUtf8(v));
        } catch (const OperationError&) {
            appendText(out, v);
            return;
        }
    }
    out.append(QByteArray::number(day.year()))
        .append('/')
        .append(QByteArray::number(day.month()))
        .append('/')
        .append(QByteArray::number(day.day()));
}

// Every terminal whose bit is set, ascending, each followed by "|".
void appendTerminals(QByteArray& out, QByteArrayView bitmap)
{
    const qsizetype n = std::min<qsizetype>(bitmap.size(), TerminalBitmapSize);
    for (qsizetype i = 0; i < n; ++i) {
        const auto byte = static_cast<uint8_t>(bitmap[i]);
        for (int bit = 0; byte != 0 && bit < 8; ++bit) {
            if (byte & (0x80 >> bit))
                out.append(QByteArray::number(int(i) * 8 + bit)).append('|');
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

void appendLine(QByteArray& out, const TPrepared& row)
{
    auto field = [&](Column c) { appendText(out, row.Text(c)); };
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
    if (!row.IsNull(Expdate))
        appendDate(out, row.Text(Expdate));
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

// Describes the lines of a block (UTF-8, starts: where each line begins, the first is file line
// firstLine) whose texts GBK cannot hold: the line, the owner's place and card number alias, and the
// columns at fault.
void noteUnencodable(const QByteArray& block, const std::vector<qsizetype>& starts, int firstLine,
                     QStringList& out)
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
        auto field = [&](int f) { return QString::fromUtf8(fields.value(f)); };
        out << QStringLiteral("第%1行（%2栋%3单元%4，卡号别名 %5）：%6")
                   .arg(firstLine + int(i))
                   .arg(field(0), field(1), field(2), field(10).mid(1), bad.join(QStringLiteral("、")));
    }
}

QString filterClause(const TExportFilter& filter)
{
    return filter.everyone ? QStringLiteral(" where 1 = 1")
                           : QStringLiteral(" where 1 = 1 and DongHao = :DongHao and DanYuan = :DanYuan");
}

SqlParams filterParams(const TExportFilter& filter)
{
    if (filter.everyone)
        return {};
    return {{QStringLiteral("DongHao"), filter.building}, {QStringLiteral("DanYuan"), filter.unit}};
}

// ---- Import ---------------------------------------------------------------------------------------

// Fields of one line: field k runs from after the (k-1)-th comma to the k-th comma, or to the end of
// the line; fields the line does not reach are empty, and anything after a 13th comma is not read.
std::array<QStringView, FieldCount> splitFields(QStringView line)
{
    std::array<QStringView, FieldCount> fields{};
    qsizetype from = 0;
    for (int k = 0; k < FieldCount && from <= line.size(); ++k) {
        qsizetype comma = line.indexOf(u',', from);
        if (comma < 0)
            comma = line.size();
        fields[size_t(k)] = line.mid(from, comma - from);
        from = comma + 1;
    }
    return fields;
}

QString withoutUnderscore(QStringView field)
{
    return (field.startsWith(u'_') ? field.mid(1) : field).toString();
}

// One owner line into a record; the reason it cannot be read otherwise.
std::optional<QString> readLine(const std::array<QStringView, FieldCount>& f, TuserInfoRec& rec)
{
    const auto building = ParseInt32(f[0]);
    if (!building)
        return QStringLiteral("栋号“%1”不是整数").arg(f[0]);
    const auto unit = ParseInt32(f[1]);
    if (!unit)
        return QStringLiteral("单元号“%1”不是整数").arg(f[1]);
    rec.DongHao = *building;
    rec.DanYuan = *unit;
    if (!f[7].isEmpty()) {
        try {
            rec.ExpDate = DateFromText(f[7]);
        } catch (const OperationError&) {
            return QStringLiteral("有效期“%1”不是日期（应为 年/月/日，例如 2025/6/30）").arg(f[7]);
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
                return QStringLiteral("门禁设备“%1”不是 0 到 255 之间的门禁编号").arg(entry);
            SetTerminal(rec.VaildTerminal.data(), *terminal);
            from = bar + 1;
        }
    }
    rec.FangHao = f[2].toString();
    rec.CardID = withoutUnderscore(f[3]);
    rec.UserName = f[4].toString();
    rec.Phone = f[5].toString();
    rec.chUseExpdate = f[6].toString();
    rec.IsUseExpDate = f[6] == u"是";
    rec.Sex = f[8].toString();
    rec.UserType = f[9].toString();
    rec.CardNo = withoutUnderscore(f[10]);
    rec.ExtName = f[11].toString();
    return std::nullopt;
}

// The text of the file after its header line: GBK, or UTF-8 when the file starts with the
// byte-order mark or is UTF-8 and not GBK. The header plays no part in the choice (it is not read).
// When some bytes are neither, the encoding that reads further is taken, and the text ends before
// the line that holds them (badLine, counted from the header as line 1).
struct FileText {
    QString body;
    int badLine = 0;
    bool utf8 = false;
};

FileText decodeFile(const char* bytes, qsizetype size)
{
    FileText out;
    if (size <= 0)
        return out; // an empty file has no bytes to look at (and may come without a buffer)
    static const char bom[] = "\xEF\xBB\xBF";
    const bool withBom = size >= 3 && std::memcmp(bytes, bom, 3) == 0;
    const char* firstEnd = static_cast<const char*>(std::memchr(bytes, '\n', size_t(size)));
    const qsizetype body = firstEnd ? (firstEnd - bytes) + 1 : size;

    qsizetype validEnd = size;
    if (withBom) {
        out.utf8 = true;
        validEnd = body + ValidUtf8Prefix(bytes + body, size - body);
    } else {
        const qsizetype gbkEnd = body + DecodeGbk(bytes + body, size - body, out.body);
        if (gbkEnd == size)
            return out; // GBK, as the program writes it: the text is read already
        const qsizetype utf8End = body + ValidUtf8Prefix(bytes + body, size - body);
        out.utf8 = utf8End > gbkEnd;
        validEnd = std::max(gbkEnd, utf8End);
    }
    qsizetype end = size;
    if (validEnd < size) {
        // The text stops at the start of the line that cannot be read.
        end = validEnd;
        while (end > 0 && bytes[end - 1] != '\n')
            --end;
        out.badLine = 1 + int(std::count(bytes, bytes + end, '\n'));
    }
    const qsizetype from = std::min(body, end);
    if (out.utf8)
        out.body = QString::fromUtf8(bytes + from, end - from);
    else
        DecodeGbk(bytes + from, end - from, out.body);
    return out;
}

} // namespace

// ---- Reading -------------------------------------------------------------------------------------

TOwnerFileReader::TOwnerFileReader(const char* bytes, qsizetype size)
{
    FileText decoded = decodeFile(bytes, size);
    m_text = std::move(decoded.body);
    m_badLine = decoded.badLine;
    m_utf8 = decoded.utf8;
    if (size > 0) {
        const qsizetype newlines = std::count(bytes, bytes + size, '\n');
        m_total = std::max(int(newlines) + (bytes[size - 1] == '\n' ? 0 : 1) - 1, 0);
    }
}

bool TOwnerFileReader::Next(TOwnerLine& line, TuserInfoRec& rec)
{
    const QString& t = m_text;
    if (m_pos >= t.size())
        return false;
    qsizetype end = t.indexOf(u'\n', m_pos);
    const qsizetype next = end < 0 ? t.size() : end + 1;
    if (end < 0)
        end = t.size();
    QStringView text(t.constData() + m_pos, end - m_pos);
    if (text.endsWith(u'\r'))
        text.chop(1);
    m_pos = next;
    line.number = ++m_lineNo;
    line.reason.clear();
    const auto fields = splitFields(text);
    if (fields[0].isEmpty()) {
        line.kind = OwnerLineKind::Skipped;
        return true;
    }
    rec = TuserInfoRec{};
    if (std::optional<QString> reason = readLine(fields, rec)) {
        line.kind = OwnerLineKind::Unreadable;
        line.reason = std::move(*reason);
    } else {
        line.kind = OwnerLineKind::Owner;
    }
    return true;
}

// ---- Choices --------------------------------------------------------------------------------------

std::optional<TExportFilter> ExportFilterFromTexts(const QString& building, const QString& unit)
{
    if (building.isEmpty() && unit.isEmpty())
        return TExportFilter{};
    const auto b = ParseInt32(building);
    const auto u = ParseInt32(unit);
    if (!b || !u)
        return std::nullopt;
    return TExportFilter{false, *b, *u};
}

std::optional<TExportFilter> ChooseExport(const QString& building, const QString& unit, bool askForEveryone)
{
    const std::optional<TExportFilter> filter = ExportFilterFromTexts(building, unit);
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

// The export's query on a server, for the same file as from the SQLite file: owners without a
// building, unit or room first (where the file's engine sorts Null), and owners of one room in the
// order they were added (as the file's index gives them). The server's index holds Null last, so
// that order costs a sort of every owner; when no owner lacks a place, the index order is the same.
QString serverExportStatement(const TExportFilter& filter, const SqlParams& params)
{
    QString sql = ExportStatement(filter);
    TPrepared placeless(*dm, QStringLiteral("select exists (select 1 from UserInfo%1 and (DongHao is null or "
                                            "DanYuan is null or FangHao is null))")
                                 .arg(filterClause(filter)));
    placeless.Bind(params);
    const bool nullsFirst = !placeless.Next() || placeless.Text(0) != "f";
    placeless.Reset();
    sql.replace(QStringLiteral(" order by DongHao, DanYuan, FangHao"),
                nullsFirst
                    ? QStringLiteral(" order by DongHao nulls first, DanYuan nulls first, FangHao nulls "
                                     "first, idx")
                    : QStringLiteral(" order by DongHao, DanYuan, FangHao, idx"));
    return sql;
}

} // namespace

TExchangeResult ExportOwners(const QString& fileName, const TExportFilter& filter,
                             const ExchangeProgress& progress)
{
    TExchangeResult r;
    try {
        const SqlParams params = filterParams(filter);
        TPrepared count(*dm, QStringLiteral("select count(*) from UserInfo") + filterClause(filter));
        count.Bind(params);
        r.total = count.Next() ? int(count.Int(0)) : 0;
        count.Reset();
        TPrepared rows(*dm, dm->IsServer() ? serverExportStatement(filter, params) : ExportStatement(filter));
        rows.Bind(params);

        QFile file(fileName);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fileError(r, QStringLiteral("不能写入文件 %1（%2）").arg(fileName, file.errorString()));
        // Lines are gathered as UTF-8, the engine's own text, and written as GBK a block at a time.
        constexpr qsizetype Block = 256 * 1024;
        QByteArray lines;
        lines.reserve(Block + 4096);
        QByteArray gbk;
        gbk.reserve(Block + 4096);
        // Where each owner's line begins in the block, and the file line of the block's first one
        // (the header is line 1): what names a line that GBK cannot hold.
        std::vector<qsizetype> starts;
        int firstLine = 2;
        auto flush = [&] {
            gbk.clear();
            if (AppendUtf8AsGbk(lines.constData(), lines.size(), gbk) > 0)
                noteUnencodable(lines, starts, firstLine, r.unencodable);
            firstLine += int(starts.size());
            lines.clear();
            starts.clear();
            // Once a line is refused the rest is only read, to name every line at fault.
            return !r.unencodable.isEmpty() || file.write(gbk) == gbk.size();
        };
        lines.append(OwnerFileHeader).append("\r\n");
        Pacer pacer(progress, r.total);
        while (rows.Next()) {
            starts.push_back(lines.size());
            appendLine(lines, rows);
            ++r.done;
            if (lines.size() >= Block && !flush())
                return fileError(r,
                                 QStringLiteral("不能写入文件 %1（%2）").arg(fileName, file.errorString()));
            pacer.step(r.done);
        }
        if (!flush() || !file.flush())
            return fileError(r, QStringLiteral("不能写入文件 %1（%2）").arg(fileName, file.errorString()));
        file.close();
        pacer.finish(r.done);
        if (!r.unencodable.isEmpty()) {
            file.remove();
            constexpr qsizetype Listed = 20;
            r.status = ExchangeStatus::Unencodable;
            r.message = text(ExportUnencodableText) + QLatin1Char('\n') +
                        r.unencodable.mid(0, Listed).join(QLatin1Char('\n'));
            if (r.unencodable.size() > Listed)
                r.message += QStringLiteral("\n……共 %1 行").arg(r.unencodable.size());
            return r;
        }
    } catch (const OperationError& e) {
        TExchangeResult f = failed(e);
        f.total = r.total;
        f.done = r.done;
        return f;
    }
    r.message = text(ExchangeDoneText);
    return r;
}

QString ExportStatement(const TExportFilter& filter)
{
    // Only the columns the file carries: a photo kept in the database is never read.
    return QStringLiteral("select DongHao, DanYuan, FangHao, CardID, UserName, phone, chUseExpdate, Expdate, "
                          "Sex, UserType, CardNo, ExtName, VaildTerminal from UserInfo") +
           filterClause(filter) + QStringLiteral(" order by DongHao, DanYuan, FangHao");
}

TExchangeResult ImportOwners(const QString& fileName, const ExchangeProgress& progress)
{
    TImportOptions options;
    options.progress = progress;
    return ImportOwners(fileName, options);
}

TExchangeResult ImportOwners(const QString& fileName, const TImportOptions& options)
{
    TExchangeResult r;
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
    TOwnerFileReader reader(bytes, size);
    r.total = reader.Total();

    try {
        TImportBatch batch(*dm);
        const int perCommit = std::max(1, options.linesPerCommit);
        auto commit = [&](int line) {
            if (batch.Pending() == 0)
                return true;
            const bool kept = batch.Commit();
            if (kept && options.committed)
                options.committed(line);
            return kept;
        };
        // The database dropped a change or would not keep it (reported): the run ends there.
        auto broken = [&](TExchangeResult& result) {
            result.status = ExchangeStatus::Failed;
            result.refused = batch.Refused();
            return result;
        };
        Pacer pacer(options.progress, r.total);
        TOwnerLine line;
        TuserInfoRec rec;
        while (reader.Next(line, rec)) {
            switch (line.kind) {
            case OwnerLineKind::Skipped:
                ++r.skipped;
                break;
            case OwnerLineKind::Unreadable:
                if (!commit(line.number - 1))
                    return broken(r);
                r.status = ExchangeStatus::Stopped;
                r.stopLine = line.number;
                r.reason = line.reason;
                r.refused = batch.Refused();
                r.message = text(ExchangeFileErrorText) +
                            QStringLiteral("\n第 %1 行：%2").arg(line.number).arg(line.reason);
                return r;
            case OwnerLineKind::Owner:
                if (!batch.Add(rec))
                    return broken(r);
                break;
            }
            ++r.done;
            if (batch.Pending() >= perCommit && !commit(line.number))
                return broken(r);
            pacer.step(r.done);
        }
        if (!commit(reader.LineNo()))
            return broken(r);
        r.refused = batch.Refused();
        if (reader.BadLine() > 0) {
            r.status = ExchangeStatus::Stopped;
            r.stopLine = reader.BadLine();
            r.reason = reader.Utf8() ? QStringLiteral("文字不是 UTF-8 编码")
                                     : QStringLiteral("文字既不是 GBK 编码，也不是 UTF-8 编码");
            r.message =
                text(ExchangeFileErrorText) + QStringLiteral("\n第 %1 行：%2").arg(r.stopLine).arg(r.reason);
            return r;
        }
        pacer.finish(r.done);
    } catch (const OperationError& e) {
        TExchangeResult f = failed(e);
        f.total = r.total;
        f.done = r.done;
        f.skipped = r.skipped;
        return f;
    }
    r.message = text(ExchangeDoneText);
    return r;
}

void ShowExchangeResult(const TExchangeResult& result)
{
    switch (result.status) {
    case ExchangeStatus::Done:
        ShowMessage(result.message);
        break;
    case ExchangeStatus::Missing:
    case ExchangeStatus::Unencodable:
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
