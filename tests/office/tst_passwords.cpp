// The operator levels' passwords on both engines: the hash against published vectors, the written
// passwords until the office sets its own, and the written ones again after a reset or when the
// database cannot be read.

#include "office/Passwords.h"
#include "store/DbMaintenance.h"
#include "store/StoreFixture.h"

#include <QFile>

class TestPasswords : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { f.setUp(); }
    void cleanup() { f.tearDown(); }

    void hashVectors_data();
    void hashVectors();
    void writtenPasswordsUntilChanged_data();
    void writtenPasswordsUntilChanged();
    void ownPasswordReplacesTheWrittenOne();
    void stewardPasswordAndItsRemoval();
    void resetPutsTheWrittenPasswordsBack();
    void restoreAndEmptyingKeepThePasswords();
    void unreadableDatabaseKeepsTheWrittenPasswords();

private:
    StoreFixture f;
};

void TestPasswords::hashVectors_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("salt");
    QTest::addColumn<int>("iterations");
    QTest::addColumn<QByteArray>("hex");
    // PBKDF2-HMAC-SHA256 test vectors of RFC 7914, section 11.
    QTest::newRow("1 round") << "passwd" << QByteArray("salt") << 1
                             << QByteArray(
                                    "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
                                    "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
    QTest::newRow("80000 rounds") << "Password" << QByteArray("NaCl") << 80000
                                  << QByteArray(
                                         "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
                                         "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d");
}

void TestPasswords::hashVectors()
{
    QFETCH(QString, password);
    QFETCH(QByteArray, salt);
    QFETCH(int, iterations);
    QFETCH(QByteArray, hex);
    QCOMPARE(PasswordHash(password, salt, iterations, 64).toHex(), hex);
}

void TestPasswords::writtenPasswordsUntilChanged_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("opens");
    QTest::newRow("steward, any text") << StewardLevel << "anything" << true;
    QTest::newRow("steward, empty") << StewardLevel << "" << true;
    QTest::newRow("administrator") << AdministratorLevel << "470925" << true;
    QTest::newRow("administrator, maintainer's") << AdministratorLevel << "639104" << false;
    QTest::newRow("administrator, trailing space") << AdministratorLevel << "470925 " << false;
    QTest::newRow("maintainer") << MaintainerLevel << "639104" << true;
    QTest::newRow("maintainer, empty") << MaintainerLevel << "" << false;
}

void TestPasswords::writtenPasswordsUntilChanged()
{
    QFETCH(int, level);
    QFETCH(QString, password);
    QFETCH(bool, opens);
    QString fellBack;
    QCOMPARE(CheckPassword(level, password, &fellBack), opens);
    QVERIFY2(fellBack.isEmpty(), qPrintable(fellBack)); // read from the database: no rows there
    QVERIFY(!PasswordChangedAt(level));
}

void TestPasswords::ownPasswordReplacesTheWrittenOne()
{
    f.clock.set(QDateTime(QDate(2026, 5, 4), QTime(9, 30, 1)));
    QVERIFY(SetPassword(AdministratorLevel, QStringLiteral("新密码ab1")));
    QVERIFY(CheckPassword(AdministratorLevel, QStringLiteral("新密码ab1")));
    QVERIFY(!CheckPassword(AdministratorLevel, QStringLiteral("470925")));
    QVERIFY(!CheckPassword(AdministratorLevel, QStringLiteral("新密码AB1"))); // case counts
    QVERIFY(CheckPassword(MaintainerLevel, QStringLiteral("639104")));        // the others keep theirs
    QCOMPARE(PasswordChangedAt(AdministratorLevel),
             std::optional<QString>(QStringLiteral("2026-05-04 09:30:01")));

    // Stored as salt and slow hash, never the text; a second setting of the same text gets a new salt.
    auto row = [] {
        return column(QStringLiteral("select %1 || '/' || %2 || '/' || Iterations from OfficePassword")
                          .arg(hexOf(QStringLiteral("Salt")), hexOf(QStringLiteral("Hash"))))
            .value(0)
            .toString();
    };
    const QString first = row();
    const QStringList parts = first.split(QLatin1Char('/'));
    QCOMPARE(parts.size(), 3);
    QCOMPARE(parts[0].size(), 32); // 16 bytes
    QCOMPARE(parts[1].size(), 64); // 32 bytes
    QCOMPARE(parts[2].toInt(), PasswordIterations);
    QVERIFY(!first.contains(QString::fromLatin1(QStringLiteral("新密码ab1").toUtf8().toHex().toUpper())));
    QVERIFY(SetPassword(AdministratorLevel, QStringLiteral("新密码ab1")));
    QCOMPARE(countRows(QStringLiteral("OfficePassword")), 1);
    QVERIFY(row().left(32) != parts[0]);
    QVERIFY(CheckPassword(AdministratorLevel, QStringLiteral("新密码ab1")));

    // An empty password is no password: refused, nothing changed.
    QVERIFY(!SetPassword(AdministratorLevel, QString()));
    QVERIFY(CheckPassword(AdministratorLevel, QStringLiteral("新密码ab1")));
}

