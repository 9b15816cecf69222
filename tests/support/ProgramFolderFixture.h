#pragma once

// The ground every test of the program stands on: a program folder of its own, the dialog seam
// answered from queues, a clock that stands still, and the data module on the engine the run
// picks. The store's and the windows' fixtures build on it.

#include "store/AppPath.h"
#include "store/Clock.h"
#include "store/DM.h"
#include "store/OperationLog.h"
#include "support/TestDialogs.h"
#include "support/TestServer.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>

// A temporary folder set as the program folder (AppPath), the dialog seam answered by the test,
// a clock standing at the time given, and, when the test opens it, the data module `dm`: on the
// database file in the folder, or, in a run against the test server (ICCARD_TEST_PG), on a
// database of the server that is empty for every test function.
//
// setUp() makes the folder the program's and installs the clock; tearDown() closes the data
// module, takes the clock away and removes the folder. A fixture used for several test functions
// calls them from init() and cleanup(), and each function gets a new folder.
class ProgramFolderFixture {
public:
    explicit ProgramFolderFixture(const QDateTime& now) : clock(now), m_now(now) {}
    ~ProgramFolderFixture() { tearDown(); }
    ProgramFolderFixture(const ProgramFolderFixture&) = delete;
    ProgramFolderFixture& operator=(const ProgramFolderFixture&) = delete;

    void setUp()
    {
        if (m_used) {
            QTemporaryDir fresh;
            dir.swap(fresh); // the folder of the previous test function goes with `fresh`
        }
        m_used = true;
        QVERIFY(dir.isValid());
        SetAppPath(dir.path());
        dialogs.shown.clear();
        dialogs.answers.clear();
        dialogs.fileNames.clear();
        clock.set(m_now);
        setClock(&clock);
        target = DatabaseTarget();
        SetLogOperatorLevel(LogLevelNotLoggedIn);
    }

    void tearDown()
    {
        // The entries of this test function go into its database before the folder goes.
        StopOperationLog();
        closeData();
        setClock(nullptr);
        dir.remove();
    }

    // Makes `dm` on the engine of the run, as the program does at its start: on the file in the
    // folder, or on this test function's database of the test server (emptied when the function
    // opens it first). After `delete dm` it is the program's next start on the same data. A run
    // against the server with no server to be had skips the test function.
    void openData()
    {
        if (!TestServer::Wanted()) {
            dm = new Tdm;
            return;
        }
        if (!target.IsServer()) {
            const QString conninfo = TestServer::Conninfo();
            if (conninfo.startsWith(QLatin1String("skip:")))
                QSKIP(qPrintable(QStringLiteral("no PostgreSQL server for this run: ") +
                                 conninfo.mid(5).trimmed()));
            target = TestServer::Fresh();
        }
        dm = new Tdm(target);
    }

    void closeData()
    {
        delete dm;
        dm = nullptr;
    }

    // Whether this run is against the server.
    bool onServer() const { return target.IsServer(); }
    QString folder() const { return dir.path(); }

    QTemporaryDir dir;
    TestDialogs dialogs;
    FixedClock clock;
    DatabaseTarget target; // the server's database, in a run against the server

private:
    QDateTime m_now;
    bool m_used = false;
};
