// How far a new office has come, read from the settings and the database on both engines.

#include "StoreFixture.h"
#include "store/FirstSteps.h"
#include "store/OwnerStatements.h"
#include "store/SaveLoad.h"

#include <cstring>

class TestFirstSteps : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }
    void regionId_data();
    void regionId();
    void tables();

private:
    StoreFixture f;
};

void TestFirstSteps::regionId_data()
{
    QTest::addColumn<QByteArray>("bytes"); // the 8 bytes of SystemInfo.RegionID
    QTest::addColumn<bool>("set");
    QTest::newRow("zeros") << QByteArray(8, '\0') << false;
    QTest::newRow("spaces") << QByteArray(8, ' ') << false;
    QTest::newRow("digits") << QByteArray("57302914") << true;
    QTest::newRow("one letter") << QByteArray("A\0\0\0\0\0\0\0", 8) << true;
    QTest::newRow("after a zero byte") << QByteArray("\0"
                                                     "1234567",
                                                     8)
                                       << false;
}

void TestFirstSteps::regionId()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, set);
    std::memcpy(SystemInfo.RegionID, bytes.constData(), sizeof SystemInfo.RegionID);
    QCOMPARE(RegionIdSet(), set);
    QCOMPARE(ReadFirstSteps(*dm).regionSet, set);
}

void TestFirstSteps::tables()
{
    const auto steps = [] {
        const FirstStepsProgress s = ReadFirstSteps(*dm);
        return QList<bool>{s.buildings, s.terminals, s.owners, s.cardWritten};
    };
    QCOMPARE(steps(), (QList<bool>{false, false, false, false}));
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into BuildInfo (DongHao, DanYuan) values (1, 2)")));
    QCOMPARE(steps(), (QList<bool>{true, false, false, false}));
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into TerminalInfo (TerminalID) values (0)")));
    QCOMPARE(steps(), (QList<bool>{true, true, false, false}));
    // Owners whose serial is Null or empty hold no card.
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into UserInfo (UserName, CardID) values ('a', null)")));
    QVERIFY(dm->ExecuteSQL(QStringLiteral("insert into UserInfo (UserName, CardID) values ('b', '')")));
    QCOMPARE(steps(), (QList<bool>{true, true, true, false}));
    QVERIFY(SetUserCardID(*dm, column(QStringLiteral("select max(idx) from UserInfo")).first().toInt(),
                          QStringLiteral("3000000001")));
    QCOMPARE(steps(), (QList<bool>{true, true, true, true}));
    QVERIFY(f.dialogs.texts().isEmpty());
}

QTEST_GUILESS_MAIN(TestFirstSteps)
#include "tst_firststeps.moc"