void TestPasswords::stewardPasswordAndItsRemoval()
{
    QVERIFY(SetPassword(StewardLevel, QStringLiteral("wy2024")));
    QVERIFY(CheckPassword(StewardLevel, QStringLiteral("wy2024")));
    QVERIFY(!CheckPassword(StewardLevel, QString()));
    QVERIFY(!CheckPassword(StewardLevel, QStringLiteral("wy2025")));
    QVERIFY(RemovePassword(StewardLevel));
    QVERIFY(CheckPassword(StewardLevel, QStringLiteral("anything")));
    QVERIFY(!PasswordChangedAt(StewardLevel));
}

void TestPasswords::resetPutsTheWrittenPasswordsBack()
{
    QCOMPARE(ResetPasswords(), 0);
    for (int level : {StewardLevel, AdministratorLevel, MaintainerLevel})
        QVERIFY(SetPassword(level, QStringLiteral("x%1").arg(level)));
    QCOMPARE(ResetPasswords(), 3);
    QVERIFY(CheckPassword(StewardLevel, QStringLiteral("x0 or anything")));
    QVERIFY(CheckPassword(AdministratorLevel, QStringLiteral("470925")));
    QVERIFY(!CheckPassword(AdministratorLevel, QStringLiteral("x1")));
    QVERIFY(CheckPassword(MaintainerLevel, QStringLiteral("639104")));
    QCOMPARE(countRows(QStringLiteral("OfficePassword")), 0);
}

// A backup brings back owners, not the passwords of its day: a password changed since stays.
void TestPasswords::restoreAndEmptyingKeepThePasswords()
{
    QVERIFY(SetPassword(AdministratorLevel, QStringLiteral("old")));
    const MaintenanceResult backup = BackupDatabase();
    QVERIFY2(backup.ok, qPrintable(backup.message));
    QVERIFY(SetPassword(AdministratorLevel, QStringLiteral("new")));
    QVERIFY(SetPassword(StewardLevel, QStringLiteral("wy")));
    const MaintenanceResult restored = RestoreDatabase(backup.file);
    QVERIFY2(restored.ok, qPrintable(restored.message));
    QVERIFY(InitDatabase().ok);
    QVERIFY(CheckPassword(AdministratorLevel, QStringLiteral("new")));
    QVERIFY(!CheckPassword(AdministratorLevel, QStringLiteral("old")));
    QVERIFY(CheckPassword(StewardLevel, QStringLiteral("wy")));
}

void TestPasswords::unreadableDatabaseKeepsTheWrittenPasswords()
{
    QVERIFY(SetPassword(AdministratorLevel, QStringLiteral("own")));
    f.closeData();
    QString fellBack;
    QVERIFY(CheckPassword(AdministratorLevel, QStringLiteral("470925"), &fellBack));
    QVERIFY(!fellBack.isEmpty());
    if (f.onServer())
        return;
    // A database file that cannot be opened (here: not a database at all).
    QFile file(Tdm::DatabasePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray(4096, 'x'));
    file.close();
    f.openData();
    fellBack.clear();
    QVERIFY(CheckPassword(AdministratorLevel, QStringLiteral("470925"), &fellBack));
    QVERIFY(!CheckPassword(AdministratorLevel, QStringLiteral("own")));
    QVERIFY(CheckPassword(StewardLevel, QString()));
    QVERIFY(!fellBack.isEmpty());
}

QTEST_GUILESS_MAIN(TestPasswords)
#include "tst_passwords.moc"
