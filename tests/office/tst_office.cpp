#include "office/BlackList.h"
#include "office/Lists.h"
#include "office/OwnerCards.h"
#include "store/OperationError.h"
#include "store/OwnerStatements.h"
#include "store/SqlText.h"
#include "store/StoreFixture.h"
#include "store/TvexDeviceInfo.h"
#include "store/TvexTerminalInfo.h"
#include "support/OwnerRecords.h"

#include <cstring>

namespace {

int add(const QString& name, const QString& cardNo, int dongHao = 1, int danYuan = 2,
        const QString& fangHao = QStringLiteral("0101"))
{
    TuserInfoRec r = OwnerRecord(name, cardNo, dongHao, danYuan, fangHao);
    if (!AddUserInfo(*dm, r))
        return -1;
    return r.idx;
}

// Puts an owner into a loss state ("" normal, "挂失", "黑名单", or Null), prepared for the next
// blacklist card or not; `old` writes the old engine's -1 for a preparation on the file.
void setState(int idx, const QString& loss, bool prepared, bool old = false)
{
    QSqlQuery q(dm->database());
    QVERIFY(
        ExecBound(q,
                  QStringLiteral("update UserInfo set chLoss = :loss, IsSelect = %1 where idx = :idx")
                      .arg(prepared ? yes(old ? -1 : 1) : no()),
                  {{QStringLiteral("loss"), loss.isNull() ? QVariant(QMetaType(QMetaType::QString)) : loss},
                   {QStringLiteral("idx"), idx}}));
}

// "<chLoss>|<prepared>" of an owner.
QString stateOf(int idx)
{
    const QVariantList v = column(
        QStringLiteral("select coalesce(chLoss, 'null') || '|' || case when IsSelect <> %1 then 'prepared' "
                       "else '' end from UserInfo where idx = %2")
            .arg(no())
            .arg(idx));
    return v.isEmpty() ? QString() : v.first().toString();
}

// The values of one column of every row a list query gives, in the list's order.
QStringList listed(const ListQuery& query, const QString& field)
{
    ListModel model(*dm, {{field, field}});
    model.Open(query);
    QStringList out;
    for (int row = 0; row < model.RecordCount(); ++row)
        out << model.FieldAt(row, field).toString();
    return out;
}

QString cardOf(int idx)
{
    const QVariantList v = column(QStringLiteral("select CardID from UserInfo where idx = %1").arg(idx));
    return v.isEmpty() ? QString() : v.first().toString();
}

} // namespace

class TestOffice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void preparation();
    void releaseAfterWhitelistCard();
    void ownersMarkedByABlacklistCard_data();
    void ownersMarkedByABlacklistCard();
    void writtenCardRegistered_data();
    void writtenCardRegistered();
    void writtenCardWithItsExpiryAndTerminals();
    void ownerCardExpiry_data();
    void ownerCardExpiry();
    void ownerSearch_data();
    void ownerSearch();
    void issuingList_data();
    void issuingList();
    void unitsAndTerminals();

private:
    StoreFixture f;
};

