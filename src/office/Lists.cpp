#include "Lists.h"

#include "cards/Digits.h"
#include "store/CardOwners.h"
#include "store/DM.h"
#include "store/DataSet.h"
#include "store/OperationLog.h"
#include "store/SqlText.h"

namespace {

// Only the lost owners are left out: a Null loss state is not lost.
const QString NotLost = QStringLiteral("UserInfo where ((chLoss <> '挂失') or (chLoss is null))");

ListQuery issuingList(const QString& conditions, const SqlParams& params)
{
    return {QStringLiteral("idx, UserName, CardNo, DongHao, DanYuan, FangHao, CardID"),
            NotLost + conditions,
            params,
            {{QStringLiteral("idx"), true}}};
}

// "any name containing the text": the text's own % and _ are characters, not wildcards.
QString containing(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('%'), QStringLiteral("\\%"));
    escaped.replace(QLatin1Char('_'), QStringLiteral("\\_"));
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

// The different values of a column of the operation log with an index of its own, one index seek
// each (a log of a million entries comes from a few desks); nullopt when there are more than most.
std::optional<QStringList> logValues(const QString& column, int most)
{
    QStringList values;
    DataSet q(*dm, QStringLiteral("qryLogDesks"));
    QVariant after;
    while (values.size() <= most) {
        if (after.isNull())
            q.Open(QStringLiteral("select min(%1) as least from OperationLog").arg(column));
        else
            q.Open(QStringLiteral("select min(%1) as least from OperationLog where %1 > :after").arg(column),
                   {{QStringLiteral("after"), after}});
        if (q.Eof() || q.Field(QStringLiteral("least")).isNull())
            return values;
        after = q.Field(QStringLiteral("least"));
        values << after.toString();
    }
    return std::nullopt;
}

QString equalTo(const QString& column)
{
    return QStringLiteral(" and %1 = :%1").arg(column);
}

} // namespace

OwnerFilter OwnersOfUnit(int building, int unit)
{
    return {QStringLiteral(" and DongHao = :DongHao and DanYuan = :DanYuan"),
            {{QStringLiteral("DongHao"), building}, {QStringLiteral("DanYuan"), unit}},
            std::nullopt};
}

void AddNumberCondition(OwnerFilter& filter, const QString& column, const QString& typed)
{
    const std::optional<int> value = ParseInt32(typed);
    if (!value) {
        if (!filter.notANumber)
            filter.notANumber = typed;
        return;
    }
    filter.conditions += equalTo(column);
    filter.params.append({column, *value});
}

void AddTextCondition(OwnerFilter& filter, const QString& column, const QString& typed)
{
    filter.conditions += equalTo(column);
    filter.params.append({column, TextValue(typed)});
}

void AddCardCondition(OwnerFilter& filter, const QString& typed)
{
    const CardCondition card = CardSearchCondition(typed);
    filter.conditions += QStringLiteral(" and ") + card.text;
    filter.params += card.params;
}

// Within a unit the owners go by room (and the model ends the order with idx): the order then runs
// along the index of the place to its end, so a page in the middle of 100,000 owners is read
// without sorting what comes before.
ListQuery OwnerList(const OwnerFilter& filter)
{
    return {QStringLiteral("idx, selFlag, CardNo, chLoss, CardID, DongHao, DanYuan, FangHao, UserName, Sex, "
                           "chUseExpdate, ExpDate, Phone, Remark"),
            QStringLiteral("UserInfo where 1=1") + filter.conditions,
            filter.params,
            {{QStringLiteral("DongHao")}, {QStringLiteral("DanYuan")}, {QStringLiteral("FangHao")}}};
}

ListQuery IssuingList()
{
    return issuingList(QString(), {});
}

ListQuery IssuingListOfUnit(int building, int unit)
{
    const OwnerFilter of = OwnersOfUnit(building, unit);
    return issuingList(of.conditions, of.params);
}

ListQuery IssuingListOfCard(const QString& typed)
{
    const CardCondition card = CardSearchCondition(typed);
    return issuingList(QStringLiteral(" and ") + card.text, card.params);
}

