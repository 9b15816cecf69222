// The Debian package as a property office gets it: made by cpack from this build tree, its
// contents and dependencies, and its programs run from the package unpacked under a temporary
// root, on program folders they make and seed from the package's own shipped files.

#include "store/AppPath.h"
#include "store/DM.h"
#include "support/Files.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& args, const QProcessEnvironment& env = {})
{
    QProcess p;
    if (!env.isEmpty())
        p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(240000) || p.exitStatus() != QProcess::NormalExit) {
        r.err = QStringLiteral("%1 did not finish: %2").arg(program, p.errorString());
        return r;
    }
    r.status = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QByteArray shipped(const char* name)
{
    return ReadFile(QStringLiteral(ICCARD_SOURCE_DIR "/data/") + QLatin1String(name));
}

} // namespace

class TestPackage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void contents();
    void dependencies();
    void programsRunFromTheUnpackedTree();
    void dataToolOnAFreshFolder();
    void foldersWithoutAnOption();

private:
    QTemporaryDir m_work;
    QString m_deb;
    QString m_root;
    QString bin(const char* name) const { return m_root + QStringLiteral("/usr/bin/") + QLatin1String(name); }
};

void TestPackage::initTestCase()
{
    QVERIFY(m_work.isValid());
    const Run made = run(QStringLiteral(CPACK_COMMAND),
                         {QStringLiteral("--config"), QStringLiteral(CPACK_CONFIG), QStringLiteral("-G"),
                          QStringLiteral("DEB"), QStringLiteral("-B"), m_work.filePath("out")});
    QVERIFY2(made.status == 0, qPrintable(made.out + made.err));
    const QStringList debs = QDir(m_work.filePath("out")).entryList({QStringLiteral("iccard_*.deb")});
    QCOMPARE(debs.size(), 1);
    m_deb = m_work.filePath(QStringLiteral("out/") + debs.first());
    m_root = m_work.filePath("root");
    const Run unpacked = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root});
    QVERIFY2(unpacked.status == 0, qPrintable(unpacked.err));
}

void TestPackage::contents()
{
    const Run listed = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_deb});
    QCOMPARE(listed.status, 0);
    for (const char* path :
         {"./usr/bin/iccard", "./usr/bin/iccard-data", "./usr/bin/iccard-sim",
          "./usr/share/iccard/SystemInfo.dat", "./usr/share/iccard/null.jpg",
          "./usr/share/applications/iccard.desktop", "./usr/share/metainfo/iccard.metainfo.xml",
          "./usr/share/icons/hicolor/scalable/apps/iccard.svg",
          "./usr/share/icons/hicolor/48x48/apps/iccard.png",
          "./usr/share/icons/hicolor/256x256/apps/iccard.png", "./usr/lib/udev/rules.d/70-iccard.rules",
          "./usr/share/man/man1/iccard.1.gz", "./usr/share/doc/iccard/README.md",
          "./usr/share/doc/iccard/simulator.md", "./usr/share/doc/iccard/copyright",
          "./usr/share/doc/iccard/changelog.gz", "./usr/share/doc/iccard/manual/zh_CN/index.md",
          "./usr/share/doc/iccard/manual/zh_CN/install.md", "./usr/share/doc/iccard/iccard-manual-zh_CN.pdf"})
        QVERIFY2(listed.out.contains(QLatin1String(path) + QLatin1Char('\n')), path);
    // Nothing of the build tree or the tests comes along.
    QVERIFY2(!listed.out.contains(QLatin1String("tst_")), qPrintable(listed.out));
    QVERIFY(!listed.out.contains(QLatin1String("/usr/bin/bench")));

    // The installed program finds the guide, pictures and all; the PDF is one.
    const QString guide = m_root + QStringLiteral("/usr/share/doc/iccard/manual/zh_CN");
    QCOMPARE(ManualFolder(m_root + QStringLiteral("/usr/bin")), guide);
    QCOMPARE(
        QDir(guide).entryList({QStringLiteral("*.md")}),
        QDir(QStringLiteral(ICCARD_SOURCE_DIR "/docs/manual/zh_CN")).entryList({QStringLiteral("*.md")}));
    QCOMPARE(QDir(guide + QStringLiteral("/images")).entryList(QDir::Files),
             QDir(QStringLiteral(ICCARD_SOURCE_DIR "/docs/manual/zh_CN/images")).entryList(QDir::Files));
    QVERIFY(ReadFile(m_root + QStringLiteral("/usr/share/doc/iccard/iccard-manual-zh_CN.pdf"))
                .startsWith("%PDF-"));

    // The shipped program-folder files are the ones the build lays out.
    QCOMPARE(ReadFile(m_root + QStringLiteral("/usr/share/iccard/SystemInfo.dat")),
             shipped("SystemInfo.dat"));

    // The menu entry under the Chinese name, the icon it names, and the card issuer's access rule.
    const QString desktop =
        QString::fromUtf8(ReadFile(m_root + QStringLiteral("/usr/share/applications/iccard.desktop")));
    for (const char* line : {"Name[zh_CN]=IC卡脱机系统", "Exec=iccard", "Icon=iccard", "Categories=Office;"})
        QVERIFY2(desktop.contains(QStringLiteral("\n") + QString::fromUtf8(line) + QStringLiteral("\n")),
                 line);
    const QString rule =
        QString::fromUtf8(ReadFile(m_root + QStringLiteral("/usr/lib/udev/rules.d/70-iccard.rules")));
    QVERIFY(rule.contains(
        QLatin1String(R"(SUBSYSTEM=="hidraw", ATTRS{idVendor}=="1a86", ATTRS{idProduct}=="e010")")));
    QVERIFY(rule.contains(QLatin1String(R"(TAG+="uaccess")")));
}

