#pragma once

// The fixture of the store's tests, on the program folder fixture, with the shared SQL helpers.

#include "support/ProgramFolderFixture.h"
#include "support/TestServer.h"
#include "support/TestSql.h"

#include <QDir>
#include <QRegularExpression>
#include <memory>

// A program folder of its own for every test function, a data module on it, the dialog seam
// answering from queues and a clock that stands still. Any statement that would run with a
// parameter unbound (or a value no parameter takes) fails the test. In a run against the test
// server, the data module works on an empty database of the server.
class StoreFixture : public ProgramFolderFixture {
public:
    StoreFixture() : ProgramFolderFixture(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9))) {}

    void setUp()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("SQL statement refused")));
        ProgramFolderFixture::setUp();
        if (QTest::currentTestFailed())
            return;
        openData();
    }
};
