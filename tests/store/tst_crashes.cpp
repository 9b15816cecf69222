// Crash rounds: a child process runs an action of the data store and is killed at a random moment
// (crash_child kills itself with SIGKILL), a chosen number of times for each action. After every kill
// the next start must open the database, find it intact, have lost no change that was committed, find
// the settings file old or new but whole, and leave no litter behind. The moments are random from a
// seed, so a failure repeats.
//
// Usage: tst_crashes [--rounds N] [--seed S] [--owners N] [--commit N] [Qt Test options]
// The defaults (100 rounds of each action, 12 of an import of 3,000 owners in commits of 500, 8 of a
// restore racing such an import) are the quick run of the test command; a long run is for example --rounds
// 100 --owners 100000 --commit 10000. Each action ends with a line of figures: rounds, where the kills
// landed, time.

#include "LoggedRounds.h"
#include "SettingsGenerations.h"
#include "StoreFixture.h"
#include "cards/Gbk.h"
#include "store/DbMaintenance.h"
#include "store/OperationError.h"
#include "store/OperationLog.h"
#include "store/OwnerExchange.h"
#include "store/OwnerStatements.h"
#include "store/Schema.h"
#include "store/Startup.h"
#include "store/TvexDeviceInfo.h"
#include "store/TvexTerminalInfo.h"
#include "support/Files.h"
#include "support/OwnerRecords.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

// The quick run of the test command: every action 100 times, the import (the slowest) 12 times, a
// restore racing an import 8 times (a restore may wait seconds for the import's lock).
int Rounds = 100;
int ImportRounds = 12;
int RaceRounds = 8;
quint32 Seed = 20261210;
int ImportLines = 3000;
int ImportCommit = 500;

struct ChildRun {
    QStringList lines; // what the child said it had committed
    bool killed = false;
};

QString childProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/crash_child");
}

// One child's action: what it is, when it is killed (-1: never), its arguments.
struct ChildAction {
    QString action;
    qint64 killAfterUs = -1;
    QString argument;
    QStringList more;
};

