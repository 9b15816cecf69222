#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <functional>

// An error that ends one operator action and reaches the operator with its own text: an engine
// error of a lookup or load, a value that does not convert, a database file that cannot be used.
// Loaders and lookups throw it; the windows run each operator action through Guarded.
class OperationError : public std::exception {
public:
    // shown: the text has already been put in front of the operator (Guarded shows it no more).
    explicit OperationError(QString message, bool shown = false)
        : m_message(std::move(message)), m_utf8(m_message.toUtf8()), m_shown(shown)
    {
    }
    const QString& message() const { return m_message; }
    bool shown() const { return m_shown; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
    bool m_shown;
};

// Runs op. An OperationError (or any other exception) ends it: its text is shown in an error box
// through the dialog seam, unless it was shown already, and the result is false. Nothing escapes.
bool Guarded(const std::function<void()>& op);

// The error box Guarded shows.
void ShowOperationError(const QString& text);

// The conversion errors of the data layer, with their usual texts.
[[noreturn]] void ThrowNotAnInteger(const QString& text);
[[noreturn]] void ThrowNotADate(const QString& text);
[[noreturn]] void ThrowNullConversion(const QString& type);
