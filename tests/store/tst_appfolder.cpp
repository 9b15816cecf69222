// The program folder rule: which folder the program uses, where the shipped files are found, and
// how a new folder is seeded with them without ever replacing what is there.

#include "store/AppPath.h"
#include "support/Files.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <thread>
#include <vector>

namespace {

const QString Settings = QStringLiteral("SystemInfo.dat");
const QString Photo = QStringLiteral("null.jpg");

QString shipped(const QString& name)
{
    return QStringLiteral(ICCARD_SOURCE_DIR "/data/") + name;
}

} // namespace

class TestAppFolder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void choice_data();
    void choice();
    void shippedFilesInstalledOrBeside();
    void manualInstalledOrBeside();
    void seedsOnceAndNeverReplaces();
    void folderThatCannotBeMade();
    void programsStartingAtOnceOnANewFolder();
};

void TestAppFolder::choice_data()
{
    QTest::addColumn<bool>("settingsBeside");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("expected"); // "exe", "data" or the folder given
    QTest::addColumn<int>("source");
    QTest::newRow("build tree or portable copy") << true << ""
                                                 << ""
                                                 << "exe" << int(FolderSource::BesideExecutable);
    QTest::newRow("installed") << false << ""
                               << ""
                               << "data" << int(FolderSource::UserData);
    QTest::newRow("option over everything") << true << "/srv/qdr"
                                            << "/env/qdr"
                                            << "/srv/qdr" << int(FolderSource::Option);
    QTest::newRow("variable over the folder beside") << true << ""
                                                     << "/env/qdr"
                                                     << "/env/qdr" << int(FolderSource::Environment);
    QTest::newRow("relative option made absolute")
        << false << "shared/"
        << "" << QDir::cleanPath(QDir::current().absoluteFilePath(QStringLiteral("shared")))
        << int(FolderSource::Option);
}

void TestAppFolder::choice()
{
    QFETCH(bool, settingsBeside);
    QFETCH(QString, option);
    QFETCH(QString, environment);
    QFETCH(QString, expected);
    QFETCH(int, source);
    QTemporaryDir exe;
    QTemporaryDir data;
    if (settingsBeside)
        QVERIFY(QFile::copy(shipped(Settings), exe.filePath(Settings)));
    else
        QVERIFY(QFile::copy(shipped(Photo), exe.filePath(Photo))); // other files beside do not count
    if (expected == QLatin1String("exe"))
        expected = exe.path();
    else if (expected == QLatin1String("data"))
        expected = data.path();
    const FolderChoice c = ChooseProgramFolder(exe.path(), option, environment, data.path());
    QCOMPARE(c.folder, expected);
    QCOMPARE(int(c.source), source);
}

void TestAppFolder::shippedFilesInstalledOrBeside()
{
    // An installed tree under any root: <root>/usr/bin and <root>/usr/share/iccard.
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("usr/bin")));
    const QString bin = root.filePath(QStringLiteral("usr/bin"));
    QCOMPARE(ShippedFilesFolder(bin), QString()); // nothing shipped anywhere

    QVERIFY(QFile::copy(shipped(Settings), bin + QLatin1Char('/') + Settings));
    QCOMPARE(ShippedFilesFolder(bin), bin); // the build tree: beside the executable

    const QString share = root.filePath(QStringLiteral("usr/share/iccard"));
    QVERIFY(QDir().mkpath(share));
    QVERIFY(QFile::copy(shipped(Settings), share + QLatin1Char('/') + Settings));
    QCOMPARE(ShippedFilesFolder(bin), share); // installed files first
}

void TestAppFolder::manualInstalledOrBeside()
{
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("usr/bin/manual/zh_CN")));
    const QString bin = root.filePath(QStringLiteral("usr/bin"));
    const QString beside = bin + QStringLiteral("/manual/zh_CN");
    const QString installed = root.filePath(QStringLiteral("usr/share/doc/iccard/manual/zh_CN"));
    QCOMPARE(ManualFolderPlaces(bin), (QStringList{installed, beside}));
    QCOMPARE(ManualFolder(bin), QString()); // a folder without its index.md is no guide

    WriteFile(beside + QStringLiteral("/index.md"), "# 目录");
    QCOMPARE(ManualFolder(bin), beside); // the build tree's copy

    QVERIFY(QDir().mkpath(installed));
    WriteFile(installed + QStringLiteral("/index.md"), "# 目录");
    QCOMPARE(ManualFolder(bin), installed); // the installed guide first
    QCOMPARE(ManualFolder(bin + QStringLiteral("/")), installed);
}