// Runs the children at the same time, each on the folder, and waits for all of them.
std::vector<ChildRun> runChildren(const QString& folder, const std::vector<ChildAction>& actions)
{
    // The test's own connection lets go of the file first: a dataset left open on a result holds a read lock
    // that would keep the child from committing.
    delete dm;
    dm = nullptr;
    std::vector<std::unique_ptr<QProcess>> children;
    for (const ChildAction& a : actions) {
        auto& child = children.emplace_back(std::make_unique<QProcess>());
        child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child->start(childProgram(),
                     QStringList{folder, a.action, QString::number(a.killAfterUs), a.argument} + a.more);
    }
    std::vector<ChildRun> runs;
    for (auto& child : children) {
        if (!child->waitForFinished(120000)) {
            child->kill();
            child->waitForFinished();
        }
        ChildRun& run = runs.emplace_back();
        run.killed = child->exitStatus() == QProcess::CrashExit;
        run.lines =
            QString::fromUtf8(child->readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    return runs;
}

ChildRun runChild(const QString& folder, const QString& action, qint64 killAfterUs,
                  const QString& argument = {}, const QStringList& more = {})
{
    return runChildren(folder, {{action, killAfterUs, argument, more}}).front();
}

// Where the kills of one action landed, printed when the action's rounds are over.
class Tally {
public:
    explicit Tally(QString action) : m_action(std::move(action)) { m_time.start(); }
    ~Tally()
    {
        qInfo().noquote() << QStringLiteral("%1: %2 rounds; killed before its first commit %3, after one or "
                                            "more commits %4; not killed (finished first) %5; %6 s")
                                 .arg(m_action)
                                 .arg(m_rounds)
                                 .arg(m_before)
                                 .arg(m_after)
                                 .arg(m_finished)
                                 .arg(double(m_time.elapsed()) / 1000.0, 0, 'f', 1);
    }
    // A round whose child reported `commits` changes committed.
    void add(const ChildRun& run, qsizetype commits)
    {
        ++m_rounds;
        if (!run.killed)
            ++m_finished;
        else if (commits == 0)
            ++m_before;
        else
            ++m_after;
    }

private:
    QString m_action;
    QElapsedTimer m_time;
    int m_rounds = 0;
    int m_before = 0;
    int m_after = 0;
    int m_finished = 0;
};

qsizetype linesStarting(const ChildRun& run, const QString& start)
{
    return std::count_if(run.lines.cbegin(), run.lines.cend(),
                         [&](const QString& line) { return line.startsWith(start); });
}

// How long the action takes when nothing kills it, in microseconds.
qint64 calibrate(const QString& folder, const QString& action, const QString& argument = {},
                 const QStringList& more = {})
{
    const ChildRun run = runChild(folder, action, -1, argument, more);
    for (const QString& line : run.lines) {
        if (line.startsWith(QLatin1String("done ")))
            return line.mid(5).toLongLong();
    }
    return -1;
}

// One entry of the operation log as the database holds it, every column as text ("<null>" for Null).
struct LoggedEntry {
    int idx = 0;
    QStringList columns; // LogTime, Computer, SystemUser, OperatorLevel, Action, Outcome, CardID,
                         // OwnerIdx, OwnerName, Details
};

QList<LoggedEntry> logEntriesAfter(int idx)
{
    QSqlQuery q(dm->database());
    q.prepare(
        QStringLiteral("select idx, LogTime, Computer, SystemUser, OperatorLevel, Action, Outcome, CardID, "
                       "OwnerIdx, OwnerName, Details from OperationLog where idx > :idx order by idx"));
    q.bindValue(QStringLiteral(":idx"), idx);
    QList<LoggedEntry> list;
    if (!q.exec())
        return list;
    while (q.next()) {
        LoggedEntry e;
        e.idx = q.value(0).toInt();
        for (int c = 1; c <= 10; ++c)
            e.columns << (q.value(c).isNull() ? QStringLiteral("<null>") : q.value(c).toString());
        list << e;
    }
    return list;
}

// What is wrong with entry number `at` of a logged run that began at round `first` (three entries a
// round: the owner added, the round's own entry, the owner deleted); empty when it is whole and in
// its place.
QString loggedEntryFault(const LoggedEntry& e, int first, int at)
{
    const int n = first + at / 3;
    const QString cardNo = QStringLiteral("L%1").arg(n);
    const QStringList& c = e.columns;
    static const QRegularExpression time(QStringLiteral("^2024-03-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
    if (!time.match(c[0]).hasMatch() || c[1] != LogComputer() || c[2] != LogSystemUser() ||
        c[3] != QString::number(LogLevelNotLoggedIn) || c[5] != LogSucceeded)
        return QStringLiteral("stamp ") + c.mid(0, 6).join(QLatin1Char('|'));
    switch (at % 3) {
    case 0:
    case 2:
        if (c[4] != (at % 3 == 0 ? LogAction::AddOwner : LogAction::DeleteOwner) ||
            c[8] != QStringLiteral("业主") + cardNo ||
            !c[9].startsWith(QStringLiteral("卡编号=%1；栋号=1；单元=1；").arg(cardNo)))
            return QStringLiteral("owner entry ") + c.join(QLatin1Char('|'));
        break;
    default:
        if (c[4] != LogAction::SaveSettings || c[9] != LoggedRoundDetails(n) ||
            c[6] != QStringLiteral("<null>") || c[7] != QStringLiteral("<null>"))
            return QStringLiteral("round entry ") + c.mid(4).join(QLatin1Char('|'));
        break;
    }
    return {};
}

// An owner data file of `lines` owners of building 1, unit 1, with card numbers K0, K1, ... and
// names that start with `name`.
QByteArray ownerFile(int lines, const QString& name)
{
    QString text = QString::fromUtf8(OwnerFileHeader) + QStringLiteral("\r\n");
    for (int i = 0; i < lines; ++i)
        text += QStringLiteral("1,1,%1,_,%2%1,,否,2026/1/1,男,用户卡,_K%1,null.jpg,%3|\r\n")
                    .arg(QString::number(i), name, QString::number(i % 256));
    return StringToGbk(text);
}

// The import's owners in a database: how many owners and card numbers there are, how many of the
// import's owners carry the new name, and the first and last line number of those.
struct ImportedShape {
    int owners = 0;
    int cards = 0;
    int renamed = 0;
    int first = -1;
    int last = -1;
    int restored = 0; // owners of the restored backup (card numbers B...)
    QString text() const
    {
        return QStringLiteral("%1 owners, %2 cards, %3 restored, %4 renamed from K%5 to K%6")
            .arg(owners)
            .arg(cards)
            .arg(restored)
            .arg(renamed)
            .arg(first)
            .arg(last);
    }
};

ImportedShape importedShape(QSqlDatabase db, const QString& renamedName)
{
    ImportedShape shape;
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "select count(*), count(distinct CardNo), total(UserName like :name), "
        "ifnull(min(case when UserName like :name then cast(substr(CardNo, 2) as integer) end), -1), "
        "ifnull(max(case when UserName like :name then cast(substr(CardNo, 2) as integer) end), -1), "
        "total(CardNo like 'B%') from UserInfo"));
    q.bindValue(QStringLiteral(":name"), renamedName + QLatin1Char('%'));
    if (q.exec() && q.next()) {
        shape.owners = q.value(0).toInt();
        shape.cards = q.value(1).toInt();
        shape.renamed = q.value(2).toInt();
        shape.first = q.value(3).toInt();
        shape.last = q.value(4).toInt();
        shape.restored = q.value(5).toInt();
    }
    return shape;
}

// The same of a database file, on a connection of its own.
ImportedShape importedShapeIn(const QString& path, const QString& renamedName)
{
    ImportedShape shape;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("shape"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open())
            shape = importedShape(db, renamedName);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("shape"));
    return shape;
}

void copyFile(const QString& from, const QString& to)
{
    QFile::remove(to);
    QVERIFY2(QFile::copy(from, to), qPrintable(from + QStringLiteral(" -> ") + to));
}

QStringList filesIn(const QString& folder, const QStringList& filters = {})
{
    return QDir(folder).entryList(filters, QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestCrashes : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void journalLeftByACrashIsRolledBack();
    void killedDuringCreation();
    void killedDuringWrites();
    void killedDuringBackup();
    void killedDuringRestore();
    void killedDuringEmptying();
    void killedDuringImport();
    void restoreRacingAnImport();
    void killedDuringSettingsSave();
    void killedDuringLoggedActions();

private:
    // The next start: the data module on the folder opens the database without a message, and the
    // engine finds every page intact. Leaves dm open for the caller's checks.
    void startAgain(const QString& folder, const QString& context);
    // A database file with `owners` owners named prefix + number, 5 terminals and 3 units.
    QString makeDatabase(const QString& name, const QString& prefix, int owners);

    StoreFixture f;
    QTemporaryDir m_templates;
    QRandomGenerator m_random{Seed};
};

void TestCrashes::initTestCase()
{
    QVERIFY2(QFileInfo::exists(childProgram()), qPrintable(childProgram()));
    qInfo() << "rounds" << Rounds << "seed" << Seed << "import of" << ImportLines << "owners in commits of"
            << ImportCommit;
}

void TestCrashes::startAgain(const QString& folder, const QString& context)
{
    delete dm;
    SetAppPath(folder);
    f.dialogs.clear();
    dm = StartDataModule();
    try {
        dm->database();
    } catch (const OperationError& e) {
        QFAIL(qPrintable(context + QStringLiteral(": the next start refused the database: ") + e.message()));
    }
    QVERIFY2(f.dialogs.shown.isEmpty(), qPrintable(context + QLatin1Char(' ') + f.dialogs.texts().join(' ')));
    QCOMPARE(column(QStringLiteral("PRAGMA integrity_check")), QVariantList{QStringLiteral("ok")});
    if (QFileInfo::exists(SettingsPath()))
        QVERIFY2(LoadSettings() == SettingsLoad::Loaded, qPrintable(context + QStringLiteral(" settings")));
    // Nothing but the database and the settings file beside them: no journal, partial copy,
    // restore temporary or unfinished save is left, and none in the backup folder either.
    QStringList litter = filesIn(folder);
    litter.removeAll(QStringLiteral("QDR_DB.GRes"));
    litter.removeAll(QStringLiteral("SystemInfo.dat"));
    // A journal cut off before its header was written is not hot: the engine leaves it where it is
    // and reuses it for the next change (a hot one it has rolled back and removed when it opened).
    // It is one file of a fixed name, never more, so it does not pile up; removing it by hand could
    // break another process's change.
    QFile journal(folder + QStringLiteral("/QDR_DB.GRes-journal"));
    if (journal.open(QIODevice::ReadOnly)) {
        const QByteArray head = journal.read(8);
        if (head != QByteArray::fromHex("d9d505f920a163d7"))
            litter.removeAll(QStringLiteral("QDR_DB.GRes-journal"));
        else
            litter << QStringLiteral("(a hot journal)");
    }
    litter << filesIn(folder + QStringLiteral("/dbBak"),
                      {QStringLiteral("*.part*"), QStringLiteral("*-journal")});
    QVERIFY2(litter.isEmpty(),
             qPrintable(context + QStringLiteral(" left ") + litter.join(QLatin1Char(' '))));
}

QString TestCrashes::makeDatabase(const QString& name, const QString& prefix, int owners)
{
    const QString folder = m_templates.filePath(name);
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    delete dm;
    SetAppPath(folder);
    dm = new Tdm;
    dm->BeginBatch();
    for (int i = 0; i < owners; ++i) {
        InsertUserInfo(*dm, OwnerRecord(prefix + QString::number(i), prefix + QString::number(i)),
                       InsertEntry::Import);
    }
    for (int t = 1; t <= 5; ++t)
        AddTerminal({0, QString::number(t), prefix + QString::number(t), QString()});
    for (int u = 1; u <= 3; ++u)
        TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QString::number(u), prefix);
    dm->CommitBatch();
    delete dm;
    dm = new Tdm;
    SetAppPath(f.folder());
    return folder + QStringLiteral("/QDR_DB.GRes");
}

void TestCrashes::journalLeftByACrashIsRolledBack()
{
    const QString database = makeDatabase(QStringLiteral("a"), QStringLiteral("A"), 3000);
    copyFile(database, f.folder() + QStringLiteral("/QDR_DB.GRes"));
    const ChildRun run = runChild(f.folder(), QStringLiteral("journal"), -1);
    QVERIFY(run.killed);
    // The change had already reached the file: the journal beside it is the only way back.
    QFile journal(f.folder() + QStringLiteral("/QDR_DB.GRes-journal"));
    QVERIFY(journal.open(QIODevice::ReadOnly));
    QVERIFY(journal.read(8) != QByteArray(8, '\0'));
    journal.close();

    startAgain(f.folder(), QStringLiteral("journal"));
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 3000);
    QCOMPARE(column(QStringLiteral("select count(*) from TerminalInfo where TerminalName = 'half'")),
             QVariantList{0});
    QVERIFY(!journal.exists());
}