ListQuery IssuingListByName(const QString& part)
{
    return issuingList(QStringLiteral(" and UserName like :UserName escape '\\'"),
                       {{QStringLiteral("UserName"), containing(part)}});
}

ListQuery UnitList(std::optional<int> building, std::optional<int> unit, const QString& name)
{
    QString conditions;
    SqlParams params;
    const auto number = [&](const std::optional<int>& value, const QString& column) {
        if (!value)
            return;
        conditions += equalTo(column);
        params.append({column, *value});
    };
    number(building, QStringLiteral("DongHao"));
    number(unit, QStringLiteral("DanYuan"));
    if (!name.trimmed().isEmpty()) {
        conditions += equalTo(QStringLiteral("DanYuanName"));
        params.append({QStringLiteral("DanYuanName"), TextValue(name)});
    }
    return {QStringLiteral("idx, selFlag, DongHao, DanYuan, DanYuanName"),
            QStringLiteral("BuildInfo where 1=1") + conditions,
            params,
            {{QStringLiteral("DongHao")}, {QStringLiteral("DanYuan")}}};
}

ListQuery TerminalList(std::optional<int> terminalId, const QString& name, const QString& remark)
{
    QString conditions;
    SqlParams params;
    if (terminalId) {
        conditions += equalTo(QStringLiteral("TerminalID"));
        params.append({QStringLiteral("TerminalID"), *terminalId});
    }
    // The texts as typed.
    for (const auto& [text, column] :
         {std::pair{name, QStringLiteral("TerminalName")}, std::pair{remark, QStringLiteral("Remark")}}) {
        if (text.trimmed().isEmpty())
            continue;
        conditions += equalTo(column);
        params.append({column, TextValue(text)});
    }
    return {QStringLiteral("idx, selFlag, TerminalID, TerminalName, Remark"),
            QStringLiteral("TerminalInfo where 1=1") + conditions,
            params,
            {{QStringLiteral("TerminalID")}}};
}

QList<TerminalName> TerminalsInOrder(int most)
{
    DataSet terminals(*dm, QStringLiteral("qryTerminalSel"));
    terminals.Open(QStringLiteral("select * from TerminalInfo order by TerminalID"));
    QList<TerminalName> out;
    while (!terminals.Eof() && out.size() < most) {
        out.append({dm->FieldAsText(terminals, QStringLiteral("TerminalID")),
                    dm->FieldAsText(terminals, QStringLiteral("TerminalName"))});
        terminals.Next();
    }
    return out;
}