// Lost owners alone are prepared, one or all of them; the count and the second list follow, and
// the old engine's marks count as prepared.
void TestOffice::preparation()
{
    const int a = add(QStringLiteral("甲"), QStringLiteral("A"), 1, 1, QStringLiteral("0101"));
    const int b = add(QStringLiteral("乙"), QStringLiteral("B"), 1, 1, QStringLiteral("0102"));
    const int c = add(QStringLiteral("丙"), QStringLiteral("C"), 1, 1, QStringLiteral("0103"));
    const int d = add(QStringLiteral("丁"), QStringLiteral("D"), 1, 1, QStringLiteral("0104"));
    setState(a, QStringLiteral("挂失"), false);
    setState(b, QStringLiteral("挂失"), false);
    setState(c, QString(), false);
    setState(d, QStringLiteral("黑名单"), false);
    QCOMPARE(PreparedCount(), 0);
    QCOMPARE(listed(LostOwnerList(false), QStringLiteral("UserName")), (QStringList{"甲", "乙"}));
    QVERIFY(listed(LostOwnerList(true), QStringLiteral("UserName")).isEmpty());

    QVERIFY(SetPrepared(true, b));
    QVERIFY(SetPrepared(true, c)); // not lost: left alone
    QVERIFY(SetPrepared(true, d));
    QCOMPARE(PreparedCount(), 1);
    QCOMPARE(listed(LostOwnerList(true), QStringLiteral("UserName")), QStringList{"乙"});
    QCOMPARE(stateOf(c), QStringLiteral("null|"));
    QCOMPARE(stateOf(d), QStringLiteral("黑名单|"));

    QVERIFY(SetPrepared(true));
    QCOMPARE(PreparedCount(), 2);
    QVERIFY(SetPrepared(false, a));
    QCOMPARE(listed(LostOwnerList(true), QStringLiteral("UserName")), QStringList{"乙"});
    QVERIFY(SetPrepared(false));
    QCOMPARE(PreparedCount(), 0);

    if (!f.onServer()) {
        setState(a, QStringLiteral("挂失"), true, true);
        QCOMPARE(PreparedCount(), 1);
        QCOMPARE(listed(LostOwnerList(true), QStringLiteral("UserName")), QStringList{"甲"});
    }
    QVERIFY(f.dialogs.shown.isEmpty());
}

// After a whitelist card the prepared losses end; a loss not prepared and a prepared owner who is
// not lost keep their state.
void TestOffice::releaseAfterWhitelistCard()
{
    const int a = add(QStringLiteral("甲"), QStringLiteral("A"));
    const int b = add(QStringLiteral("乙"), QStringLiteral("B"));
    const int c = add(QStringLiteral("丙"), QStringLiteral("C"));
    const int d = add(QStringLiteral("丁"), QStringLiteral("D"));
    setState(a, QStringLiteral("挂失"), true, true);
    setState(b, QStringLiteral("挂失"), false);
    setState(c, QStringLiteral("黑名单"), true);
    setState(d, QStringLiteral("挂失"), true);
    QVERIFY(ReleasePrepared());
    QCOMPARE(stateOf(a), QStringLiteral("|"));
    QCOMPARE(stateOf(b), QStringLiteral("挂失|"));
    QCOMPARE(stateOf(c), QStringLiteral("黑名单|prepared"));
    QCOMPARE(stateOf(d), QStringLiteral("|"));
    QCOMPARE(PreparedCount(), 0);
}

void TestOffice::ownersMarkedByABlacklistCard_data()
{
    QTest::addColumn<QString>("before"); // the owner's loss state (a null text: Null)
    QTest::addColumn<bool>("blacklisted");
    QTest::addColumn<QString>("after");
    QTest::newRow("lost, on a blacklist card") << QStringLiteral("挂失") << true << QStringLiteral("黑名单|");
    QTest::newRow("lost, on a whitelist card") << QStringLiteral("挂失") << false << QStringLiteral("|");
    QTest::newRow("no state, blacklisted") << QString() << true << QStringLiteral("黑名单|");
    QTest::newRow("blacklisted, released") << QStringLiteral("黑名单") << false << QStringLiteral("|");
}