void TestCrashes::killedDuringCreation()
{
    const qint64 span = calibrate(f.folder(), QStringLiteral("create"));
    QVERIFY(span > 0);
    Tally tally(QStringLiteral("creation"));
    for (int round = 0; round < Rounds; ++round) {
        const QString folder = f.folder() + QStringLiteral("/create%1").arg(round);
        QDir().mkpath(folder);
        const qint64 at = qint64(m_random.bounded(double(span) * 1.2));
        const ChildRun run = runChild(folder, QStringLiteral("create"), at);
        tally.add(run, linesStarting(run, QStringLiteral("created")));
        const QString context = QStringLiteral("creation round %1, killed after %2 µs").arg(round).arg(at);
        startAgain(folder, context);
        if (QTest::currentTestFailed())
            return;
        if (run.lines.contains(QStringLiteral("created")))
            QVERIFY2(CardNoExists(*dm, QStringLiteral("created")), qPrintable(context));
        QCOMPARE(column(QStringLiteral("PRAGMA user_version")), QVariantList{SchemaVersion});
    }
}

void TestCrashes::killedDuringWrites()
{
    const QString folder = f.folder() + QStringLiteral("/writes");
    QDir().mkpath(folder);
    const qint64 span = calibrate(folder, QStringLiteral("writes"), QStringLiteral("1000000"));
    QVERIFY(span > 0);
    QStringList singles; // owners committed one at a time
    QStringList batches; // card number prefixes of batches committed
    Tally tally(QStringLiteral("writes"));
    for (int round = 0; round < Rounds; ++round) {
        const qint64 at = qint64(m_random.bounded(double(span) * 1.2));
        const ChildRun run = runChild(folder, QStringLiteral("writes"), at, QString::number(round * 1000));
        tally.add(run, linesStarting(run, QStringLiteral("single ")) +
                           linesStarting(run, QStringLiteral("batch ")));
        const QString context = QStringLiteral("writes round %1, killed after %2 µs").arg(round).arg(at);
        for (const QString& line : run.lines) {
            if (line.startsWith(QLatin1String("single ")))
                singles << line.mid(7);
            else if (line.startsWith(QLatin1String("batch ")))
                batches << line.mid(6);
        }
        startAgain(folder, context);
        if (QTest::currentTestFailed())
            return;
        // Every change ever reported is there, and every batch is whole or absent.
        for (const QString& cardNo : singles)
            QVERIFY2(CardNoExists(*dm, cardNo), qPrintable(context + QLatin1Char(' ') + cardNo));
        const QVariantList counts = column(
            QStringLiteral("select count(*) from UserInfo where CardNo like 'b%' group by substr(CardNo, 1, "
                           "instr(CardNo, '-'))"));
        for (const QVariant& count : counts)
            QVERIFY2(count.toInt() == 20, qPrintable(context + QStringLiteral(" a batch in part")));
        for (const QString& prefix : batches)
            QCOMPARE(
                column(QStringLiteral("select count(*) from UserInfo where CardNo like '%1%'").arg(prefix)),
                QVariantList{20});
    }
    qInfo() << "committed" << singles.size() << "single owners and" << batches.size() << "batches";
    QVERIFY(singles.size() + batches.size() > Rounds / 2);
}

