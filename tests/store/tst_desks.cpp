// Two desks on one database: the office and the gatehouse, each a program of its own. What one
// changes the other sees on its next reload; a card registered at both at the same moment ends
// with one owner; the marks and the blacklist preparation live in the database, shared. Runs on
// the file and, against the test cluster, on a server.

#include "StoreFixture.h"
#include "office/BlackList.h"
#include "store/DbMaintenance.h"
#include "store/ListModel.h"
#include "store/OwnerStatements.h"
#include "store/Schema.h"
#include "store/TvexUserInfo.h"
#include "support/OwnerRecords.h"

#include <QProcess>

namespace {

// The desk that dm stands for while it lives: the windows and record operations work on dm.
class AtDesk {
public:
    explicit AtDesk(Tdm& desk) : m_saved(dm) { dm = &desk; }
    ~AtDesk() { dm = m_saved; }
    AtDesk(const AtDesk&) = delete;
    AtDesk& operator=(const AtDesk&) = delete;

private:
    Tdm* m_saved;
};

int add(Tdm& desk, const TuserInfoRec& owner)
{
    TuserInfoRec r = owner;
    AtDesk at(desk);
    if (!AddUserInfo(desk, r))
        return -1;
    return r.idx;
}

// The card numbers (卡编号) of the owners that hold a card serial.
QStringList holdersOf(const QString& cardId)
{
    QStringList out;
    for (const QVariant& v : column(
             QStringLiteral("select CardNo from UserInfo where CardID = '%1' order by CardNo").arg(cardId)))
        out << v.toString();
    return out;
}

// The card numbers of the owners, read at a desk.
QVariantList cardNosAt(Tdm& desk)
{
    AtDesk at(desk);
    return column(QStringLiteral("select CardNo from UserInfo order by CardNo"));
}

QString serial(int i)
{
    return QStringLiteral("%1").arg(3000000000LL + i, 10, 10, QLatin1Char('0'));
}

} // namespace

class TestDesks : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { f.setUp(); }
    void cleanup()
    {
        other.reset();
        f.tearDown();
    }

    void changesAreSeenAtTheOtherDesk();
    void marksAndPreparationAreShared();
    void cardRegisteredAtBothDesksAtOnce();
    void ownerSavedWhileItsCardMoves_data();
    void ownerSavedWhileItsCardMoves();
    void ownerSavedAgainWhileItsCardMoves();
    void ownerSavedWhileItsLossStateChanges_data();
    void ownerSavedWhileItsLossStateChanges();
    void newDatabaseOpenedAtBothDesksAtOnce();
    void schemaBeingPutInIsWaitedFor();
    void restoreWithAnotherDeskOpen();

private:
    // The second desk: the same database, a connection of its own.
    Tdm& otherDesk()
    {
        if (!other)
            other = std::make_unique<Tdm>(dm->Target());
        return *other;
    }
    // The database as --database names it for a desk program.
    QString databaseArgument() const { return dm->Target().Url(); }
    // Runs the desk programs together: each opens the database and waits; then all go at once.
    bool runDesks(const QList<QStringList>& actions);

    StoreFixture f;
    std::unique_ptr<Tdm> other;
};

bool TestDesks::runDesks(const QList<QStringList>& actions)
{
    // This test's own connection lets go first: an open read would hold up a desk on the file.
    dm->CloseDataSets();
    if (other)
        other->CloseDataSets();
    std::vector<std::unique_ptr<QProcess>> desks;
    for (const QStringList& action : actions) {
        auto& desk = desks.emplace_back(std::make_unique<QProcess>());
        desk->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        desk->start(QCoreApplication::applicationDirPath() + QStringLiteral("/desk_child"),
                    QStringList{f.folder(), databaseArgument()} + action);
    }
    for (auto& desk : desks) {
        if (!desk->waitForReadyRead(30000) || !desk->readLine().startsWith("ready"))
            return false;
    }
    for (auto& desk : desks)
        desk->write("go\n");
    for (auto& desk : desks)
        desk->waitForBytesWritten(5000); // all of them now, not as each one is waited for
    bool ok = true;
    for (auto& desk : desks) {
        if (!desk->waitForFinished(120000)) {
            desk->kill();
            desk->waitForFinished();
        }
        ok = ok && desk->exitStatus() == QProcess::NormalExit && desk->exitCode() == 0;
    }
    return ok;
}