// The answer to a written blacklist card changes the owners it named, and no one else.
void TestOffice::ownersMarkedByABlacklistCard()
{
    QFETCH(QString, before);
    QFETCH(bool, blacklisted);
    QFETCH(QString, after);
    const int a = add(QStringLiteral("甲"), QStringLiteral("A"));
    const int other = add(QStringLiteral("乙"), QStringLiteral("B"));
    setState(a, before, false);
    setState(other, before, false);
    const QString otherBefore = stateOf(other);
    QVERIFY(SetOwnerBlackListed(a, blacklisted));
    QCOMPARE(stateOf(a), after);
    QCOMPARE(stateOf(other), otherBefore);
    QVERIFY(SetOwnerBlackListed(99999, true)); // an owner deleted meanwhile: nothing to change
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestOffice::writtenCardRegistered_data()
{
    QTest::addColumn<QString>("heldBy"); // "", "owner", "other"
    QTest::addColumn<bool>("warned");
    QTest::newRow("a new card") << QString() << false;
    QTest::newRow("the other owner's card") << QStringLiteral("other") << true;
    QTest::newRow("the owner's own card again") << QStringLiteral("owner") << true;
}

// The card written for an owner is that owner's alone afterwards; a card registered before is
// warned about first.
void TestOffice::writtenCardRegistered()
{
    QFETCH(QString, heldBy);
    QFETCH(bool, warned);
    const QString serial = QStringLiteral("0001234567");
    const int owner = add(QStringLiteral("甲"), QStringLiteral("A"));
    const int other = add(QStringLiteral("乙"), QStringLiteral("B"));
    if (!heldBy.isEmpty())
        QVERIFY(RegisterCardID(*dm, heldBy == QLatin1String("owner") ? owner : other, serial));
    QCOMPARE(CardRegistered(serial), !heldBy.isEmpty());

    QVERIFY(RegisterWrittenCard(owner, serial));
    QCOMPARE(f.dialogs.texts(),
             warned ? QStringList{QStringLiteral("警告：本卡曾经被登记！\r\n\r\n原登记信息会被取消，请核对")}
                    : QStringList());
    QCOMPARE(cardOf(owner), serial);
    QCOMPARE(cardOf(other), QString());
    QVERIFY(CardRegistered(serial));
}

// With the card's record, its expiry and terminals go to the owner with the card; a refused
// change leaves the owner as before, the card included.
void TestOffice::writtenCardWithItsExpiryAndTerminals()
{
    const QString serial = QStringLiteral("0007654321");
    const int owner = add(QStringLiteral("甲"), QStringLiteral("A"));
    TuserInfoRec card;
    card.idx = owner;
    card.IsUseExpDate = true;
    card.chUseExpdate = QStringLiteral("是");
    card.ExpDate = QDate(2027, 1, 1);
    card.VaildTerminal[0] = 0x05;
    QVERIFY(RegisterWrittenCard(owner, serial, &card));
    TuserInfoRec back;
    QCOMPARE(LoadUserInfoByIdx(*dm, owner, back), 1);
    QCOMPARE(back.CardID, serial);
    QVERIFY(back.IsUseExpDate);
    QCOMPARE(back.ExpDate, QDate(2027, 1, 1));
    QCOMPARE(int(back.VaildTerminal[0]), 0x05);

    refuse(QStringLiteral("no_terminals"), QStringLiteral("before update of VaildTerminal"),
           QStringLiteral("UserInfo"), QString(), QStringLiteral("refused"));
    card.ExpDate = QDate(2028, 2, 2);
    card.VaildTerminal[0] = 0x0F;
    QVERIFY(!RegisterWrittenCard(owner, QStringLiteral("0000000001"), &card));
    QCOMPARE(LoadUserInfoByIdx(*dm, owner, back), 1);
    QCOMPARE(back.CardID, serial);
    QCOMPARE(back.ExpDate, QDate(2027, 1, 1));
    QCOMPARE(int(back.VaildTerminal[0]), 0x05);
}

void TestOffice::ownerCardExpiry_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QDate>("expiry"); // invalid: the conversion error
    QTest::newRow("a day") << QByteArray("270101") << QDate(2027, 1, 1);
    QTest::newRow("year 2000") << QByteArray("000229") << QDate(2000, 2, 29);
    QTest::newRow("last day of 2099") << QByteArray("991231") << QDate(2099, 12, 31);
    QTest::newRow("no such day") << QByteArray("250230") << QDate();
    QTest::newRow("blank card") << QByteArray("\0\0\0\0\0\0", 6) << QDate();
    QTest::newRow("letters") << QByteArray("ABCDEF") << QDate();
}

void TestOffice::ownerCardExpiry()
{
    QFETCH(QByteArray, text);
    QFETCH(QDate, expiry);
    TUserCardRec card;
    std::memcpy(card.Expiry, text.constData(), 6);
    if (expiry.isValid()) {
        QCOMPARE(OwnerCardExpiry(card), expiry);
    } else {
        QVERIFY_THROWS_EXCEPTION(OperationError, OwnerCardExpiry(card));
    }
}

