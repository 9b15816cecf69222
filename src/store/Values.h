#pragma once

#include <QDate>
#include <QString>
#include <QStringView>
#include <QVariant>

// Stored values as the program reads and writes them: dates as the database holds them and as
// operators and owner data files write them, and yes/no values.

// Dates: ISO text "yyyy-mm-dd" in the database; "yyyy/mm/dd" where the operator and the owner
// data files see them. An invalid date is never stored: StoredDateText throws the conversion error.
QString StoredDateText(const QDate& date);
QString DateText(const QDate& date);
// A stored date value (ISO text, also with a time, or yyyy/mm/dd); Null or anything else throws.
QDate StoredDate(const QVariant& value);
// A date as operators and owner data files write it ("yyyy/mm/dd", also "yyyy-mm-dd" and
// "yyyy.mm.dd", with or without leading zeros, blanks around it ignored); anything else, and a day
// that does not exist, throws the conversion error.
QDate DateFromText(QStringView text);
// A stored yes/no value: false for Null, otherwise whether it is non-zero ("true" reads as true).
bool StoredBool(const QVariant& value);