void TestDesks::changesAreSeenAtTheOtherDesk()
{
    const int a =
        add(*dm, OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1"), 1, 1, QStringLiteral("0101")));
    add(*dm, OwnerRecord(QStringLiteral("乙"), QStringLiteral("B1"), 1, 1, QStringLiteral("0102")));

    // The gatehouse's owner list.
    ListModel list(otherDesk(), {{QStringLiteral("姓名"), QStringLiteral("UserName")}});
    list.Open({QStringLiteral("idx, UserName"),
               QStringLiteral("UserInfo where 1=1"),
               {},
               {{QStringLiteral("DongHao")}, {QStringLiteral("DanYuan")}, {QStringLiteral("FangHao")}}});
    QCOMPARE(list.RecordCount(), 2);

    // The office renames one owner, adds one before it and deletes the other.
    TuserInfoRec r;
    QCOMPARE(LoadUserInfoByIdx(*dm, a, r), 1);
    r.idx = a;
    r.UserName = QStringLiteral("甲改");
    QVERIFY(UpdateUserInfo(*dm, r));
    const int c =
        add(*dm, OwnerRecord(QStringLiteral("丙"), QStringLiteral("C1"), 1, 1, QStringLiteral("0100")));
    QVERIFY(dm->ExecuteSQL(QStringLiteral("delete from UserInfo where CardNo = 'B1'")));

    list.Reopen();
    QCOMPARE(list.RecordCount(), 2);
    QCOMPARE(list.IdxAt(0), c);
    QCOMPARE(list.FieldAt(1, QStringLiteral("UserName")).toString(), QStringLiteral("甲改"));
    QCOMPARE(list.LocateIdx(a), 1);

    // And back: the gatehouse reports the owner lost, the office reads it at its next load.
    {
        AtDesk at(otherDesk());
        QVERIFY(TvexUserInfo::MarkLost(a));
    }
    TuserInfoRec back;
    QCOMPARE(LoadUserInfoByIdx(*dm, a, back), 1);
    QCOMPARE(back.chLoss, QStringLiteral("挂失"));
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestDesks::marksAndPreparationAreShared()
{
    const int a = add(*dm, OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1")));
    const int b = add(*dm, OwnerRecord(QStringLiteral("乙"), QStringLiteral("B1")));
    QVERIFY(TvexUserInfo::SetSelected(a, 1));
    QVERIFY(TvexUserInfo::MarkLost(b));
    QVERIFY(SetPrepared(true, b));
    {
        AtDesk at(otherDesk());
        QVERIFY(TvexUserInfo::IsSelected(a));
        QVERIFY(!TvexUserInfo::IsSelected(b));
        QCOMPARE(PreparedCount(), 1);
        // Clearing the marks at one desk clears them for both.
        QVERIFY(TvexUserInfo::SelectNone());
    }
    QVERIFY(!TvexUserInfo::IsSelected(a));
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestDesks::cardRegisteredAtBothDesksAtOnce()
{
    // Each desk writes card i for an owner of its own, both at the same moment: the card must end
    // registered to one of the two, never to both.
    constexpr int Cards = 150;
    {
        Transaction change;
        for (int i = 0; i < Cards; ++i) {
            QVERIFY(InsertUserInfo(
                *dm, OwnerRecord(QStringLiteral("门岗%1").arg(i), QStringLiteral("G%1").arg(i))));
            QVERIFY(InsertUserInfo(
                *dm, OwnerRecord(QStringLiteral("物业%1").arg(i), QStringLiteral("O%1").arg(i))));
        }
        QVERIFY(change.Commit());
    }
    QVERIFY(runDesks({{QStringLiteral("register"), QStringLiteral("G"), QString::number(Cards)},
                      {QStringLiteral("register"), QStringLiteral("O"), QString::number(Cards)}}));
    QStringList twice;
    int registered = 0;
    for (int i = 0; i < Cards; ++i) {
        const int holders =
            column(QStringLiteral("select count(*) from UserInfo where CardID = '%1'").arg(serial(i)))
                .value(0)
                .toInt();
        registered += holders;
        if (holders != 1)
            twice << QStringLiteral("%1: %2").arg(serial(i)).arg(holders);
    }
    QVERIFY2(twice.isEmpty(), qPrintable(twice.join(QStringLiteral(", "))));
    QCOMPARE(registered, Cards);
}

void TestDesks::ownerSavedWhileItsCardMoves_data()
{
    QTest::addColumn<QString>("gate"); // what the gatehouse does with 甲's card while the office has 甲 open
    QTest::addColumn<bool>("again");   // the office saves 甲 in add mode again (its row replaced)
    QTest::addColumn<QString>("first");  // who holds 甲's card after the office's save
    QTest::addColumn<QString>("second"); // who holds the gatehouse's new card
    QTest::newRow("moved to 乙, changed") << "move" << false << "B1" << QString();
    QTest::newRow("moved to 乙, added again") << "move" << true << "B1" << QString();
    QTest::newRow("written for no one, changed") << "ownerless" << false << QString() << QString();
    QTest::newRow("written for no one, added again") << "ownerless" << true << QString() << QString();
    QTest::newRow("a new card for 甲, changed") << "new card" << false << QString() << "A1";
    QTest::newRow("a new card for 甲, added again") << "new card" << true << QString() << "A1";
}

// The office has 甲 open in the owner editor (the whole row loaded, the card serial with it) while
// the gatehouse writes cards: saving 甲's name, phone or terminals leaves the card registrations as
// the gatehouse left them.
void TestDesks::ownerSavedWhileItsCardMoves()
{
    QFETCH(QString, gate);
    QFETCH(bool, again);
    QFETCH(QString, first);
    QFETCH(QString, second);
    const int a = add(*dm, OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1")));
    const int b = add(*dm, OwnerRecord(QStringLiteral("乙"), QStringLiteral("B1")));
    QVERIFY(RegisterCardID(*dm, a, serial(1)));
    TuserInfoRec r;
    QCOMPARE(LoadUserInfoByIdx(*dm, a, r), 1);
    r.idx = a;
    QCOMPARE(r.CardID, serial(1));

    if (gate == QStringLiteral("move"))
        QVERIFY(RegisterCardID(otherDesk(), b, serial(1)));
    else if (gate == QStringLiteral("ownerless"))
        QVERIFY(RegisterCardID(otherDesk(), 0, serial(1)));
    else
        QVERIFY(RegisterCardID(otherDesk(), a, serial(2)));

    r.Phone = QStringLiteral("13900000000");
    if (again)
        QVERIFY(AddUserInfo(*dm, r));
    else
        QVERIFY(UpdateUserInfo(*dm, r));
    QCOMPARE(holdersOf(serial(1)), first.isEmpty() ? QStringList{} : QStringList{first});
    QCOMPARE(holdersOf(serial(2)), second.isEmpty() ? QStringList{} : QStringList{second});
    QCOMPARE(column(QStringLiteral("select phone from UserInfo where CardNo = 'A1'")),
             QVariantList{QStringLiteral("13900000000")});
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestDesks::ownerSavedAgainWhileItsCardMoves()
{
    // The gatehouse moves card i from owner G<i> to owner O<i> while the office, at the same
    // moment, saves every G<i> again in add mode from records it read before (each one's row is
    // replaced by a new one that keeps the row's card): card i ends with O<i> alone.
    constexpr int Cards = 150;
    {
        Transaction change;
        for (int i = 0; i < Cards; ++i) {
            TuserInfoRec held = OwnerRecord(QStringLiteral("门岗%1").arg(i), QStringLiteral("G%1").arg(i));
            held.CardID = serial(i);
            QVERIFY(InsertUserInfo(*dm, held));
            QVERIFY(InsertUserInfo(
                *dm, OwnerRecord(QStringLiteral("物业%1").arg(i), QStringLiteral("O%1").arg(i))));
        }
        QVERIFY(change.Commit());
    }
    QVERIFY(runDesks({{QStringLiteral("register"), QStringLiteral("O"), QString::number(Cards)},
                      {QStringLiteral("resave"), QStringLiteral("G"), QString::number(Cards)}}));
    QStringList wrong;
    for (int i = 0; i < Cards; ++i) {
        const QStringList holders = holdersOf(serial(i));
        if (holders != QStringList{QStringLiteral("O%1").arg(i)})
            wrong << serial(i) + QLatin1Char(':') + holders.join(QLatin1Char('/'));
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral(", "))));
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 2 * Cards);
}

void TestDesks::ownerSavedWhileItsLossStateChanges_data()
{
    QTest::addColumn<QString>("before"); // the owner's state when the office opens 甲 (set clause)
    QTest::addColumn<QString>("gate");   // what the gatehouse does meanwhile (set clause)
    QTest::addColumn<bool>("again");     // the office saves 甲 in add mode again (its row replaced)
    const QString normal = QStringLiteral("chLoss = ''");
    const QString lost = QStringLiteral("chLoss = '挂失'");
    const QString prepared = QStringLiteral("chLoss = '挂失', IsSelect = %1");
    const QString blacklisted = QStringLiteral("chLoss = '黑名单', IsSelect = %1");
    const QString marked = QStringLiteral("selFlag = %1");
    for (bool again : {false, true}) {
        const char* how = again ? "added again" : "changed";
        QTest::addRow("reported lost, %s", how) << normal << lost << again;
        QTest::addRow("prepared for a blacklist card, %s", how) << lost << prepared << again;
        QTest::addRow("written to a blacklist card, %s", how) << prepared << blacklisted << again;
        QTest::addRow("found again, %s", how) << lost << normal << again;
        QTest::addRow("marked in the list, %s", how) << normal << marked << again;
    }
}

// The office has 甲 open in the owner editor while the gatehouse (or the owner list and the
// blacklist window in between) reports the card lost, prepares or writes a blacklist card with it,
// ends the loss, or marks the owner: saving 甲's fields leaves all of that as the gatehouse left
// it. A lost card put back to normal would open the doors again.
void TestDesks::ownerSavedWhileItsLossStateChanges()
{
    QFETCH(QString, before);
    QFETCH(QString, gate);
    QFETCH(bool, again);
    const int a = add(*dm, OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1")));
    QVERIFY(RegisterCardID(*dm, a, serial(1)));
    QVERIFY(dm->ExecuteSQL(
        QStringLiteral("update UserInfo set %1 where idx = %2").arg(before.arg(yes())).arg(a)));
    TuserInfoRec r;
    QCOMPARE(LoadUserInfoByIdx(*dm, a, r), 1);
    r.idx = a;

    {
        AtDesk at(otherDesk());
        QVERIFY(dm->ExecuteSQL(
            QStringLiteral("update UserInfo set %1 where idx = %2").arg(gate.arg(yes())).arg(a)));
    }
    const QString state = QStringLiteral("select coalesce(chLoss, '') || '|' || cast(IsSelect as integer) || "
                                         "cast(selFlag as integer) || cast(BlackCard as integer) || '|' || "
                                         "coalesce(CardID, '') from UserInfo where CardNo = 'A1'");
    const QVariantList left = column(state);

    r.Phone = QStringLiteral("13900000000");
    if (again)
        QVERIFY(AddUserInfo(*dm, r));
    else
        QVERIFY(UpdateUserInfo(*dm, r));
    QCOMPARE(column(state), left);
    QCOMPARE(column(QStringLiteral("select phone from UserInfo where CardNo = 'A1'")),
             QVariantList{QStringLiteral("13900000000")});
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestDesks::newDatabaseOpenedAtBothDesksAtOnce()
{
    // Two desks started at the same moment on a new database: both put the schema in, or find it.
    if (!onServer())
        QVERIFY(!QFile::exists(dm->Target().FilePath()));
    QVERIFY(runDesks({{QStringLiteral("open")}, {QStringLiteral("open")}, {QStringLiteral("open")}}));
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 0);
    if (onServer())
        QCOMPARE(column(QStringLiteral("select count(*) from SchemaInfo")), QVariantList{1});
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestDesks::schemaBeingPutInIsWaitedFor()
{
    // A desk that finds a server database while another desk is putting the schema in waits for
    // that desk to finish, and judges the schema it then finds whole. Here the other desk (this
    // test's own connection) holds the schema's lock with only the version recorded so far, as if
    // its reads fell before and after that desk's commit: judged at once, the database would be
    // another program's, without the owner table.
    if (!onServer())
        QSKIP("desks on the file take the file's write lock instead");
    {
        QSqlDatabase holder =
            QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("schema.holder"));
        ConfigureServerConnection(holder, f.target);
        QVERIFY(holder.open());
        QSqlQuery q(holder);
        QVERIFY(q.exec(QStringLiteral("set client_min_messages = warning")));
        QVERIFY(q.exec(QStringLiteral("select pg_advisory_lock(%1)").arg(SchemaLockKey)));
        QVERIFY(q.exec(QStringLiteral("create table SchemaInfo (version integer not null)")));
        QVERIFY(q.exec(QStringLiteral("insert into SchemaInfo (version) values (%1)").arg(SchemaVersion)));

        QProcess desk;
        desk.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        desk.start(QCoreApplication::applicationDirPath() + QStringLiteral("/desk_child"),
                   {f.folder(), databaseArgument(), QStringLiteral("open")});
        QVERIFY(desk.waitForReadyRead(30000) && desk.readLine().startsWith("ready"));
        desk.write("go\n");
        QVERIFY(!desk.waitForFinished(1500)); // it waits

        QVERIFY(holder.transaction());
        ApplySchemaSteps(holder, 0);
        QVERIFY(holder.commit());
        QVERIFY(q.exec(QStringLiteral("select pg_advisory_unlock(%1)").arg(SchemaLockKey)));
        QVERIFY(desk.waitForFinished(30000));
        QCOMPARE(desk.exitStatus(), QProcess::NormalExit);
        QCOMPARE(desk.exitCode(), 0);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema.holder"));
    QCOMPARE(column(QStringLiteral("select count(*) from SchemaInfo")), QVariantList{1});
    QCOMPARE(countRows(QStringLiteral("UserInfo")), 0);
}

void TestDesks::restoreWithAnotherDeskOpen()
{
    add(*dm, OwnerRecord(QStringLiteral("甲"), QStringLiteral("A1")));
    const MaintenanceResult backup = BackupDatabase();
    QVERIFY(backup.ok);
    add(*dm, OwnerRecord(QStringLiteral("乙"), QStringLiteral("B1")));

    // The gatehouse has the database open and has read from it, but changes nothing: the office's
    // restore goes through, and the gatehouse reads the restored owners and writes among them.
    Tdm& gate = otherDesk();
    QCOMPARE(cardNosAt(gate), (QVariantList{QStringLiteral("A1"), QStringLiteral("B1")}));
    MaintenanceResult r = RestoreDatabase(backup.file);
    QVERIFY2(r.ok, qPrintable(r.message));
    QCOMPARE(cardNosAt(gate), QVariantList{QStringLiteral("A1")});
    QVERIFY(add(gate, OwnerRecord(QStringLiteral("丙"), QStringLiteral("C1"))) > 0);
    QCOMPARE(cardNosAt(*dm), (QVariantList{QStringLiteral("A1"), QStringLiteral("C1")}));
    QVERIFY(f.dialogs.shown.isEmpty());
    if (onServer())
        return; // a server's restore waits for a change at another desk to end

    // A desk program in the middle of a change: the restore is refused, and the change is kept.
    dm->CloseDataSets();
    gate.CloseDataSets();
    QProcess desk;
    desk.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    desk.start(QCoreApplication::applicationDirPath() + QStringLiteral("/desk_child"),
               {f.folder(), databaseArgument(), QStringLiteral("hold")});
    QVERIFY(desk.waitForReadyRead(30000) && desk.readLine().startsWith("ready"));
    desk.write("go\n");
    QVERIFY(desk.waitForReadyRead(30000) && desk.readLine().startsWith("holding"));
    r = RestoreDatabase(backup.file);
    QVERIFY(!r.ok);
    QVERIFY2(r.message.contains(QStringLiteral("数据库正被其他程序使用")), qPrintable(r.message));
    desk.write("commit\n");
    QVERIFY(desk.waitForFinished(30000));
    QCOMPARE(desk.exitCode(), 0);
    QCOMPARE(cardNosAt(*dm),
             (QVariantList{QStringLiteral("A1"), QStringLiteral("C1"), QStringLiteral("HELD")}));
}

QTEST_GUILESS_MAIN(TestDesks)
#include "tst_desks.moc"