ListQuery OperationLogList(const LogFilter& filter)
{
    SqlParams params;
    // The level's name as the log's readers know it; the names are values like any other.
    QString levels = QStringLiteral("case OperatorLevel");
    for (const int level : {0, 1, 2, LogLevelCommandLine, LogLevelNotLoggedIn}) {
        const QString name = QStringLiteral("level_%1").arg(level - LogLevelNotLoggedIn);
        levels += QStringLiteral(" when %1 then :%2").arg(level).arg(name);
        params.append({name, LogLevelName(level)});
    }
    levels += QStringLiteral(" else cast(OperatorLevel as text) end as LevelName");

    QString conditions;
    // LogTime is "yyyy-MM-dd HH:mm:ss": a day runs from its date up to the next day's date.
    if (filter.from.isValid()) {
        conditions += QStringLiteral(" and LogTime >= :log_from");
        params.append({QStringLiteral("log_from"), filter.from.toString(QStringLiteral("yyyy-MM-dd"))});
    }
    if (filter.to.isValid()) {
        conditions += QStringLiteral(" and LogTime < :log_until");
        params.append(
            {QStringLiteral("log_until"), filter.to.addDays(1).toString(QStringLiteral("yyyy-MM-dd"))});
    }
    if (!filter.action.isEmpty()) {
        conditions += QStringLiteral(" and Action = :log_action");
        params.append({QStringLiteral("log_action"), filter.action});
    }
    const QString card = filter.card.trimmed();
    if (!card.isEmpty()) {
        // A card serial typed in either form finds the entries of that card however it is stored;
        // any other text is looked for as it is.
        QStringList texts{card};
        if (const std::optional<int32_t> serial = CardSerialFromTyped(card))
            for (const QString& text : StoredSerialTexts(*serial))
                if (!texts.contains(text))
                    texts << text;
        QStringList names;
        for (int i = 0; i < texts.size(); ++i) {
            names << QStringLiteral(":log_card%1").arg(i);
            params.append({names.last().mid(1), texts[i]});
        }
        conditions += QStringLiteral(" and CardID in (%1)").arg(names.join(QStringLiteral(", ")));
    }
    if (!filter.owner.trimmed().isEmpty()) {
        // Looked for among the names the log holds (one row each), their entries through the index.
        conditions += QStringLiteral(" and OwnerName in (select OwnerName from OperationLogOwner "
                                     "where OwnerName like :log_owner escape '\\')");
        params.append({QStringLiteral("log_owner"), containing(filter.owner.trimmed())});
    }
    const QString desk = filter.desk.trimmed();
    if (!desk.isEmpty()) {
        // The desks whose computer or user name holds the text are found among the few there are,
        // and their entries through the indexes; a part looked for in every entry would read them
        // all. Should there be very many names, every entry is looked at after all.
        constexpr int MostNames = 500;
        QStringList names;
        bool found = true;
        for (const QString& column : {QStringLiteral("Computer"), QStringLiteral("SystemUser")}) {
            const std::optional<QStringList> values = logValues(column, MostNames);
            if (!values) {
                found = false;
                break;
            }
            QStringList matching;
            for (const QString& value : *values)
                if (value.contains(desk, Qt::CaseInsensitive))
                    matching << value;
            if (matching.isEmpty())
                continue;
            QStringList placeholders;
            for (const QString& value : matching) {
                placeholders << QStringLiteral(":log_desk%1").arg(params.size());
                params.append({placeholders.last().mid(1), value});
            }
            names << QStringLiteral("%1 in (%2)").arg(column, placeholders.join(QStringLiteral(", ")));
        }
        if (!found) {
            conditions += QStringLiteral(" and (Computer like :log_desk escape '\\' or SystemUser like "
                                         ":log_desk_user escape '\\')");
            params.append({QStringLiteral("log_desk"), containing(desk)});
            params.append({QStringLiteral("log_desk_user"), containing(desk)});
        } else if (names.isEmpty()) {
            conditions += QStringLiteral(" and 1 = 0");
        } else {
            conditions += QStringLiteral(" and (%1)").arg(names.join(QStringLiteral(" or ")));
        }
    }
    ListQuery query{QStringLiteral("idx, LogTime, Computer, SystemUser, OperatorLevel, ") + levels +
                        QStringLiteral(", Action, Outcome, CardID, OwnerIdx, OwnerName, Details"),
                    QStringLiteral("OperationLog where 1=1") + conditions,
                    params,
                    {{QStringLiteral("LogTime"), true}, {QStringLiteral("idx"), true}}};
    // Narrowed by days and action alone (or not at all), the entries are counted from the counts
    // kept per day and action, not one by one: a year of a busy office is a million entries.
    if (filter.card.trimmed().isEmpty() && filter.owner.trimmed().isEmpty() && desk.isEmpty()) {
        QString counted;
        for (const auto& [name, value] : params) {
            if (name == QLatin1String("log_from"))
                counted += QStringLiteral(" and LogDay >= :log_from");
            else if (name == QLatin1String("log_until"))
                counted += QStringLiteral(" and LogDay < :log_until");
            else if (name == QLatin1String("log_action"))
                counted += QStringLiteral(" and Action = :log_action");
            else
                continue;
            query.countParams.append({name, value});
        }
        query.countStatement =
            QStringLiteral("select coalesce(sum(Entries), 0) from OperationLogDay where 1=1") + counted;
    }
    return query;
}
