#include "WidgetDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QMessageBox>

MsgAnswer WidgetDialogs::message(MsgIcon icon, MsgButtons buttons, const QString& text)
{
    QMessageBox box(QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                      : QApplication::activeWindow());
    box.setWindowTitle(QStringLiteral("IC卡脱机系统"));
    // The texts carry carriage returns for their line breaks.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setText(shown);
    // Wide enough for its title: a short text ("备份完成") would otherwise leave a box whose title
    // bar shows only "I…".
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(240, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0,
                      1, grid->columnCount());
    switch (icon) {
    case MsgIcon::None:
        break;
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    switch (buttons) {
    case MsgButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MsgButtons::Abort:
        box.setStandardButtons(QMessageBox::Abort);
        break;
    case MsgButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    case QMessageBox::Abort:
        return MsgAnswer::Abort;
    default:
        return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
}

QString WidgetDialogs::openFileName(const QString& caption, const QString& folder, const QString& filter)
{
    return QFileDialog::getOpenFileName(QApplication::activeModalWidget(), caption, folder, filter);
}

QString WidgetDialogs::saveFileName(const QString& caption, const QString& folder, const QString& filter)
{
    // The program asks its own question about an existing file ("文件已经存在，覆盖文件吗？").
    return QFileDialog::getSaveFileName(QApplication::activeModalWidget(), caption, folder, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}
