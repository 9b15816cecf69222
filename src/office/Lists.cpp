#include "Lists.h"

#include "store/CardOwners.h"
#include "store/DM.h"
#include "store/DataSet.h"
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
