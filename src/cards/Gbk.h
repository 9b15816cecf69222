#pragma once

#include <QByteArray>
#include <QString>

// Text on cards, in the settings file and in owner data files is GBK. These convert to and from
// Qt strings, which are only for showing and typing.

// Decodes at most maxBytes bytes, stopping at the first zero byte.
QString GbkToString(const char* bytes, int maxBytes);
QString GbkToString(const QByteArray& bytes);
// Characters GBK cannot hold become '?'.
QByteArray StringToGbk(const QString& text);
// Copies the GBK bytes of text into a fixed field, zero-filled, cut at size bytes.
void CopyGbkField(char* field, int size, const QByteArray& gbk);
