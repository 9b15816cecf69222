#include "store/AppPath.h"
#include "store/SaveLoad.h"
#include "support/FileFaults.h"
#include "support/Files.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray header(uint8_t kind)
{
    QByteArray h(DataFileHeaderSize, '\0');
    std::memcpy(h.data(), DataFileSignature, DataFileSignatureSize);
    h[DataFileKindOffset] = char(kind);
    return h;
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void fieldOffsetsAndRoundTrip();
    void shortRecordKeepsTheRest();
    void refusedFiles_data();
    void refusedFiles();
    void startupLoad();
    void sectorCorrection_data();
    void sectorCorrection();
    void failedSaveLeavesOldFileWhole();
    void shippedDefaultFile();
    void unfinishedSavesAreRemoved();

private:
    QTemporaryDir m_dir;
};

void TestSettings::init()
{
    QVERIFY(m_dir.isValid());
    SetAppPath(m_dir.path());
    QFile::remove(SettingsPath());
    std::memset(&SystemInfo, 0, sizeof SystemInfo);
}

void TestSettings::fieldOffsetsAndRoundTrip()
{
    QByteArray record(sizeof(TSystemInfo), '\0');
    for (int i = 0; i < record.size(); ++i)
        record[i] = char((i * 7 + 3) & 0xFF);
    record[12] = 9;
    std::memcpy(record.data() + 13, "\xD0\xA1\xC7\xF8\xB1\xEA\xCA\xB6", 8);
    record[21] = 0x42;
    WriteFile(SettingsPath(), header(1) + record);

    QCOMPARE(LoadSettings(), SettingsLoad::Loaded);
    QCOMPARE(SystemInfo.Sector, uint8_t(9));
    QCOMPARE(QByteArray(SystemInfo.RegionID, 8), QByteArray("\xD0\xA1\xC7\xF8\xB1\xEA\xCA\xB6"));
    QCOMPARE(SystemInfo.Command10Value, uint8_t(0x42));

    SystemInfo.Sector = 3;
    QVERIFY(SaveSettings());
    QByteArray expected = header(1) + record;
    expected[DataFileHeaderSize + 12] = 3;
    QCOMPARE(ReadFile(SettingsPath()), expected); // every byte not used goes back as read
}

void TestSettings::shortRecordKeepsTheRest()
{
    QByteArray record(100, '\x11');
    WriteFile(SettingsPath(), header(1) + record);
    QCOMPARE(LoadSettings(), SettingsLoad::Loaded);
    QCOMPARE(SystemInfo.Sector, uint8_t(0x11));
    QCOMPARE(SystemInfo.Reserved1[100 - 23 - 1], uint8_t(0x11));
    QCOMPARE(SystemInfo.Reserved1[100 - 23], uint8_t(0));
}

void TestSettings::refusedFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray wrongSignature = header(1);
    wrongSignature[18] = 0x02;
    QTest::newRow("wrong kind") << header(2) + QByteArray(65560, '\x05');
    QTest::newRow("wrong signature") << wrongSignature + QByteArray(65560, '\x05');
    QTest::newRow("short header") << header(1).left(200);
    QTest::newRow("empty") << QByteArray();
}

void TestSettings::refusedFiles()
{
    QFETCH(QByteArray, bytes);
    WriteFile(SettingsPath(), bytes);
    SystemInfo.Sector = 0x33;
    QCOMPARE(LoadSettings(), SettingsLoad::Failed);
    QCOMPARE(SystemInfo.Sector, uint8_t(0x33)); // untouched
}

void TestSettings::startupLoad()
{
    QCOMPARE(LoadSettings(), SettingsLoad::Missing);
    QVERIFY(!SaveSettings()); // nothing is written once the file is gone
    QVERIFY(!QFile::exists(SettingsPath()));
    QVERIFY(!LoadDataFile(QStringLiteral(" \t"), 1, &SystemInfo, sizeof SystemInfo));
}

void TestSettings::sectorCorrection_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("corrected");
    QTest::newRow("15") << 15 << 15;
    QTest::newRow("16 stays") << 16 << 16;
    QTest::newRow("17") << 17 << 7;
    QTest::newRow("255") << 255 << 7;
}

void TestSettings::sectorCorrection()
{
    QFETCH(int, stored);
    QFETCH(int, corrected);
    TSystemInfo info{};
    info.Sector = uint8_t(stored);
    CorrectSector(info);
    QCOMPARE(int(info.Sector), corrected);
}

void TestSettings::failedSaveLeavesOldFileWhole()
{
    QByteArray old = header(1) + QByteArray(65560, '\x5A');
    WriteFile(SettingsPath(), old);
    SystemInfo.Sector = 1;

    // Let the file system refuse every write past 4 KiB, as a full disk would half-way.
    if (!FileSizeLimit::Possible())
        QSKIP("no means on this system to make the disk refuse writes");
    bool saved_ok = true;
    {
        FileSizeLimit small(4096);
        QVERIFY(small.Active());
        saved_ok = SaveSettings();
    }

    QVERIFY(!saved_ok);
    QCOMPARE(ReadFile(SettingsPath()), old);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("SystemInfo.dat")});
}

void TestSettings::shippedDefaultFile()
{
    TSystemInfo info;
    DefaultSystemInfo(info);
    QVERIFY(SaveDataFile(SettingsPath(), SettingsFileKind, &info, sizeof info));
    QCOMPARE(ReadFile(QStringLiteral(ICCARD_SOURCE_DIR "/data/SystemInfo.dat")), ReadFile(SettingsPath()));
    QCOMPARE(LoadSettings(), SettingsLoad::Loaded);
    QCOMPARE(SystemInfo.Sector, uint8_t(7));
    QCOMPARE(SystemInfo.RegionID[0], '\0');
}

void TestSettings::unfinishedSavesAreRemoved()
{
    TSystemInfo info;
    DefaultSystemInfo(info);
    QVERIFY(SaveDataFile(SettingsPath(), SettingsFileKind, &info, sizeof info));
    const QByteArray partial = header(1) + QByteArray(100, '\0');
    const QString folder = m_dir.path() + QLatin1Char('/');
    // Left by saves that were killed: ours, and the temporary files of earlier versions.
    for (const char* name : {"SystemInfo.dat.part", "SystemInfo.dat.aB3xQz", "SystemInfo.dat.Kp0wRt"})
        WriteFile(folder + QLatin1String(name), partial);
    WriteFile(folder + QStringLiteral("SystemInfo.dat.Zz9yXe"), QByteArray());
    // Kept: copies made by hand, and whatever does not look like a settings file.
    WriteFile(folder + QStringLiteral("SystemInfo.dat.backup"), partial);
    WriteFile(folder + QStringLiteral("SystemInfo.dat.Notes1"), "my notes");
    WriteFile(folder + QStringLiteral("SystemInfo.dat.old"), partial);
    const QStringList kept = {QStringLiteral("SystemInfo.dat"), QStringLiteral("SystemInfo.dat.Notes1"),
                              QStringLiteral("SystemInfo.dat.backup"), QStringLiteral("SystemInfo.dat.old")};

    QCOMPARE(LoadSettings(), SettingsLoad::Loaded); // at the next start
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files, QDir::Name), kept);
    WriteFile(folder + QStringLiteral("SystemInfo.dat.part"), partial);
    QVERIFY(SaveSettings()); // at the next save
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files, QDir::Name), kept);
    for (const QString& name : kept.mid(1))
        QFile::remove(folder + name);
}

QTEST_APPLESS_MAIN(TestSettings)
#include "tst_settings.moc"
