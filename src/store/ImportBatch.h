#pragma once

// Many owners of an owner data file imported in commits of many (the file's prepared statements, or
// the server's copy through the engine). User-interface thread only.

#include "SqlFailure.h"
#include "UserInfoRec.h"

#include <QSet>
#include <QString>
#include <memory>
#include <vector>

class Tdm;
class OwnerCopy;
class PreparedStatement;

// The owners of an owner data file, many in a row: each one takes the place of the rows with its
// card number in its building and unit, exactly as ImportUserInfo does, but the two statements are
// prepared once and the owners kept in commits of many, so that a community's file takes seconds
// rather than minutes (one commit waits for the disk). Each commit also takes the card serials its
// owners bring from any other owner holding them, in one statement. Each owner is all or nothing: one the
// database refuses for its own values is reported ("执行错误：" and the statement, as
// ImportUserInfo reports it) and left out, and the others of its commit are kept. A failure of the
// database itself (read-only, full, held by another program, an I/O error, a lost server) is not
// the owner's: the batch then stops, undoes what was added since the last Commit, shows nothing and
// keeps the reason (StopReason) for the caller to say once. What was added since the last Commit
// is undone when the batch ends without one, and is not there after a crash. User-interface thread
// only; no other change may run on the data module between Add and Commit, and on a server no
// statement at all (the owners are on their way to it as they are added).
class ImportBatch {
public:
    // Throws OperationError when the database cannot be used.
    explicit ImportBatch(Tdm& module);
    ~ImportBatch();
    ImportBatch(const ImportBatch&) = delete;
    ImportBatch& operator=(const ImportBatch&) = delete;

    // Adds one owner. False when the batch has stopped: the owners since the last Commit are gone
    // and the batch takes no more.
    bool Add(const TuserInfoRec& rec);
    // Keeps the owners added since the last Commit, all but the refused ones. False when the batch
    // has stopped; it then takes no more.
    bool Commit();
    // Why the batch stopped, in words, with the engine's text; empty while it goes on.
    const QString& StopReason() const { return m_stopReason; }
    // The owners refused so far, each reported.
    int Refused() const { return m_refused; }
    // The owners added since the last Commit.
    int Pending() const { return int(m_pending.size()); }

private:
    // Begins the commit's transaction, and on a server the copy of its owners unless copying is
    // false (the owners done again one by one).
    bool begin(bool copying = true);
    void prepareStatements();
    // Runs the delete and the insert for one owner; the statement that failed, or null.
    PreparedStatement* write(const TuserInfoRec& rec);
    // The pending owners again, one by one, each in a savepoint of its own.
    bool replay();
    bool stop(const SqlFailure& why);
    // The error box of a refused owner: the statement, its long values cut short.
    void reportRefused(const TuserInfoRec& rec, const PreparedStatement* failed);

    Tdm& m_dm;
    std::unique_ptr<PreparedStatement> m_delete;
    std::unique_ptr<PreparedStatement> m_insert;
    std::unique_ptr<OwnerCopy> m_copy; // on a server, the commit's owners going to it as they come
    std::vector<int> m_positions;      // of the insert's values in the list InsertUserInfo binds
    std::vector<TuserInfoRec> m_pending;
    bool m_open = false;   // a batch is running
    bool m_replay = false; // one was refused since the last commit: Commit redoes them one by one
    bool m_broken = false;
    QString m_stopReason;
    int m_refused = 0;
    int m_cacheSize = -2000;    // the connection's page cache before the batch
    qint64 m_lastIdx = 0;       // the newest owner's idx when the commit began
    QSet<QString> m_serials;    // the card serials of the pending owners, upper case
    bool m_serialTwice = false; // one of them came twice
};
