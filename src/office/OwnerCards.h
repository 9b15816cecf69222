#pragma once

// An owner card and its owner: the registration of a card written for an owner (with the warning
// when the card was registered before), and the expiry date an owner card carries.

#include "cards/CardRecords.h"

#include <QDate>
#include <QString>

struct TuserInfoRec;

// Whether the card serial is registered to an owner now (to anyone, the owner it is for too).
bool CardRegistered(const QString& serial);

// A card written for owner idx is registered to that owner and to no one else. When the card was
// registered before, the operator is warned first that the old registration goes ("警告：本卡曾经被登记！").
// With `card`, its expiry and its terminals go to the owner in the same change, all or nothing.
bool RegisterWrittenCard(int idx, const QString& serial, const TuserInfoRec* card = nullptr);

// The expiry an owner card carries (yyMMdd, the years from 2000); a text that is no date throws
// the conversion error.
QDate OwnerCardExpiry(const TUserCardRec& card);
