#include "support/Files.h"
#include "support/TestDialogs.h"
#include "ui/Photo.h"

#include <QBuffer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray jpegOf(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 40));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return bytes;
}

} // namespace

class TestPhoto : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decodeScalesInTheDecoder();
    void loadPhoto_data();
    void loadPhoto();
    void findsAFileWhateverTheCase_data();
    void findsAFileWhateverTheCase();
};

void TestPhoto::decodeScalesInTheDecoder()
{
    const QByteArray big = jpegOf(QSize(1600, 1200));
    QCOMPARE(DecodeJpeg(big).size(), QSize(1600, 1200));
    // 1/8 would be 200x150, below 240x180: the decoder stops at 1/4.
    QCOMPARE(DecodeJpeg(big, QSize(240, 180)).size(), QSize(400, 300));
    QCOMPARE(DecodeJpeg(big, QSize(100, 100)).size(), QSize(200, 150));
    QVERIFY(DecodeJpeg(QByteArray("not a jpeg")).isNull());
    QVERIFY(DecodeJpeg(QByteArray("\xFF\xD8\xFF\xE0garbage", 11)).isNull());
    DecodeJpeg(big.left(big.size() / 3)); // a cut-off file must not bring the program down

    QFile placeholder(QStringLiteral(ICCARD_SOURCE_DIR "/data/null.jpg"));
    QVERIFY(placeholder.open(QIODevice::ReadOnly));
    QVERIFY(!DecodeJpeg(placeholder.readAll()).isNull());
}

void TestPhoto::loadPhoto_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("shown");
    QTest::newRow("jpeg") << jpegOf(QSize(640, 480)) << "a.jpg"
                          << ".jpg"
                          << "" << true;
    QTest::newRow("not a jpeg") << QByteArray(1000, 'x') << "b.jpeg"
                                << ".jpeg"
                                << "图像不合要求,请重新加载" << false;
    QTest::newRow("at the limit") << QByteArray(204800, 'x') << "c.jpg"
                                  << ".jpg"
                                  << "图像不合要求,请重新加载" << false;
    QTest::newRow("too large") << QByteArray(204801, 'x') << "d.jpg"
                               << ""
                               << "图像大小不合要求（应小于200K）,请重新加载" << false;
}

void TestPhoto::loadPhoto()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QString, extension);
    QFETCH(QString, message);
    QFETCH(bool, shown);
    TestDialogs dialogs;
    QTemporaryDir dir;
    WriteFile(dir.filePath(name), bytes);
    QLabel label;
    label.resize(120, 150);
    bool onScreen = !shown;
    QCOMPARE(LoadPhoto(dir.filePath(name), &label, &onScreen), extension);
    QCOMPARE(onScreen, shown);
    QCOMPARE(dialogs.texts(), message.isEmpty() ? QStringList() : QStringList{message});
    if (!message.isEmpty())
        QCOMPARE(dialogs.shown.first().buttons, MsgButtons::Abort);
    QCOMPARE(!label.pixmap().isNull(), shown);
    QCOMPARE(LoadPhoto(dir.filePath(QStringLiteral("missing.jpg")), &label), QString());
}

void TestPhoto::findsAFileWhateverTheCase_data()
{
    // The files in the folder, the name asked for, and the file found ("" for none: the plain path
    // of the name asked for comes back).
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("found");
    QTest::newRow("the placeholder") << QStringList{"null.jpg"} << "NULL.jpg"
                                     << "null.jpg";
    QTest::newRow("upper case asked, lower stored") << QStringList{"abc.jpg"} << "ABC.JPG"
                                                    << "abc.jpg";
    QTest::newRow("lower case asked, upper stored") << QStringList{"ABC.JPG"} << "abc.jpg"
                                                    << "ABC.JPG";
    QTest::newRow("a Chinese name, letters mixed") << QStringList{"张三.Jpg"} << "张三.jpG"
                                                   << "张三.Jpg";
    QTest::newRow("the exact name first") << QStringList{"ABC.jpg", "abc.jpg", "Abc.jpg"} << "abc.jpg"
                                          << "abc.jpg";
    QTest::newRow("none") << QStringList{"abd.jpg", "abc.jpg.bak"} << "abc.jpg"
                          << "";
    // Only the letters A to Z and a to z are one another's case.
    QTest::newRow("not ASCII") << QStringList{"Ä.jpg"} << "ä.jpg"
                               << "";
}

void TestPhoto::findsAFileWhateverTheCase()
{
    QFETCH(QStringList, files);
    QFETCH(QString, asked);
    QFETCH(QString, found);
    QTemporaryDir dir;
    for (const QString& file : files)
        WriteFile(dir.filePath(file), file.toUtf8());
    const QString actual = FindFileNoCase(dir.path(), asked);
    const QString expected = dir.filePath(found.isEmpty() ? asked : found);
    // A file system that ignores case itself (Windows) finds the file under the name asked.
    if (QSysInfo::kernelType() == QLatin1String("winnt"))
        QVERIFY2(actual.compare(expected, Qt::CaseInsensitive) == 0, qPrintable(actual));
    else
        QCOMPARE(actual, expected);
}

QTEST_MAIN(TestPhoto)
#include "tst_photo.moc"
