#include "Clock.h"

namespace {

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

const SystemClock systemClock;
const Clock* current = nullptr;

} // namespace

const Clock& currentClock()
{
    return current ? *current : systemClock;
}

void setClock(const Clock* c)
{
    current = c;
}
