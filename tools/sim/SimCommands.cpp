#include "SimCommands.h"

#include "SimCardIssuer.h"

#include <optional>

namespace {

std::optional<uint32_t> ParseSerial(const QString& text)
{
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 10);
    if (!ok || value > 0xFFFFFFFFull)
        return std::nullopt;
    return uint32_t(value);
}

QStringList Error(const QString& why)
{
    return {QStringLiteral("error: ") + why};
}

const QStringList Ok{QStringLiteral("ok")};

} // namespace

QStringList SimCommands::execute(const QString& line, bool* quit)
{
    *quit = false;
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return {};
    const QString& command = words[0];
    const auto argument = [&](int i) { return i < words.size() ? words[i] : QString(); };

    if (command == QLatin1String("new")) {
        if (words.size() == 1)
            return {QString::number(m_issuer->newCard())};
        const auto serial = ParseSerial(argument(1));
        if (!serial)
            return Error(QStringLiteral("bad serial ") + argument(1));
        if (!m_issuer->addCard(*serial))
            return Error(QStringLiteral("card %1 exists").arg(*serial));
        return {QString::number(*serial)};
    }
    if (command == QLatin1String("present")) {
        const auto serial = ParseSerial(argument(1));
        if (!serial || !m_issuer->present(*serial))
            return Error(QStringLiteral("no card ") + argument(1));
        return Ok;
    }
    if (command == QLatin1String("remove")) {
        m_issuer->remove();
        return Ok;
    }
    if (command == QLatin1String("list")) {
        QStringList out;
        for (const uint32_t serial : m_issuer->serials())
            out << m_issuer->describe(serial);
        return out;
    }
    if (command == QLatin1String("fault")) {
        const QString kind = argument(1);
        const QString value = argument(2);
        if (kind == QLatin1String("highbit") &&
            (value == QLatin1String("on") || value == QLatin1String("off"))) {
            m_issuer->setHighBit(value == QLatin1String("on"));
            return Ok;
        }
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok || n < 0)
            return Error(QStringLiteral("bad count ") + value);
        if (kind == QLatin1String("read"))
            m_issuer->setFault(SimFault::ReadError, n);
        else if (kind == QLatin1String("write"))
            m_issuer->setFault(SimFault::WriteError, n);
        else if (kind == QLatin1String("noanswer"))
            m_issuer->setFault(SimFault::NoAnswer, n);
        else if (kind == QLatin1String("corrupt"))
            m_issuer->setFault(SimFault::Corrupt, n);
        else if (kind == QLatin1String("delay"))
            m_issuer->setAnswerDelay(n);
        else
            return Error(QStringLiteral("unknown fault ") + kind);
        return Ok;
    }
    if (command == QLatin1String("unplug")) {
        m_issuer->unplug();
        return Ok;
    }
    if (command == QLatin1String("plug")) {
        if (!m_issuer->plug())
            return Error(m_issuer->errorString());
        return Ok;
    }
    if (command == QLatin1String("quit")) {
        *quit = true;
        return {};
    }
    return Error(QStringLiteral("unknown command ") + command);
}