void TestCrashes::killedDuringBackup()
{
    const QString database = makeDatabase(QStringLiteral("a"), QStringLiteral("A"), 400);
    const QString folder = f.folder() + QStringLiteral("/backup");
    QDir().mkpath(folder);
    copyFile(database, folder + QStringLiteral("/QDR_DB.GRes"));
    const qint64 span = calibrate(folder, QStringLiteral("backup"));
    QVERIFY(span > 0);
    const QString backups = folder + QStringLiteral("/dbBak");
    Tally tally(QStringLiteral("backup"));
    for (int round = 0; round < Rounds; ++round) {
        const qint64 at = qint64(m_random.bounded(double(span) * 1.2));
        const ChildRun run =
            runChild(folder, QStringLiteral("backup"), at, QString::number((round + 1) * 1000));
        tally.add(run, linesStarting(run, QStringLiteral("backup ")));
        const QString context = QStringLiteral("backup round %1, killed after %2 µs").arg(round).arg(at);
        startAgain(folder, context);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(countRows(QStringLiteral("UserInfo")), 400);
        // No partial copy is left, and every backup there is whole.
        QVERIFY2(filesIn(backups, {QStringLiteral("*.part*")}).isEmpty(), qPrintable(context));
        for (const QString& name : filesIn(backups)) {
            const DatabaseCheck check = CheckDatabaseFile(backups + QLatin1Char('/') + name, true);
            QVERIFY2(check.ok && !check.empty, qPrintable(context + QLatin1Char(' ') + name + check.reason));
            QFile::remove(backups + QLatin1Char('/') + name);
        }
    }
}

