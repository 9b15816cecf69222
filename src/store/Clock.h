#pragma once

#include <QDateTime>

// The clock seam: card numbers, confirmation codes, issue times and file names come from it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

// The installed clock; the system's local time unless a test installed another.
const Clock& currentClock();
// Installs c (not owned); nullptr restores the system clock.
void setClock(const Clock* c);
inline QDateTime Now()
{
    return currentClock().now();
}

// A clock that stands still until moved; for tests and benchmarks.
class FixedClock final : public Clock {
public:
    explicit FixedClock(QDateTime t = QDateTime(QDate(2024, 3, 5), QTime(14, 0))) : m_time(std::move(t)) {}
    QDateTime now() const override { return m_time; }
    void set(const QDateTime& t) { m_time = t; }
    void advanceSeconds(int s) { m_time = m_time.addSecs(s); }

private:
    QDateTime m_time;
};
