#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

class QLabel;

// Owner photos are JPEG files in the pic folder (or bytes in the database).

constexpr qint64 PhotoSizeLimit = 204800;

// Decodes JPEG bytes, letting the decoder scale down by 1/2, 1/4 or 1/8 as far as the result
// still covers target; a null image when the bytes are not a JPEG. A null target decodes full size.
QImage DecodeJpeg(const QByteArray& bytes, QSize target = QSize());

// Shows the photo in image, scaled to its size, and returns the file's extension with its dot.
// A missing file returns empty text and leaves the picture; a file over the limit or not a JPEG is
// refused with a warning (a file that is not a JPEG still gives its extension). shown, when
// given, tells whether the picture is now on screen.
QString LoadPhoto(const QString& fileName, QLabel* image, bool* shown = nullptr);

// The owners' photo folder pic in the program folder, and the placeholder photo NULL.jpg in it
// (found as FindFileNoCase finds it).
QString PhotoFolder();
QString PlaceholderPhoto();

// Shows a decoded photo in image, scaled to its size keeping its proportions; a null photo leaves
// the image empty.
void ShowPicture(QLabel* image, const QImage& picture);

// The file in folder named name, found as a Windows folder finds it: the exact name first; only when
// there is none, the folder is listed (at that moment, nothing kept) for a file whose name is the
// same but for the case of the letters A to Z (NULL.jpg finds null.jpg, ABC.JPG finds abc.jpg; of
// several, the first in name order). The plain path when none matches. For the placeholder and the
// owners' photos in the pic folder, whose names were stored where letter case does not count.
QString FindFileNoCase(const QString& folder, const QString& name);
