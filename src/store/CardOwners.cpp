#include "CardOwners.h"

#include "DM.h"
#include "DataSet.h"
#include "OperationError.h"
#include "cards/Digits.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <optional>
#include <tuple>

namespace {

constexpr uint32_t Low24 = 0xFFFFFF;
// Keys bound in one statement when the owners found are read.
constexpr int KeysPerStatement = 500;

void run(QSqlQuery& query, const QString& sql, const SqlParams& params)
{
    if (!ExecBound(query, sql, params))
        throw OperationError(query.lastError().text());
}

QString text(const QSqlQuery& query, int column)
{
    return query.isNull(column) ? QString() : query.value(column).toString();
}

} // namespace

QStringList StoredSerialTexts(int32_t serial)
{
    QStringList texts{PadNumber(serial, 10)};
    const QString unsignedText = UnsignedSerialText(serial);
    if (!texts.contains(unsignedText))
        texts << unsignedText;
    return texts;
}

QString UnsignedSerialHint(const QString& stored)
{
    const QString unsignedText = UnsignedSerialText(stored);
    return unsignedText.isEmpty() ? QString() : QStringLiteral("卡号（无符号）：") + unsignedText;
}

CardCondition CardSearchCondition(const QString& typed)
{
    CardCondition condition{QStringLiteral("CardNo = :card_no"),
                            {{QStringLiteral("card_no"), TextValue(typed)}}};
    const std::optional<int32_t> serial = CardSerialFromTyped(typed);
    if (!serial)
        return condition;
    QStringList texts = StoredSerialTexts(*serial);
    // A serial typed in a form of its own ("0003914049354") is looked for as typed too.
    if (!texts.contains(typed.trimmed()))
        texts << typed.trimmed();
    QStringList names;
    for (int i = 0; i < texts.size(); ++i) {
        const QString name = QStringLiteral("card_id%1").arg(i);
        names << QLatin1Char(':') + name;
        condition.params.append({name, TextValue(texts[i])});
    }
    condition.text =
        QStringLiteral("(CardNo = :card_no or CardID in (%1))").arg(names.join(QStringLiteral(", ")));
    return condition;
}

QHash<uint32_t, QList<CardOwner>> OwnersBySerial24(const QList<uint32_t>& serial24s)
{
    QHash<uint32_t, QList<CardOwner>> found;
    QSet<uint32_t> wanted;
    for (uint32_t value : serial24s)
        wanted.insert(value & Low24);
    if (wanted.isEmpty())
        return found;

    // The low 24 bits cannot be taken from the stored texts by an index (nor alike on both engines):
    // the keys and serials of the owners with a card are read in one pass, and the owners that match
    // are read afterwards by key.
    QList<int> keys;
    {
        QSqlQuery q(dm->database());
        SetForwardOnlyOnFile(q);
        run(q, QStringLiteral("select idx, CardID from UserInfo where CardID <> ''"), {});
        while (q.next()) {
            const std::optional<int32_t> serial = CardSerialFromTyped(q.value(1).toString());
            if (serial && wanted.contains(static_cast<uint32_t>(*serial) & Low24))
                keys << q.value(0).toInt();
        }
        if (q.lastError().isValid())
            throw OperationError(q.lastError().text());
    }

    for (qsizetype from = 0; from < keys.size(); from += KeysPerStatement) {
        const QList<int> chunk = keys.mid(from, KeysPerStatement);
        QStringList names;
        SqlParams params;
        for (int i = 0; i < chunk.size(); ++i) {
            names << QStringLiteral(":k%1").arg(i);
            params.append({QStringLiteral("k%1").arg(i), chunk[i]});
        }
        QSqlQuery q(dm->database());
        SetForwardOnlyOnFile(q);
        run(q,
            QStringLiteral(
                "select idx, CardID, UserName, DongHao, DanYuan, FangHao from UserInfo where idx in (%1)")
                .arg(names.join(QStringLiteral(", "))),
            params);
        while (q.next()) {
            CardOwner owner{q.value(0).toInt(), text(q, 1), text(q, 2), text(q, 3), text(q, 4), text(q, 5)};
            const std::optional<int32_t> serial = CardSerialFromTyped(owner.CardID);
            // Changed since the first pass (another desk): no longer that card.
            if (!serial)
                continue;
            const uint32_t key = static_cast<uint32_t>(*serial) & Low24;
            if (wanted.contains(key))
                found[key].append(owner);
        }
        if (q.lastError().isValid())
            throw OperationError(q.lastError().text());
    }

    // Building, unit and room as numbers where they are numbers, the room as text, then the key.
    for (QList<CardOwner>& owners : found) {
        std::sort(owners.begin(), owners.end(), [](const CardOwner& a, const CardOwner& b) {
            const auto place = [](const CardOwner& o) {
                return std::make_tuple(o.DongHao.toLongLong(), o.DanYuan.toLongLong(), o.FangHao, o.idx);
            };
            return place(a) < place(b);
        });
    }
    return found;
}
