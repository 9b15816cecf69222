#include "store/AppPath.h"
#include "support/Files.h"
#include "support/TestDialogs.h"
#include "ui/OwnerFields.h"
#include "ui/Photo.h"

#include <QBuffer>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(PhotoFailure)

namespace {

QByteArray jpegOf(const QImage& image, int quality = 90)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality);
    return bytes;
}

QByteArray jpegIn(QColor color)
{
    QImage image(QSize(80, 100), QImage::Format_RGB32);
    image.fill(color);
    return jpegOf(image);
}

// A photo file over the 200K the owner windows allow, red at its centre.
QByteArray largeRedJpeg()
{
    QImage image(QSize(600, 600), QImage::Format_RGB32);
    QRandomGenerator noise(7);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, noise.generate() | 0xFF000000u);
    for (int y = 200; y < 400; ++y)
        for (int x = 200; x < 400; ++x)
            image.setPixel(x, y, qRgb(220, 30, 30));
    return jpegOf(image, 100);
}

// Which picture the box shows, told by the colour at its centre.
QString shownIn(const QLabel& image)
{
    const QImage shown = image.pixmap().toImage();
    if (shown.isNull())
        return QStringLiteral("empty");
    const QColor c = shown.pixelColor(shown.width() / 2, shown.height() / 2);
    if (c.red() > 150 && c.green() < 100 && c.blue() < 100)
        return QStringLiteral("photo");
    if (c.green() > 150 && c.red() < 100 && c.blue() < 100)
        return QStringLiteral("placeholder");
    if (c.blue() > 150 && c.red() < 100 && c.green() < 100)
        return QStringLiteral("previous");
    return QStringLiteral("other");
}

} // namespace

class TestOwnerFields : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ownerPhoto_data();
    void ownerPhoto();
};

void TestOwnerFields::ownerPhoto_data()
{
    // The owner's photo name (ExtName) and stored bytes, the file in the photo folder, the way a
    // window takes a photo it cannot show, and then what the box shows (its picture before was
    // "previous") and the warning said.
    QTest::addColumn<QString>("extName");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("fileBytes");
    QTest::addColumn<PhotoFailure>("failure");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("message");

    const QByteArray red = jpegIn(QColor(220, 30, 30));
    const QByteArray notJpeg(1000, 'x');
    const QByteArray large = largeRedJpeg();
    QVERIFY(large.size() > 204800);
    const struct {
        const char* name;
        PhotoFailure failure;
    } ways[] = {{"keep", PhotoFailure::KeepPicture}, {"warn", PhotoFailure::WarnThenPlaceholder}};
    for (const auto& way : ways) {
        const bool k = way.failure == PhotoFailure::KeepPicture;
        auto row = [&way](const char* name) -> QTestData& { return QTest::addRow("%s: %s", way.name, name); };
        row("stored bytes") << ".JPG" << red << "" << QByteArray() << way.failure << "photo"
                            << "";
        // Stored bytes that are no JPEG: the owner cards window empties the box, without a word.
        row("stored bytes not a jpeg")
            << ".jpeg" << notJpeg << "" << QByteArray() << way.failure << (k ? "previous" : "empty") << "";
        row("file, its name's case changed")
            << "Abc.jpg" << QByteArray() << "ABC.JPG" << red << way.failure << "photo"
            << "";
        row("file not a jpeg") << "abc.jpg" << QByteArray() << "abc.jpg" << notJpeg << way.failure
                               << "previous" << (k ? "" : "图像不合要求,请重新加载");
        // Only the owner cards window holds a file to the size limit.
        row("file over the limit") << "abc.jpg" << QByteArray() << "abc.jpg" << large << way.failure
                                   << (k ? "photo" : "previous")
                                   << (k ? "" : "图像大小不合要求（应小于200K）,请重新加载");
        row("file missing") << "gone.jpg" << QByteArray() << "" << QByteArray() << way.failure
                            << (k ? "previous" : "placeholder") << "";
        row("no photo") << "" << QByteArray() << "" << QByteArray() << way.failure
                        << (k ? "previous" : "placeholder") << "";
    }
}

void TestOwnerFields::ownerPhoto()
{
    QFETCH(QString, extName);
    QFETCH(QByteArray, stored);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, fileBytes);
    QFETCH(PhotoFailure, failure);
    QFETCH(QString, shown);
    QFETCH(QString, message);

    TestDialogs dialogs;
    QTemporaryDir dir;
    SetAppPath(dir.path());
    QVERIFY(QDir().mkpath(PhotoFolder()));
    WriteFile(QDir(PhotoFolder()).filePath(QStringLiteral("null.jpg")), jpegIn(QColor(30, 200, 30)));
    if (!fileName.isEmpty())
        WriteFile(QDir(PhotoFolder()).filePath(fileName), fileBytes);

    QLabel* image = MakePhotoBox({120, 150}, nullptr);
    const std::unique_ptr<QLabel> owned(image);
    QCOMPARE(image->size(), QSize(120, 150));
    QCOMPARE(image->accessibleName(), QStringLiteral("相片"));
    QPixmap previous(image->size());
    previous.fill(QColor(30, 30, 220));
    image->setPixmap(previous);

    TuserInfoRec owner;
    owner.ExtName = extName;
    owner.PhotoStream = &stored;
    ShowOwnerPhoto(image, owner, failure);
    QCOMPARE(shownIn(*image), shown);
    QCOMPARE(dialogs.texts(), message.isEmpty() ? QStringList() : QStringList{message});
}

QTEST_MAIN(TestOwnerFields)
#include "tst_ownerfields.moc"
