#include "OwnerFields.h"

#include "Photo.h"
#include "TerminalSel.h"
#include "store/SqlText.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QLineEdit>

namespace {

void setBoxText(QWidget* box, const QString& text)
{
    if (auto* input = qobject_cast<QLineEdit*>(box))
        input->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(box))
        label->setText(text);
}

QString boxText(const QWidget* box)
{
    if (const auto* input = qobject_cast<const QLineEdit*>(box))
        return input->text();
    if (const auto* label = qobject_cast<const QLabel*>(box))
        return label->text();
    return QString();
}

} // namespace

void OwnerFields::Show(const TuserInfoRec& owner) const
{
    setBoxText(cardNo, owner.CardNo);
    setBoxText(dongHao, QString::number(owner.DongHao));
    setBoxText(danYuan, QString::number(owner.DanYuan));
    setBoxText(fangHao, owner.FangHao);
    setBoxText(userName, owner.UserName);
    useExpiry->setChecked(owner.IsUseExpDate);
    expiry->setDate(owner.ExpDate);
    terminals->SetBitmap(owner.VaildTerminal.data());
}

void OwnerFields::Read(TuserInfoRec& owner) const
{
    owner.CardNo = boxText(cardNo);
    owner.DongHao = ToInt32(boxText(dongHao));
    owner.DanYuan = ToInt32(boxText(danYuan));
    owner.FangHao = boxText(fangHao);
    owner.UserName = boxText(userName);
    owner.IsUseExpDate = useExpiry->isChecked();
    owner.chUseExpdate = useExpiry->isChecked() ? QStringLiteral("是") : QStringLiteral("否");
    owner.ExpDate = expiry->date();
    owner.VaildTerminal = terminals->Bitmap();
}

void OwnerFields::ApplyProperty() const
{
    if (property->isChecked()) {
        terminals->TickAll();
        useExpiry->setChecked(false);
    } else {
        terminals->ClearAll();
    }
}

QLabel* MakePhotoBox(QSize size, QWidget* parent)
{
    auto* image = new QLabel(parent);
    image->setFixedSize(size);
    image->setAlignment(Qt::AlignCenter);
    image->setFrameShape(QFrame::StyledPanel);
    image->setAccessibleName(QStringLiteral("相片"));
    return image;
}

void ShowOwnerPhoto(QLabel* image, const TuserInfoRec& owner, PhotoFailure failure)
{
    const QString ext = owner.ExtName.toLower();
    const bool stored = ext == QStringLiteral(".jpg") || ext == QStringLiteral(".jpeg");
    const QByteArray bytes = owner.PhotoStream ? *owner.PhotoStream : QByteArray();
    const QString file = owner.ExtName.isEmpty() ? QString() : FindFileNoCase(PhotoFolder(), owner.ExtName);
    if (failure == PhotoFailure::KeepPicture) {
        QImage picture;
        if (stored) {
            picture = DecodeJpeg(bytes, image->size());
        } else if (!file.isEmpty()) {
            QFile photo(file);
            if (photo.open(QIODevice::ReadOnly))
                picture = DecodeJpeg(photo.readAll(), image->size());
        }
        if (!picture.isNull())
            ShowPicture(image, picture);
        return;
    }
    if (stored)
        ShowPicture(image, DecodeJpeg(bytes, image->size()));
    else if (!file.isEmpty() && QFile::exists(file))
        LoadPhoto(file, image);
    else
        ShowPlaceholderPhoto(image);
}

void ShowPlaceholderPhoto(QLabel* image)
{
    LoadPhoto(PlaceholderPhoto(), image);
}
