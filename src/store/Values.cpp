#include "Values.h"

#include "OperationError.h"
#include "SqlText.h"

namespace {

bool variantToBool(const QVariant& v)
{
    if (v.isNull())
        return false;
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        if (const auto n = ParseInt32(s))
            return *n != 0;
        return s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    }
    if (v.typeId() == QMetaType::Double)
        return v.toDouble() != 0.0;
    return v.toLongLong() != 0;
}

} // namespace

QString StoredDateText(const QDate& date)
{
    if (!date.isValid())
        ThrowNotADate(QString());
    // yyyy-MM-dd, written by hand: an import stores one date per line.
    const int year = date.year();
    if (year < 1000 || year > 9999)
        return date.toString(QStringLiteral("yyyy-MM-dd"));
    const int digits[] = {
        year / 1000, year / 100 % 10, year / 10 % 10, year % 10, -1, date.month() / 10, date.month() % 10,
        -1,          date.day() / 10, date.day() % 10};
    QString text(10, Qt::Uninitialized);
    for (int i = 0; i < 10; ++i)
        text[i] = digits[i] < 0 ? QLatin1Char('-') : QLatin1Char(char('0' + digits[i]));
    return text;
}

namespace {

// The day a text of four-digit year, month and day names, with "-", "/" or "." between them (the
// same one twice) and leading zeros or not; an invalid date when it names none. Read by hand: an
// owner data file has a date on every line.
QDate dayOf(QStringView text)
{
    auto digits = [&text](qsizetype& at, int least, int most) {
        int value = 0;
        int n = 0;
        while (at < text.size() && n < most && text[at] >= u'0' && text[at] <= u'9') {
            value = value * 10 + (text[at].unicode() - u'0');
            ++at;
            ++n;
        }
        return n >= least ? value : -1;
    };
    qsizetype at = 0;
    const int year = digits(at, 4, 4);
    if (year < 0 || at >= text.size())
        return QDate();
    const QChar separator = text[at];
    if (separator != u'-' && separator != u'/' && separator != u'.')
        return QDate();
    ++at;
    const int month = digits(at, 1, 2);
    if (month < 0 || at >= text.size() || text[at] != separator)
        return QDate();
    ++at;
    const int day = digits(at, 1, 2);
    if (day < 0 || at != text.size())
        return QDate();
    return QDate(year, month, day); // invalid when the day does not exist
}

} // namespace

QDate DateFromText(QStringView text)
{
    const QDate d = dayOf(text.trimmed());
    if (!d.isValid())
        ThrowNotADate(text.toString());
    return d;
}

QString DateText(const QDate& date)
{
    return date.toString(QStringLiteral("yyyy/MM/dd"));
}

QDate StoredDate(const QVariant& value)
{
    if (value.isNull())
        ThrowNullConversion(QStringLiteral("Date"));
    if (value.typeId() == QMetaType::QDate)
        return value.toDate();
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().date();
    const QString text = value.toString().trimmed();
    QString day = text;
    if (day.size() > 10 && (day[10] == QLatin1Char(' ') || day[10] == QLatin1Char('T')))
        day.truncate(10);
    const QDate d = dayOf(day);
    if (!d.isValid())
        ThrowNotADate(text);
    return d;
}

bool StoredBool(const QVariant& value)
{
    return variantToBool(value);
}
