#pragma once

// Many owners of an owner data file imported in commits of many (the file's prepared statements, or
// the server's copy through the engine). User-interface thread only.

#include "SqlFailure.h"
#include "UserInfoRec.h"
#include "engine/Engine.h"

#include <QString>
#include <array>
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
// A run into a table that held no owners when it began (the common first load of a community) leaves
// out the passes that could find nothing: the delete of an owner whose key no earlier owner of the
// run had, and the taking of serials no earlier commit brought, for as long as nothing but the run
// itself changed the database (ImportRunNotes).
class ImportBatch {
public:
    // Throws OperationError when the database cannot be used. expectedOwners: about how many owners
    // the run brings (the lines of its file), so that what it notes of them is made room for once.
    explicit ImportBatch(Tdm& module, int expectedOwners = 0);
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

    // The texts of a pending owner, in the order they are kept.
    static constexpr int KeptTexts = 13;

private:
    // Begins the commit's transaction, and on a server the copy of its owners unless copying is
    // false (the owners done again one by one).
    bool begin(bool copying = true);
    void prepareStatements();
    // Runs the delete (unless replacing is false: the owner replaces no row) and the insert for one
    // owner; the statement that failed, or null.
    PreparedStatement* write(const TuserInfoRec& rec, bool replacing);
    // The pending owners again, one by one, each in a savepoint of its own.
    bool replay();
    bool stop(const SqlFailure& why);
    // Sets the connection's page cache (PRAGMA cache_size) unless it is set so already.
    void setCache(int size);
    // The error box of a refused owner: the statement, its long values cut short.
    void reportRefused(const TuserInfoRec& rec, const PreparedStatement* failed);
    // Whether a run that began on an empty table still has the database to itself
    // (ImportRunNotes::onlyOwn, and m_ownSure), read under the commit's lock. False when the
    // database could not be read (why says why).
    bool stillOnlyOwn(SqlFailure& why);
    // Notes an owner's key and serial against the run's earlier owners; whether the key is new.
    bool noteOwner(const TuserInfoRec& rec);
    // Keeps a pending owner for a replay, and gives one back.
    void keep(const TuserInfoRec& rec);
    void pendingOwner(size_t i, qsizetype& textAt, TuserInfoRec& rec) const;

    // Hashes of keys or serials, each with a number: open addressing in one array, so that a hundred
    // thousand of them cost no allocation each. Two texts sharing a hash (of 64 bits: next to
    // never) would count as the same, which costs a pass, never a row.
    class HashNotes {
    public:
        // Room for count hashes.
        void Reserve(size_t count);
        // The number noted with the hash; a new hash is noted with number, fresh then true.
        int& Note(quint64 hash, int number, bool& fresh);

    private:
        struct Slot {
            quint64 hash = 0; // 0: free
            int number = 0;
        };
        std::vector<Slot> m_slots;
        size_t m_used = 0;
    };

    // A pending owner: its values beside its texts, which are kept one after another in
    // m_pendingTexts (a length of -1 for a null text).
    struct PendingOwner {
        qint64 expiry = 0; // Julian day
        qint32 idx = 0;
        qint32 DongHao = 0;
        qint32 DanYuan = 0;
        bool IsUseExpDate = false;
        bool BlackCard = false;
        std::array<uint8_t, 32> VaildTerminal{};
        std::array<qint32, KeptTexts> lengths{};
    };

    Tdm& m_dm;
    std::unique_ptr<PreparedStatement> m_delete;
    std::unique_ptr<PreparedStatement> m_insert;
    std::unique_ptr<OwnerCopy> m_copy; // on a server, the commit's owners going to it as they come
    std::vector<int> m_positions;      // of the insert's values in the list InsertUserInfo binds
    std::vector<PendingOwner> m_pending;
    std::vector<char16_t> m_pendingTexts;
    bool m_open = false;   // a batch is running
    bool m_replay = false; // one was refused since the last commit: Commit redoes them one by one
    bool m_broken = false;
    QString m_stopReason;
    int m_refused = 0;
    int m_cacheSize = -2000;                      // the connection's page cache before the batch
    int m_cacheSet = 0;                           // the one the batch set
    static constexpr int ReplacingCache = -32768; // KiB
    static constexpr int AddingCache = -8192;
    qint64 m_lastIdx = 0;       // the newest owner's idx when the commit began
    bool m_serialTwice = false; // one of the pending owners' serials came twice in the commit
    bool m_ownSure = false;     // m_run.onlyOwn is known in this commit (not left to the copy)
    // What the run knows across its commits.
    ImportRunNotes m_run;
    int m_commits = 0;            // commits begun (a replay begins its commit again)
    QString m_mark;               // the engine's change mark after the last commit
    HashNotes m_keys;             // the keys of the run's owners so far, folded (see fold)
    HashNotes m_serials;          // the run's serials, folded, with the commit that last brought each
    bool m_keysUnsure = false;    // a key that cannot be folded came: every later key may be one before
    bool m_serialsUnsure = false; // the same for a serial
};
