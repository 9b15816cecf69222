#include "Widgets.h"

QLabel* CaptionFor(QWidget* input, const QString& caption, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    label->setBuddy(input);
    QString name = caption;
    name.remove(QLatin1Char('&'));
    input->setAccessibleName(name.trimmed());
    return label;
}

QPushButton* MakeButton(const QString& caption, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    QString name = caption;
    name.remove(QLatin1Char('&'));
    button->setAccessibleName(name);
    button->setAutoDefault(false);
    return button;
}

QLabel* MakePanel(const QString& text, QWidget* parent)
{
    auto* panel = new QLabel(text, parent);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setMinimumWidth(60);
    panel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return panel;
}

QLabel* MakeHeading(const QString& text, QWidget* parent)
{
    auto* heading = new QLabel(text, parent);
    QFont f = heading->font();
    f.setPointSizeF(f.pointSizeF() * 1.6);
    f.setBold(true);
    heading->setFont(f);
    heading->setStyleSheet(QStringLiteral("color: #1f4e8c;"));
    return heading;
}
