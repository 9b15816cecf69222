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

// Whole files at once (owner data files), where every byte counts and nothing may be guessed.
// Decodes GBK strictly into text; returns how many bytes from the start were decoded: size when
// every sequence is GBK, otherwise up to the first one that is not (text holds what came before).
qsizetype DecodeGbk(const char* bytes, qsizetype size, QString& text);
// How many bytes from the start DecodeGbk would decode, without decoding them.
qsizetype ValidGbkPrefix(const char* bytes, qsizetype size);
// How many bytes from the start are well-formed UTF-8 (size when all are).
qsizetype ValidUtf8Prefix(const char* bytes, qsizetype size);
// Appends the GBK form of UTF-8 text to out; a character GBK cannot hold becomes one '?'. Returns
// how many characters were replaced so (0 when the text went over whole).
int AppendUtf8AsGbk(const char* utf8, qsizetype size, QByteArray& out);
