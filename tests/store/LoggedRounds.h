#pragma once

// The details of the crash rounds' own log entries, for the child that records them and the test
// that checks what a kill left: round n's text says its number and then runs to a length of its own,
// so that an entry cut short or mixed with another shows.

#include <QString>

inline QString LoggedRoundDetails(int n)
{
    const QString head = QStringLiteral("轮=%1；").arg(n);
    QString text = head;
    const int length = 20 + (n * 37) % 900;
    while (text.size() < length)
        text += QChar(char16_t(u'甲' + (text.size() + n) % 10));
    return text + QStringLiteral("；完");
}
