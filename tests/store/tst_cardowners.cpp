#include "StoreFixture.h"
#include "store/CardOwners.h"
#include "store/DataSet.h"

#include "cards/Digits.h"

namespace {

// Inserts an owner with a card number, a card serial text (Null for a null QString) and a place.
int addOwner(const QString& name, const QString& cardNo, const QString& cardId, int dongHao = 1,
             const QString& fangHao = QStringLiteral("0101"))
{
    QSqlQuery q(dm->database());
    if (!ExecBound(
            q,
            QStringLiteral("insert into UserInfo (UserName, CardNo, CardID, DongHao, DanYuan, FangHao) "
                           "values (:n, :no, :id, :d, 1, :f)"),
            {{QStringLiteral("n"), TextValue(name)},
             {QStringLiteral("no"), TextValue(cardNo)},
             {QStringLiteral("id"),
              cardId.isNull() ? QVariant(QMetaType(QMetaType::QString)) : TextValue(cardId)},
             {QStringLiteral("d"), dongHao},
             {QStringLiteral("f"), TextValue(fangHao)}})) {
        qWarning().noquote() << "owner not added:" << q.lastError().text();
        return -1;
    }
    return q.lastInsertId().toInt();
}

// The names of the owners a search for the typed text finds, in name order.
QStringList found(const QString& typed)
{
    const CardCondition condition = CardSearchCondition(typed);
    QSqlQuery q(dm->database());
    if (!ExecBound(q,
                   QStringLiteral("select UserName from UserInfo where ") + condition.text +
                       QStringLiteral(" order by UserName"),
                   condition.params))
        qWarning().noquote() << "search failed:" << q.lastError().text();
    QStringList names;
    while (q.next())
        names << q.value(0).toString();
    return names;
}

QStringList names(const QList<CardOwner>& owners)
{
    QStringList out;
    for (const CardOwner& o : owners)
        out << o.UserName;
    return out;
}

} // namespace

class TestCardOwners : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void storedTexts();
    void searchFindsTheCardInEitherForm_data();
    void searchFindsTheCardInEitherForm();
    void ownersByLow24Bits();
    void manyOwnersOfOneEntry();

private:
    StoreFixture f;
};

void TestCardOwners::storedTexts()
{
    QCOMPARE(StoredSerialTexts(-380917942), (QStringList{"-380917942", "3914049354"}));
    QCOMPARE(StoredSerialTexts(-256), (QStringList{"000000-256", "4294967040"}));
    QCOMPARE(StoredSerialTexts(12345678), (QStringList{"0012345678", "12345678"}));
    QCOMPARE(StoredSerialTexts(1234567890), QStringList{"1234567890"});
}

void TestCardOwners::searchFindsTheCardInEitherForm_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("unsigned, as the card issuer shows it") << "3914049354" << QStringList{"a"};
    QTest::newRow("as stored") << "-380917942" << QStringList{"a"};
    QTest::newRow("blanks around a serial") << " 3914049354 " << QStringList{"a"};
    QTest::newRow("padded minus, unsigned") << "4294967040" << QStringList{"e"};
    QTest::newRow("padded minus, short") << "-256" << QStringList{"e"};
    QTest::newRow("a serial typed in the form stored as") << "000000-256" << QStringList{"e"};
    // A number that is one owner's card number and another's card serial finds both.
    QTest::newRow("card number and serial") << "12345678" << QStringList{"b", "d"};
    QTest::newRow("a card number that is a small serial") << "0101" << QStringList{"b"};
    QTest::newRow("no serial: the card number as typed") << "A-101" << QStringList{"c"};
    QTest::newRow("blank: the card number as typed") << "" << QStringList{"f"};
    QTest::newRow("a quote is a character") << "1' or '1'='1" << QStringList{};
}

void TestCardOwners::searchFindsTheCardInEitherForm()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, names);
    addOwner(QStringLiteral("a"), QStringLiteral("240305140709"), QStringLiteral("-380917942"));
    addOwner(QStringLiteral("b"), QStringLiteral("0101"), QStringLiteral("0012345678"));
    addOwner(QStringLiteral("c"), QStringLiteral("A-101"), QString());
    addOwner(QStringLiteral("d"), QStringLiteral("12345678"), QStringLiteral(""));
    addOwner(QStringLiteral("e"), QStringLiteral("240305140710"), QStringLiteral("000000-256"));
    addOwner(QStringLiteral("f"), QStringLiteral(""), QStringLiteral(""));
    QCOMPARE(found(typed), names);
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TestCardOwners::ownersByLow24Bits()
{
    // 3914049354 (stored "-380917942") and 21735242 share their low 24 bits, 4958026.
    addOwner(QStringLiteral("a"), QStringLiteral("1"), QStringLiteral("-380917942"), 2);
    addOwner(QStringLiteral("g"), QStringLiteral("2"), PadNumber(21735242, 10), 1);
    addOwner(QStringLiteral("b"), QStringLiteral("3"), QStringLiteral("0012345678"));
    addOwner(QStringLiteral("h"), QStringLiteral("4"), QStringLiteral("000000-256"));
    addOwner(QStringLiteral("no card"), QStringLiteral("5"), QStringLiteral(""));
    addOwner(QStringLiteral("null card"), QStringLiteral("6"), QString());
    addOwner(QStringLiteral("no serial"), QStringLiteral("7"), QStringLiteral("abc"));
    const int stranger = addOwner(QStringLiteral("other card"), QStringLiteral("8"), PadNumber(4958027, 10));

    const QHash<uint32_t, QList<CardOwner>> owners = OwnersBySerial24({4958026, 12345678, 0xFFFF00, 999, 0});
    QCOMPARE(owners.size(), 3);
    // Both owners of the low 24 bits, in place order (building 1 before building 2).
    QCOMPARE(names(owners.value(4958026)), (QStringList{"g", "a"}));
    const CardOwner a = owners.value(4958026).at(1);
    QCOMPARE(a.CardID, QStringLiteral("-380917942"));
    QCOMPARE(a.DongHao, QStringLiteral("2"));
    QCOMPARE(a.DanYuan, QStringLiteral("1"));
    QCOMPARE(a.FangHao, QStringLiteral("0101"));
    QCOMPARE(names(owners.value(12345678)), QStringList{"b"});
    QCOMPARE(names(owners.value(0xFFFF00)), QStringList{"h"});
    QVERIFY(!owners.contains(999));
    // An owner without a card has no serial 0.
    QVERIFY(!owners.contains(0));
    QVERIFY(OwnersBySerial24({}).isEmpty());
    Q_UNUSED(stranger);
}

void TestCardOwners::manyOwnersOfOneEntry()
{
    // More owners than one statement reads by key: all of them come back.
    {
        Transaction all;
        for (int i = 0; i < 1203; ++i)
            addOwner(QStringLiteral("o%1").arg(i, 4, 10, QLatin1Char('0')), QString::number(i),
                     PadNumber(int32_t(uint32_t(i % 256) << 24 | 77u), 10), 1,
                     QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0')));
        QVERIFY(all.Commit());
    }
    const QList<CardOwner> owners = OwnersBySerial24({77}).value(77);
    QCOMPARE(owners.size(), 1203);
    QCOMPARE(owners.first().UserName, QStringLiteral("o0000"));
    QCOMPARE(owners.last().UserName, QStringLiteral("o1202"));
}

QTEST_MAIN(TestCardOwners)
#include "tst_cardowners.moc"