void TestAppFolder::seedsOnceAndNeverReplaces()
{
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral(".local/share/iccard")); // parents missing too
    const QString from = QStringLiteral(ICCARD_SOURCE_DIR "/data");

    FolderPreparation p = PrepareProgramFolder(folder, from);
    QVERIFY2(p.ok, qPrintable(p.reason));
    QCOMPARE(p.copied, (QStringList{Settings, Photo}));
    QCOMPARE(ReadFile(folder + QLatin1Char('/') + Settings), ReadFile(shipped(Settings)));
    QCOMPARE(ReadFile(folder + QLatin1Char('/') + Photo), ReadFile(shipped(Photo)));
    // The settings are written back at exit, whatever the rights of the installed file.
    QVERIFY(QFileInfo(folder + QLatin1Char('/') + Settings).isWritable());
    QVERIFY(!QFileInfo::exists(folder + QLatin1Char('/') + Settings + QStringLiteral(".part")));

    // The operator's settings and a removed photo: the settings stay, only the photo comes back.
    WriteFile(folder + QLatin1Char('/') + Settings, "changed by the program");
    QVERIFY(QFile::remove(folder + QLatin1Char('/') + Photo));
    p = PrepareProgramFolder(folder, from);
    QVERIFY(p.ok);
    QCOMPARE(p.copied, QStringList{Photo});
    QCOMPARE(ReadFile(folder + QLatin1Char('/') + Settings), QByteArray("changed by the program"));

    p = PrepareProgramFolder(folder, from);
    QVERIFY(p.ok);
    QVERIFY(p.copied.isEmpty());

    // No shipped files found: the folder is still made; the program then says the settings are
    // missing, as it always has.
    const QString bare = home.filePath(QStringLiteral("bare"));
    p = PrepareProgramFolder(bare, QString());
    QVERIFY(p.ok);
    QVERIFY(QFileInfo(bare).isDir());
    QVERIFY(QDir(bare).isEmpty());
}

void TestAppFolder::folderThatCannotBeMade()
{
    QTemporaryDir home;
    WriteFile(home.filePath(QStringLiteral("taken")), "a file where the folder would go");
    const FolderPreparation p = PrepareProgramFolder(home.filePath(QStringLiteral("taken/iccard")),
                                                     QStringLiteral(ICCARD_SOURCE_DIR "/data"));
    QVERIFY(!p.ok);
    QVERIFY2(p.reason.startsWith(QStringLiteral("无法建立程序目录：")), qPrintable(p.reason));
}

void TestAppFolder::programsStartingAtOnceOnANewFolder()
{
    // Programs that start at the same moment on a new folder each find it ready: none is told it
    // could not copy, each shipped file is copied once and whole, and nothing is left beside them.
    const QString from = QStringLiteral(ICCARD_SOURCE_DIR "/data");
    constexpr int Programs = 8;
    for (int round = 0; round < 25; ++round) {
        QTemporaryDir home;
        const QString folder = home.filePath(QStringLiteral("iccard"));
        std::vector<FolderPreparation> results(Programs);
        std::atomic<int> waiting{Programs};
        std::vector<std::thread> programs;
        for (int i = 0; i < Programs; ++i) {
            programs.emplace_back([&, i] {
                --waiting;
                while (waiting > 0) {
                }
                results[size_t(i)] = PrepareProgramFolder(folder, from);
            });
        }
        for (std::thread& t : programs)
            t.join();
        int copies = 0;
        for (const FolderPreparation& p : results) {
            QVERIFY2(p.ok, qPrintable(p.reason));
            copies += int(p.copied.size());
        }
        QCOMPARE(copies, 2);
        QCOMPARE(ReadFile(folder + QLatin1Char('/') + Settings), ReadFile(shipped(Settings)));
        QCOMPARE(ReadFile(folder + QLatin1Char('/') + Photo), ReadFile(shipped(Photo)));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 (QStringList{Settings, Photo}));
    }
}

QTEST_GUILESS_MAIN(TestAppFolder)
#include "tst_appfolder.moc"