void TestOffice::ownerSearch_data()
{
    QTest::addColumn<QStringList>("conditions"); // "number|column|text", "text|column|text", "card|text"
    QTest::addColumn<QStringList>("names");      // in building, unit and room order
    QTest::addColumn<QString>("notANumber");     // null: every number was one
    QTest::newRow("nothing ticked") << QStringList() << QStringList{"甲", "乙", "丙", "O'Brien"} << QString();
    QTest::newRow("building") << QStringList{"number|DongHao|1"} << QStringList{"甲", "乙"} << QString();
    QTest::newRow("building and unit")
        << QStringList{"number|DongHao| 2", "number|DanYuan|3"} << QStringList{"丙", "O'Brien"} << QString();
    QTest::newRow("room as typed") << QStringList{"text|FangHao|0101"} << QStringList{"甲", "丙"}
                                   << QString();
    QTest::newRow("room not trimmed") << QStringList{"text|FangHao|0101 "} << QStringList() << QString();
    QTest::newRow("name with a quote")
        << QStringList{"text|UserName|O'Brien"} << QStringList{"O'Brien"} << QString();
    QTest::newRow("card number") << QStringList{"card|B2"} << QStringList{"乙"} << QString();
    QTest::newRow("card serial as the issuer shows it")
        << QStringList{"card|3914049354"} << QStringList{"O'Brien"} << QString();
    QTest::newRow("not a number, the first kept")
        << QStringList{"number|DongHao|一", "number|DanYuan|x", "text|FangHao|0101"}
        << QStringList{"甲", "丙"} << QStringLiteral("一");
}

// The owner search's conditions on the owner list, and the list of one unit.
void TestOffice::ownerSearch()
{
    QFETCH(QStringList, conditions);
    QFETCH(QStringList, names);
    QFETCH(QString, notANumber);
    add(QStringLiteral("乙"), QStringLiteral("B2"), 1, 2, QStringLiteral("0102"));
    add(QStringLiteral("甲"), QStringLiteral("A1"), 1, 2, QStringLiteral("0101"));
    add(QStringLiteral("丙"), QStringLiteral("C3"), 2, 3, QStringLiteral("0101"));
    const int o = add(QStringLiteral("O'Brien"), QStringLiteral("D4"), 2, 3, QStringLiteral("0201"));
    QVERIFY(RegisterCardID(*dm, o, QStringLiteral("-380917942")));

    OwnerFilter filter;
    for (const QString& c : conditions) {
        const QStringList p = c.split(QLatin1Char('|'));
        if (p[0] == QLatin1String("number"))
            AddNumberCondition(filter, p[1], p[2]);
        else if (p[0] == QLatin1String("text"))
            AddTextCondition(filter, p[1], p[2]);
        else
            AddCardCondition(filter, p[1]);
    }
    QCOMPARE(filter.notANumber.value_or(QString()), notANumber);
    QCOMPARE(listed(OwnerList(filter), QStringLiteral("UserName")), names);
    QCOMPARE(listed(OwnerList(OwnersOfUnit(2, 3)), QStringLiteral("UserName")),
             (QStringList{"丙", "O'Brien"}));
}

void TestOffice::issuingList_data()
{
    QTest::addColumn<QString>("how"); // all, unit, card, name
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("names"); // newest first
    QTest::newRow("all but the lost")
        << QStringLiteral("all") << QString() << QStringList{"50%_x", "50% off", "丙", "乙", "甲"};
    QTest::newRow("a unit") << QStringLiteral("unit") << QString() << QStringList{"50%_x", "丙"};
    QTest::newRow("a card number") << QStringLiteral("card") << QStringLiteral("B") << QStringList{"乙"};
    QTest::newRow("a lost owner's card number")
        << QStringLiteral("card") << QStringLiteral("L") << QStringList();
    QTest::newRow("a card serial") << QStringLiteral("card") << QStringLiteral("0000000077")
                                   << QStringList{"丙"};
    QTest::newRow("part of a name") << QStringLiteral("name") << QStringLiteral("50")
                                    << QStringList{"50%_x", "50% off"};
    QTest::newRow("percent and underscore as typed")
        << QStringLiteral("name") << QStringLiteral("%_") << QStringList{"50%_x"};
    QTest::newRow("a backslash") << QStringLiteral("name") << QStringLiteral("\\") << QStringList();
}

