#include "OwnerCards.h"

#include "store/DM.h"
#include "store/Dialogs.h"
#include "store/OperationError.h"
#include "store/OwnerStatements.h"

bool CardRegistered(const QString& serial)
{
    return FindUserByCardID(*dm, serial) > 0;
}

bool RegisterWrittenCard(int idx, const QString& serial, const TuserInfoRec* card)
{
    if (CardRegistered(serial))
        ShowWarning(QStringLiteral("警告：本卡曾经被登记！\r\n\r\n原登记信息会被取消，请核对"));
    if (!card)
        return RegisterCardID(*dm, idx, serial);
    Transaction change;
    RegisterCardID(*dm, idx, serial);
    UpdateUserExpiry(*dm, *card);
    UpdateUserTerminals(*dm, *card);
    return change.Commit();
}

QDate OwnerCardExpiry(const TUserCardRec& card)
{
    const QDate expiry = QDate::fromString(QStringLiteral("20") + QString::fromLatin1(card.Expiry, 2) +
                                               QLatin1Char('/') + QString::fromLatin1(card.Expiry + 2, 2) +
                                               QLatin1Char('/') + QString::fromLatin1(card.Expiry + 4, 2),
                                           QStringLiteral("yyyy/MM/dd"));
    if (!expiry.isValid())
        ThrowNotADate(QString::fromLatin1(card.Expiry, 6));
    return expiry;
}