void TestCrashes::killedDuringRestore()
{
    const QString current = makeDatabase(QStringLiteral("a"), QStringLiteral("A"), 40);
    const QString backup = makeDatabase(QStringLiteral("b"), QStringLiteral("B"), 60);
    // A backup of the first version, which is brought up to date when it is opened.
    const QString oldBackup = m_templates.filePath(QStringLiteral("v1.bak"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v1"));
        db.setDatabaseName(oldBackup);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("begin")));
        for (const QString& s : SchemaStatements(1))
            QVERIFY(q.exec(s));
        QVERIFY(q.exec(QStringLiteral("PRAGMA user_version = 1")));
        for (int i = 0; i < 60; ++i)
            QVERIFY(
                q.exec(QStringLiteral("insert into UserInfo (CardNo, Expdate) values ('B%1', '2030-01-01')")
                           .arg(i)));
        QVERIFY(q.exec(QStringLiteral("commit")));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("v1"));

    const QString folder = f.folder() + QStringLiteral("/restore");
    QDir().mkpath(folder);
    const QString chosen = f.folder() + QStringLiteral("/chosen.bak");
    copyFile(current, folder + QStringLiteral("/QDR_DB.GRes"));
    copyFile(oldBackup, chosen);
    const qint64 span = calibrate(folder, QStringLiteral("restore"), chosen);
    QVERIFY(span > 0);
    Tally tally(QStringLiteral("restore"));
    for (int round = 0; round < Rounds; ++round) {
        copyFile(current, folder + QStringLiteral("/QDR_DB.GRes"));
        copyFile(round % 2 ? backup : oldBackup, chosen);
        const qint64 at = qint64(m_random.bounded(double(span) * 1.2));
        const ChildRun run = runChild(folder, QStringLiteral("restore"), at, chosen);
        tally.add(run, linesStarting(run, QStringLiteral("restored")));
        const QString context = QStringLiteral("restore round %1, killed after %2 µs").arg(round).arg(at);
        startAgain(folder, context);
        if (QTest::currentTestFailed())
            return;
        // Either the database that was there, or the one restored: never a mixture.
        const QVariantList shape = column(QStringLiteral("select count(*) || substr(min(CardNo), 1, 1) || "
                                                         "substr(max(CardNo), 1, 1) from UserInfo"));
        const QString seen = shape.value(0).toString();
        if (run.lines.contains(QStringLiteral("restored")))
            QVERIFY2(seen == QLatin1String("60BB"), qPrintable(context + QLatin1Char(' ') + seen));
        else
            QVERIFY2(seen == QLatin1String("40AA") || seen == QLatin1String("60BB"),
                     qPrintable(context + QLatin1Char(' ') + seen));
        QVERIFY2(!QFileInfo::exists(Tdm::DatabasePath() + QStringLiteral(".restore")), qPrintable(context));
        QVERIFY2(filesIn(folder, {QStringLiteral("QDR_DB.GRes.*")}).isEmpty(), qPrintable(context));
        QDir(folder + QStringLiteral("/dbBak")).removeRecursively();
    }
}

void TestCrashes::killedDuringEmptying()
{
    const QString database = makeDatabase(QStringLiteral("a"), QStringLiteral("A"), 2000);
    const QString folder = f.folder() + QStringLiteral("/empty");
    QDir().mkpath(folder);
    copyFile(database, folder + QStringLiteral("/QDR_DB.GRes"));
    const qint64 span = calibrate(folder, QStringLiteral("empty"));
    QVERIFY(span > 0);
    Tally tally(QStringLiteral("emptying"));
    for (int round = 0; round < Rounds; ++round) {
        copyFile(database, folder + QStringLiteral("/QDR_DB.GRes"));
        const qint64 at = qint64(m_random.bounded(double(span) * 1.2));
        const ChildRun run = runChild(folder, QStringLiteral("empty"), at);
        tally.add(run, linesStarting(run, QStringLiteral("emptied")));
        const QString context = QStringLiteral("emptying round %1, killed after %2 µs").arg(round).arg(at);
        startAgain(folder, context);
        if (QTest::currentTestFailed())
            return;
        // Each table is emptied by a statement of its own: whole or empty, and empty when reported.
        const int owners = countRows(QStringLiteral("UserInfo"));
        const int terminals = countRows(QStringLiteral("TerminalInfo"));
        const int units = countRows(QStringLiteral("BuildInfo"));
        QVERIFY2((owners == 0 || owners == 2000) && (terminals == 0 || terminals == 5) &&
                     (units == 0 || units == 3),
                 qPrintable(context));
        if (run.lines.contains(QStringLiteral("emptied")))
            QVERIFY2(owners + terminals + units == 0, qPrintable(context));
    }
}