void TestPackage::dependencies()
{
    const Run depends =
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QStringLiteral("Depends")});
    QCOMPARE(depends.status, 0);
    // Computed from the binaries, and what they load at run time.
    for (const char* package :
         {"libqt6widgets6", "libqt6sql6", "libhidapi-hidraw0", "libudev1", "libjpeg62-turbo",
          "libqt6sql6-sqlite", "qt6-translations-l10n", "fonts-wqy-microhei"})
        QVERIFY2(depends.out.contains(QLatin1String(package)), qPrintable(depends.out));
    const Run version =
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QStringLiteral("Version")});
    QCOMPARE(version.out.trimmed(), QStringLiteral(ICCARD_VERSION));
}

void TestPackage::programsRunFromTheUnpackedTree()
{
    // Without a desktop: --version and --help are answered before any window.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const Run version = run(bin("iccard"), {QStringLiteral("--version")}, env);
    QCOMPARE(version.status, 0);
    QCOMPARE(version.out, QStringLiteral("iccard (IC卡脱机系统) " ICCARD_VERSION "\n"));
    const Run help = run(bin("iccard"), {QStringLiteral("--help")}, env);
    QCOMPARE(help.status, 0);
    QVERIFY(help.out.startsWith(QStringLiteral("用法：iccard [--folder 目录]")));
    QVERIFY(help.out.contains(QLatin1String("ICCARD_FOLDER")));
    const Run toolVersion = run(bin("iccard-data"), {QStringLiteral("--version")});
    QCOMPARE(toolVersion.out, QStringLiteral("iccard-data " ICCARD_VERSION "\n"));
}

void TestPackage::dataToolOnAFreshFolder()
{
    QTemporaryDir fresh;
    const QString folder = fresh.path();

    // The unpacked tool seeds the folder from the package's share/iccard; no database yet.
    Run check = run(bin("iccard-data"), {QStringLiteral("--folder"), folder, QStringLiteral("check")});
    QCOMPARE(check.status, 1);
    QVERIFY2(check.err.contains(QStringLiteral("程序目录：%1（由 --folder 指定）").arg(folder)),
             qPrintable(check.err));
    QVERIFY2(check.err.contains(QStringLiteral("文件不存在")), qPrintable(check.err));
    QCOMPARE(ReadFile(folder + QStringLiteral("/SystemInfo.dat")), shipped("SystemInfo.dat"));
    QCOMPARE(ReadFile(folder + QStringLiteral("/null.jpg")), shipped("null.jpg"));

    // A database made by the program's data module: the unpacked tool reads it through the
    // system's Qt SQLite driver.
    SetAppPath(folder);
    dm = new Tdm;
    QVERIFY(dm->ExecuteSQL(
        QStringLiteral("insert into BuildInfo (DongHao, DanYuan, DanYuanName) values (1, 1, 'a')")));
    delete dm;
    dm = nullptr;
    WriteFile(folder + QStringLiteral("/SystemInfo.dat"), "the operator's settings");
    check = run(bin("iccard-data"), {QStringLiteral("--folder"), folder, QStringLiteral("check")});
    QCOMPARE(check.status, 0);
    QVERIFY2(check.err.contains(QStringLiteral("数据库正常：%1/QDR_DB.GRes").arg(folder)),
             qPrintable(check.err));
    QCOMPARE(ReadFile(folder + QStringLiteral("/SystemInfo.dat")), QByteArray("the operator's settings"));
}

void TestPackage::foldersWithoutAnOption()
{
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath("data"));
    env.remove(QLatin1String(FolderVariable));
    // Installed, nothing named: the user's data folder, made and seeded.
    Run where = run(bin("iccard-data"), {QStringLiteral("where")}, env);
    QCOMPARE(where.status, 0);
    const QString userFolder = home.filePath("data/iccard");
    QCOMPARE(where.out, userFolder + QLatin1Char('\n') + userFolder + QStringLiteral("/QDR_DB.GRes\n"));
    QCOMPARE(ReadFile(userFolder + QStringLiteral("/SystemInfo.dat")), shipped("SystemInfo.dat"));

    // A folder named by the environment, shared by several accounts.
    const QString shared = home.filePath("shared");
    QVERIFY(QDir().mkpath(shared));
    env.insert(QLatin1String(FolderVariable), shared);
    where = run(bin("iccard-data"), {QStringLiteral("where")}, env);
    QCOMPARE(where.status, 0);
    QVERIFY2(where.out.startsWith(shared + QLatin1Char('\n')), qPrintable(where.out));
    QVERIFY(QFileInfo::exists(shared + QStringLiteral("/SystemInfo.dat")));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
