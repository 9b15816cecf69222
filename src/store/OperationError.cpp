#include "OperationError.h"

#include "Dialogs.h"

void ShowOperationError(const QString& text)
{
    dialogs().message(MsgIcon::Error, MsgButtons::Ok, text);
}

bool Guarded(const std::function<void()>& op)
{
    try {
        op();
        return true;
    } catch (const OperationError& e) {
        if (!e.shown())
            ShowOperationError(e.message());
    } catch (const std::exception& e) {
        ShowOperationError(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowOperationError(QStringLiteral("未知错误"));
    }
    return false;
}

void ThrowNotAnInteger(const QString& text)
{
    throw OperationError(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

void ThrowNotADate(const QString& text)
{
    throw OperationError(QStringLiteral("'%1' is not a valid date").arg(text));
}

void ThrowNullConversion(const QString& type)
{
    throw OperationError(QStringLiteral("Could not convert variant of type (Null) into type (%1)").arg(type));
}