void TestCrashes::killedDuringImport()
{
    // A community of owners imported once, then a file with a new name for each of them imported in
    // commits and killed: every owner is there exactly once (no line is
    // half done: its delete and its insert go together), and the renamed ones are the first lines
    // of the file, whole commits only, at least as many as the child saw committed.
    const int Lines = ImportLines;
    const QString first = m_templates.filePath(QStringLiteral("first.csv"));
    const QString second = m_templates.filePath(QStringLiteral("second.csv"));
    WriteFile(first, ownerFile(Lines, QStringLiteral("一")));
    WriteFile(second, ownerFile(Lines, QStringLiteral("二")));
    const QString folder = f.folder() + QStringLiteral("/import");
    QDir().mkpath(folder);
    startAgain(folder, QStringLiteral("import template"));
    const ExchangeResult imported = ImportOwners(first);
    QVERIFY2(imported.ok(), qPrintable(imported.message));
    delete dm;
    dm = nullptr;
    const QString database = m_templates.filePath(QStringLiteral("imported.db"));
    copyFile(folder + QStringLiteral("/QDR_DB.GRes"), database);

    const QStringList commit{QString::number(ImportCommit)};
    const qint64 span = calibrate(folder, QStringLiteral("import"), second, commit);
    QVERIFY(span > 0);
    copyFile(database, folder + QStringLiteral("/QDR_DB.GRes"));
    Tally tally(QStringLiteral("import of %1 owners").arg(Lines));
    for (int round = 0; round < ImportRounds; ++round) {
        copyFile(database, folder + QStringLiteral("/QDR_DB.GRes"));
        const qint64 at = qint64(m_random.bounded(double(span) * 1.2));
        const ChildRun run = runChild(folder, QStringLiteral("import"), at, second, commit);
        tally.add(run, linesStarting(run, QStringLiteral("committed ")));
        const QString context = QStringLiteral("import round %1, killed after %2 µs").arg(round).arg(at);
        startAgain(folder, context);
        if (QTest::currentTestFailed())
            return;
        int reported = 0; // renamed owners the child saw committed
        for (const QString& line : run.lines) {
            if (line.startsWith(QLatin1String("committed ")))
                reported = line.mid(10).toInt() - 1;
        }
        QSqlQuery q(dm->database());
        QVERIFY(
            q.exec(QStringLiteral("select count(*), count(distinct CardNo), total(UserName like '二%'), "
                                  "ifnull(max(case when UserName like '二%' then cast(substr(CardNo, 2) as "
                                  "integer) end), -1) from UserInfo")) &&
            q.next());
        const int owners = q.value(0).toInt();
        const int cards = q.value(1).toInt();
        const int renamed = q.value(2).toInt();
        const int last = q.value(3).toInt();
        const QString seen = QStringLiteral("%1 owners, %2 cards, %3 renamed up to K%4, %5 reported")
                                 .arg(owners)
                                 .arg(cards)
                                 .arg(renamed)
                                 .arg(last)
                                 .arg(reported);
        QVERIFY2(owners == Lines && cards == Lines, qPrintable(context + QLatin1Char(' ') + seen));
        QVERIFY2(last == renamed - 1 && (renamed % ImportCommit == 0 || renamed == Lines) &&
                     renamed >= reported,
                 qPrintable(context + QLatin1Char(' ') + seen));
    }
}

