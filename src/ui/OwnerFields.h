#pragma once

// What the two owner card windows (the record editor and the owner cards window) show of an
// owner in the same way: the owner's boxes (input boxes in the one, value labels in the other),
// the card's expiry and terminals with the property card box, and the owner's photo box. Each
// window lays its boxes out itself; this fills them from an owner row and reads them back.
// User-interface thread only.

#include "store/UserInfoRec.h"

#include <QSize>

class QCheckBox;
class QDateEdit;
class QLabel;
class QString;
class QWidget;
class TerminalGrid;

// The owner's boxes of one window. The text boxes are QLineEdit or QLabel (ValueLabel).
struct OwnerFields {
    QWidget* cardNo = nullptr;
    QWidget* dongHao = nullptr;
    QWidget* danYuan = nullptr;
    QWidget* fangHao = nullptr;
    QWidget* userName = nullptr;
    QCheckBox* useExpiry = nullptr;
    QDateEdit* expiry = nullptr;
    // The property card box: the card opens every door and does not expire.
    QCheckBox* property = nullptr;
    TerminalGrid* terminals = nullptr;

    // The owner's card number, place, name, expiry and terminals in the boxes.
    void Show(const TuserInfoRec& owner) const;
    // The same fields of owner from the boxes (building and unit as numbers, 0 when not one).
    void Read(TuserInfoRec& owner) const;
    // After the property card box changed: ticked, every terminal is ticked and the expiry is
    // not used; unticked, no terminal is.
    void ApplyProperty() const;
};

// The photo box: a framed picture of size, read by screen readers as "相片".
QLabel* MakePhotoBox(QSize size, QWidget* parent);

// What the photo box shows when an owner's photo cannot be shown.
enum class PhotoFailure {
    // Decoded without a word; the picture shown before stays (the record editor, where the
    // operator is choosing a photo).
    KeepPicture,
    // A photo file goes through LoadPhoto with its warnings; an owner without one shows the
    // placeholder (the owner cards window, moving from owner to owner).
    WarnThenPlaceholder,
};

// The owner's photo in image: the JPEG bytes stored with the owner (ExtName ".jpg" or ".jpeg"),
// else the file of the photo folder named by ExtName (found whatever the letters' case).
void ShowOwnerPhoto(QLabel* image, const TuserInfoRec& owner, PhotoFailure failure);
// The placeholder photo in image (LoadPhoto's way: a missing placeholder leaves the picture).
void ShowPlaceholderPhoto(QLabel* image);
