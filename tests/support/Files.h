#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

// Files in a test's own folder: written whole (the test fails when they cannot be) and read back
// (empty when the file cannot be read).

inline void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
}

inline QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