void TestCrashes::restoreRacingAnImport()
{
    // A community imported once; then, in every round, an import that renames its owners runs in
    // one child while another child restores a backup of 60 other owners, each killed at a random
    // moment or not at all. Whatever happens, the database and every copy the restore kept pass the
    // whole check; the database holds either the community with whole commits of the import (every
    // commit the child saw among them), or the backup's 60 owners with the import's later commits
    // after them, and then the kept copy holds the community with the commits before the restore;
    // a restore that is refused says the database is in use, and keeps nothing.
    const int Lines = ImportLines;
    const QString first = m_templates.filePath(QStringLiteral("first.csv"));
    const QString second = m_templates.filePath(QStringLiteral("second.csv"));
    WriteFile(first, ownerFile(Lines, QStringLiteral("一")));
    WriteFile(second, ownerFile(Lines, QStringLiteral("二")));
    const QString backup = makeDatabase(QStringLiteral("b"), QStringLiteral("B"), 60);
    const QString folder = f.folder() + QStringLiteral("/race");
    QDir().mkpath(folder);
    startAgain(folder, QStringLiteral("race template"));
    const ExchangeResult imported = ImportOwners(first);
    QVERIFY2(imported.ok(), qPrintable(imported.message));
    delete dm;
    dm = nullptr;
    const QString database = m_templates.filePath(QStringLiteral("race.db"));
    copyFile(folder + QStringLiteral("/QDR_DB.GRes"), database);
    const QString backups = folder + QStringLiteral("/dbBak");

    const QStringList commit{QString::number(ImportCommit)};
    const qint64 importSpan = calibrate(folder, QStringLiteral("import"), second, commit);
    QVERIFY(importSpan > 0);
    copyFile(database, folder + QStringLiteral("/QDR_DB.GRes"));
    const qint64 restoreSpan = calibrate(folder, QStringLiteral("restore"), backup);
    QVERIFY(restoreSpan > 0);

    int restored = 0;
    int between = 0; // restores after which the import went on committing
    int refused = 0;
    int restoresKilled = 0;
    int importsKilled = 0;
    QElapsedTimer time;
    time.start();
    for (int round = 0; round < RaceRounds; ++round) {
        copyFile(database, folder + QStringLiteral("/QDR_DB.GRes"));
        QDir(backups).removeRecursively();
        // In turn: the import is killed, the restore is killed (while it waits for the import's lock
        // or while it works), both are, neither is; one not killed runs to its end.
        const int killed = round % 4;
        const qint64 wait = qint64(m_random.bounded(double(importSpan)));
        const qint64 importKill =
            killed == 0 || killed == 2 ? qint64(m_random.bounded(double(importSpan) * 1.3)) : -1;
        const qint64 restoreKill =
            killed == 1 || killed == 2 ? wait + qint64(m_random.bounded(double(restoreSpan) * 1.5)) : -1;
        const std::vector<ChildRun> runs =
            runChildren(folder, {{QStringLiteral("import"), importKill, second, commit},
                                 {QStringLiteral("restore"), restoreKill, backup, {QString::number(wait)}}});
        const ChildRun& import = runs[0];
        const ChildRun& restore = runs[1];
        importsKilled += import.killed;
        const QString context =
            QStringLiteral("race round %1, import killed after %2 µs, restore waits %3 µs "
                           "and is killed after %4 µs")
                .arg(round)
                .arg(importKill)
                .arg(wait)
                .arg(restoreKill);
        int reported = 0; // import lines the child saw committed
        for (const QString& line : import.lines) {
            if (line.startsWith(QLatin1String("committed ")))
                reported = line.mid(10).toInt() - 1;
        }
        const bool said = restore.lines.contains(QStringLiteral("restored"));
        const qsizetype refusals = linesStarting(restore, QStringLiteral("refused "));
        restored += said;
        refused += int(refusals);
        restoresKilled += restore.killed;
        for (const QString& line : restore.lines) {
            if (line.startsWith(QLatin1String("refused ")))
                QVERIFY2(line.contains(QStringLiteral("数据库正被其他程序使用")),
                         qPrintable(context + QLatin1Char(' ') + line));
        }

        startAgain(folder, context);
        if (QTest::currentTestFailed())
            return;
        const ImportedShape live = importedShape(dm->database(), QStringLiteral("二"));
        const QStringList kept = filesIn(backups);
        QVERIFY2(refusals == 0 || kept.isEmpty(),
                 qPrintable(context + QStringLiteral(" a refusal kept a copy")));
        QVERIFY2(kept.size() <= 1, qPrintable(context + QLatin1Char(' ') + kept.join(QLatin1Char(' '))));
        // Each commit of the import is whole: its renamed owners are the first lines of the file, in
        // whole commits.
        auto wholeCommits = [&](const ImportedShape& s, int from) {
            return s.renamed == 0 ||
                   (s.first == from && s.last == from + s.renamed - 1 && from % ImportCommit == 0 &&
                    ((s.last + 1) % ImportCommit == 0 || s.last + 1 == Lines));
        };
        ImportedShape before; // the kept copy: the community as the restore found it
        if (!kept.isEmpty()) {
            const QString path = backups + QLatin1Char('/') + kept.first();
            const DatabaseCheck check = CheckDatabaseFile(path, true);
            QVERIFY2(check.ok && !check.empty, qPrintable(context + QLatin1Char(' ') + check.reason));
            before = importedShapeIn(path, QStringLiteral("二"));
            QVERIFY2(before.owners == Lines && before.cards == Lines && before.restored == 0 &&
                         wholeCommits(before, 0),
                     qPrintable(context + QStringLiteral(" kept copy: ") + before.text()));
        }
        if (live.restored == 0) {
            // No restore: the community with whole commits of the import, every one it reported.
            QVERIFY2(!said, qPrintable(context + QStringLiteral(" said restored, but holds ") + live.text()));
            QVERIFY2(live.owners == Lines && live.cards == Lines && wholeCommits(live, 0) &&
                         live.renamed >= reported && before.renamed <= live.renamed,
                     qPrintable(context + QLatin1Char(' ') + live.text() +
                                QStringLiteral(", %1 reported").arg(reported)));
        } else {
            // The backup whole, then the import's commits after the restore: the kept copy holds
            // the ones before it, so that every commit it reported is in one of the two.
            QVERIFY2(kept.size() == 1, qPrintable(context + QStringLiteral(" restored without a kept copy")));
            const int after = live.renamed == 0 ? before.renamed : live.first;
            between += live.renamed > 0;
            QVERIFY2(live.restored == 60 && live.owners == 60 + live.renamed && live.cards == live.owners &&
                         after == before.renamed && wholeCommits(live, after) &&
                         std::max(before.renamed, live.last + 1) >= reported,
                     qPrintable(context + QLatin1Char(' ') + live.text() + QStringLiteral(", kept ") +
                                before.text() + QStringLiteral(", %1 reported").arg(reported)));
        }
    }
    qInfo().noquote() << QStringLiteral(
                             "restore racing an import of %1 owners: %2 rounds; restored %3 (the import "
                             "going on after it %8), refused %4, restore killed %5, import killed %6; %7 s")
                             .arg(Lines)
                             .arg(RaceRounds)
                             .arg(restored)
                             .arg(refused)
                             .arg(restoresKilled)
                             .arg(importsKilled)
                             .arg(double(time.elapsed()) / 1000.0, 0, 'f', 1)
                             .arg(between);
}

