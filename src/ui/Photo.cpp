#include "Photo.h"

#include "store/AppPath.h"
#include "store/Dialogs.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

extern "C" void onJpegError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

extern "C" void onJpegMessage(j_common_ptr) {}

struct Decoded {
    unsigned char* pixels = nullptr; // malloc'ed RGB rows
    int width = 0;
    int height = 0;
};

// Plain C-style decoding: no object with a destructor lives across the jump.
bool decodeRgb(const unsigned char* data, unsigned long size, int targetW, int targetH, Decoded* out)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onJpegError;
    errors.base.output_message = onJpegMessage;
    out->pixels = nullptr;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        std::free(out->pixels);
        out->pixels = nullptr;
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    info.scale_num = 1;
    info.scale_denom = 1;
    if (targetW > 0 && targetH > 0) {
        for (unsigned denom = 8; denom > 1; denom /= 2) {
            if (info.image_width / denom >= unsigned(targetW) &&
                info.image_height / denom >= unsigned(targetH)) {
                info.scale_denom = denom;
                break;
            }
        }
    }
    jpeg_start_decompress(&info);
    const size_t stride = size_t(info.output_width) * 3;
    out->width = int(info.output_width);
    out->height = int(info.output_height);
    out->pixels = static_cast<unsigned char*>(std::malloc(stride * info.output_height));
    if (!out->pixels)
        std::longjmp(errors.jump, 1);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out->pixels + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& bytes, QSize target)
{
    if (bytes.size() < 4 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xD8)
        return QImage();
    Decoded decoded;
    if (!decodeRgb(reinterpret_cast<const unsigned char*>(bytes.constData()),
                   static_cast<unsigned long>(bytes.size()), target.width(), target.height(), &decoded))
        return QImage();
    QImage image(decoded.width, decoded.height, QImage::Format_RGB888);
    for (int y = 0; y < decoded.height; ++y)
        std::memcpy(image.scanLine(y), decoded.pixels + size_t(y) * size_t(decoded.width) * 3,
                    size_t(decoded.width) * 3);
    std::free(decoded.pixels);
    return image;
}

QString LoadPhoto(const QString& fileName, QLabel* image, bool* shown)
{
    if (shown)
        *shown = false;
    QFileInfo info(fileName);
    if (!info.exists() || !info.isFile())
        return QString();
    if (info.size() > PhotoSizeLimit) {
        ShowRefusal(QStringLiteral("图像大小不合要求（应小于200K）,请重新加载"));
        return QString();
    }
    const QString extension = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    QFile file(fileName);
    QImage picture;
    if (file.open(QIODevice::ReadOnly))
        picture = DecodeJpeg(file.readAll(), image ? image->size() : QSize());
    if (picture.isNull()) {
        ShowRefusal(QStringLiteral("图像不合要求,请重新加载"));
        return extension;
    }
    if (image)
        image->setPixmap(
            QPixmap::fromImage(picture.scaled(image->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    if (shown)
        *shown = true;
    return extension;
}

QString FindFileNoCase(const QString& folder, const QString& name)
{
    const QDir dir(folder);
    if (name.isEmpty() || dir.exists(name))
        return dir.filePath(name);
    const auto foldAscii = [](QChar c) {
        return c >= QLatin1Char('A') && c <= QLatin1Char('Z') ? QChar(c.unicode() + ('a' - 'A')) : c;
    };
    const auto sameButAsciiCase = [&](const QString& a, const QString& b) {
        if (a.size() != b.size())
            return false;
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (foldAscii(a[i]) != foldAscii(b[i]))
                return false;
        }
        return true;
    };
    // One walk through the folder, nothing sorted: a photo folder may hold a file for every owner.
    QString found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden);
    while (it.hasNext()) {
        const QString entry = it.nextFileInfo().fileName();
        if (sameButAsciiCase(entry, name) && (found.isNull() || entry < found))
            found = entry;
    }
    return dir.filePath(found.isNull() ? name : found);
}

QString PhotoFolder()
{
    return AppPath + QStringLiteral("pic");
}

QString PlaceholderPhoto()
{
    return FindFileNoCase(PhotoFolder(), QStringLiteral("NULL.jpg"));
}

void ShowPicture(QLabel* image, const QImage& picture)
{
    image->setPixmap(picture.isNull() ? QPixmap()
                                      : QPixmap::fromImage(picture.scaled(image->size(), Qt::KeepAspectRatio,
                                                                          Qt::SmoothTransformation)));
}