// The owners a card can be written for: all but the lost ones (a Null state is not lost), the
// newest first, narrowed by unit, card or part of the name.
void TestOffice::issuingList()
{
    QFETCH(QString, how);
    QFETCH(QString, typed);
    QFETCH(QStringList, names);
    const int a = add(QStringLiteral("甲"), QStringLiteral("A"), 1, 1);
    add(QStringLiteral("乙"), QStringLiteral("B"), 1, 1);
    const int c = add(QStringLiteral("丙"), QStringLiteral("C"), 4, 5);
    const int lost = add(QStringLiteral("丁"), QStringLiteral("L"), 4, 5);
    add(QStringLiteral("50% off"), QStringLiteral("E"), 1, 1);
    add(QStringLiteral("50%_x"), QStringLiteral("F"), 4, 5);
    setState(a, QString(), false);
    setState(lost, QStringLiteral("挂失"), false);
    QVERIFY(RegisterCardID(*dm, c, QStringLiteral("0000000077")));

    ListQuery query;
    if (how == QLatin1String("all"))
        query = IssuingList();
    else if (how == QLatin1String("unit"))
        query = IssuingListOfUnit(4, 5);
    else if (how == QLatin1String("card"))
        query = IssuingListOfCard(typed);
    else
        query = IssuingListByName(typed);
    QCOMPARE(listed(query, QStringLiteral("UserName")), names);
}

// Buildings and terminals narrowed by the boxes that are filled in, blank texts narrowing nothing;
// the selectors' terminals in number order, as many as asked for.
void TestOffice::unitsAndTerminals()
{
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("北"));
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("南"));
    TvexTerminalInfo::AddBuildUnit(QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("北"));
    const auto units = [](const ListQuery& q) {
        QStringList out;
        const QStringList b = listed(q, QStringLiteral("DongHao"));
        const QStringList u = listed(q, QStringLiteral("DanYuan"));
        for (int i = 0; i < b.size(); ++i)
            out << b[i] + QLatin1Char('-') + u[i];
        return out;
    };
    QCOMPARE(units(UnitList()), (QStringList{"1-1", "1-2", "2-1"}));
    QCOMPARE(units(UnitList(1)), (QStringList{"1-1", "1-2"}));
    QCOMPARE(units(UnitList(std::nullopt, 1)), (QStringList{"1-1", "2-1"}));
    QCOMPARE(units(UnitList(std::nullopt, std::nullopt, QStringLiteral("北"))), (QStringList{"1-1", "2-1"}));
    QCOMPARE(units(UnitList(1, std::nullopt, QStringLiteral("  "))), (QStringList{"1-1", "1-2"}));
    QCOMPARE(units(UnitList(2, 2)), QStringList());

    AddTerminal({0, QStringLiteral("12"), QStringLiteral("东门"), QStringLiteral("a")});
    AddTerminal({0, QStringLiteral("3"), QStringLiteral("西门"), QString()});
    AddTerminal({0, QStringLiteral("7"), QStringLiteral("东门"), QStringLiteral("b")});
    const QString id = QStringLiteral("TerminalID");
    QCOMPARE(listed(TerminalList(), id), (QStringList{"3", "7", "12"}));
    QCOMPARE(listed(TerminalList(7), id), QStringList{"7"});
    QCOMPARE(listed(TerminalList(-1), id), QStringList());
    QCOMPARE(listed(TerminalList(std::nullopt, QStringLiteral("东门")), id), (QStringList{"7", "12"}));
    QCOMPARE(listed(TerminalList(std::nullopt, QStringLiteral("东门"), QStringLiteral("a")), id),
             QStringList{"12"});
    QCOMPARE(listed(TerminalList(std::nullopt, QStringLiteral(" "), QStringLiteral(" ")), id),
             (QStringList{"3", "7", "12"}));

    const QList<TerminalName> two = TerminalsInOrder(2);
    QCOMPARE(two.size(), 2);
    QCOMPARE(two[0].id, QStringLiteral("3"));
    QCOMPARE(two[0].name, QStringLiteral("西门"));
    QCOMPARE(two[1].id, QStringLiteral("7"));
    QCOMPARE(TerminalsInOrder(256).size(), 3);
}

QTEST_GUILESS_MAIN(TestOffice)
#include "tst_office.moc"