void TestCrashes::killedDuringSettingsSave()
{
    // The settings saved over and over, each save a whole record of a generation of its own: after a
    // kill the file is the last save reported or the one that was on its way, never a mixture or a
    // short file, and the next start loads it and clears what the cut save left.
    const QString folder = f.folder() + QStringLiteral("/settings");
    QDir().mkpath(folder);
    SetAppPath(folder);
    FillSettingsGeneration(SystemInfo, 0);
    QVERIFY(SaveDataFile(SettingsPath(), SettingsFileKind, &SystemInfo, sizeof SystemInfo));
    const qint64 span = calibrate(folder, QStringLiteral("settings"), QStringLiteral("1"));
    QVERIFY(span > 0);
    quint32 last = 12; // the calibration saved 1 to 12
    Tally tally(QStringLiteral("settings save"));
    for (int round = 0; round < Rounds; ++round) {
        const qint64 at = qint64(m_random.bounded(double(span) * 1.2));
        const ChildRun run = runChild(folder, QStringLiteral("settings"), at, QString::number(last + 1));
        const qsizetype saves = linesStarting(run, QStringLiteral("saved "));
        tally.add(run, saves);
        const QString context = QStringLiteral("settings round %1, killed after %2 µs").arg(round).arg(at);
        QVERIFY2(saves == 0 ||
                     run.lines.value(saves - 1) == QStringLiteral("saved %1").arg(last + quint32(saves)),
                 qPrintable(context + QLatin1Char(' ') + run.lines.join(QLatin1Char(' '))));
        last += quint32(saves);
        QFile file(folder + QStringLiteral("/SystemInfo.dat"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const std::optional<quint32> found = SettingsGenerationOf(file.readAll());
        file.close();
        QVERIFY2(
            found && (*found == last || *found == last + 1),
            qPrintable(context + QStringLiteral(" holds %1, last saved %2")
                                     .arg(found ? QString::number(*found) : QStringLiteral("a broken file"))
                                     .arg(last)));
        startAgain(folder, context);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(std::memcmp(&SystemInfo.Reserved1, &*found, sizeof(quint32)) == 0);
        last = *found;
    }
}

void TestCrashes::killedDuringLoggedActions()
{
    // Owners added and deleted with their entries in the operation log, killed at any moment: the log
    // is whole after every kill (each entry in with every column as written, or not at all), holds a
    // run's entries in the order they were recorded with none missing before the last one in, and
    // holds every entry the child saw flushed.
    const QString folder = f.folder() + QStringLiteral("/logged");
    QDir().mkpath(folder);
    const qint64 span = calibrate(folder, QStringLiteral("logged"), QStringLiteral("1000000"));
    QVERIFY(span > 0);
    int seen = 0; // the log's last idx checked
    {
        startAgain(folder, QStringLiteral("logged, not killed"));
        const QList<LoggedEntry> all = logEntriesAfter(0);
        QCOMPARE(all.size(), 12 * 3);
        seen = all.last().idx;
    }
    Tally tally(QStringLiteral("logged actions"));
    int flushedRounds = 0;
    for (int round = 0; round < Rounds; ++round) {
        const int first = round * 1000;
        const qint64 at = qint64(m_random.bounded(double(span) * 1.2));
        const ChildRun run = runChild(folder, QStringLiteral("logged"), at, QString::number(first));
        const qsizetype flushes = linesStarting(run, QStringLiteral("flushed "));
        tally.add(run, flushes);
        const QString context = QStringLiteral("logged round %1, killed after %2 µs").arg(round).arg(at);
        startAgain(folder, context);
        if (QTest::currentTestFailed())
            return;
        const QList<LoggedEntry> entries = logEntriesAfter(seen);
        for (int i = 0; i < entries.size(); ++i) {
            const QString fault = loggedEntryFault(entries[i], first, i);
            QVERIFY2(fault.isEmpty(), qPrintable(context + QStringLiteral(", entry %1: ").arg(i) + fault));
        }
        int lastFlushed = -1;
        for (const QString& line : run.lines)
            if (line.startsWith(QLatin1String("flushed ")))
                lastFlushed = line.mid(8).toInt() - first;
        QVERIFY2(entries.size() >= (lastFlushed + 1) * 3,
                 qPrintable(
                     context +
                     QStringLiteral(": %1 entries, round %2 flushed").arg(entries.size()).arg(lastFlushed)));
        if (lastFlushed >= 0)
            ++flushedRounds;
        if (!entries.isEmpty())
            seen = entries.last().idx;
        QVERIFY2(ownerCount() <= 1, qPrintable(context)); // killed between an add and its delete
        QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from UserInfo")));
    }
    qInfo() << flushedRounds << "rounds had flushed entries before the kill";
}

// Takes the run's own options off the command line and leaves the rest to Qt Test.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const QByteArray option = argv[i];
        const bool ours =
            option == "--rounds" || option == "--seed" || option == "--owners" || option == "--commit";
        if (!ours || i + 1 >= argc) {
            rest.push_back(argv[i]);
            continue;
        }
        const QByteArray value = argv[++i];
        if (option == "--rounds")
            Rounds = ImportRounds = RaceRounds = value.toInt();
        else if (option == "--seed")
            Seed = value.toUInt();
        else if (option == "--owners")
            ImportLines = value.toInt();
        else
            ImportCommit = value.toInt();
    }
    // A long run takes far longer than Qt Test's five minutes per test function; the test command's
    // own time-out still bounds the quick run.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", "86400000");
    TestCrashes test;
    return QTest::qExec(&test, int(rest.size()), rest.data());
}
#include "tst_crashes.moc"
