#include "NavigationBar.h"

#include "Widgets.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

NavigationBar::NavigationBar(QWidget* parent) : QWidget(parent), m_layout(new QVBoxLayout(this))
{
    setObjectName(QStringLiteral("navigationBar"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral(
        "#navigationBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #e8f0fa, stop:1 "
        "#cddff2);"
        "  border-right: 1px solid #9fb8d6; }"
        "QLabel[group=\"true\"] { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #2f68ad,"
        "  stop:1 #5b93d1); color: white; font-weight: bold; padding: 5px 8px; border-radius: 3px; }"
        "QPushButton { border: none; text-align: left; padding: 5px 10px 5px 22px; color: #17324f; }"
        "QPushButton:hover { background: #ffffff; border-radius: 3px; }"
        "QPushButton:focus { background: #ffffff; border: 1px dotted #2f68ad; }"
        "QPushButton:disabled { color: #8a98a8; }"));
    m_layout->setContentsMargins(8, 8, 8, 8);
    m_layout->setSpacing(2);
    setFixedWidth(170);
}

void NavigationBar::addGroup(const QString& caption)
{
    auto* label = new QLabel(caption, this);
    label->setProperty("group", true);
    if (m_layout->count() > 0)
        m_layout->addSpacing(10);
    m_layout->addWidget(label);
}

QPushButton* NavigationBar::addEntry(const QString& caption)
{
    auto* button = new QPushButton(caption, this);
    button->setAccessibleName(caption);
    button->setFlat(true);
    ClickOnEnter(button);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setFocusPolicy(Qt::StrongFocus);
    m_layout->addWidget(button);
    m_entries.insert(caption, button);
    return button;
}

void NavigationBar::addSeparator()
{
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    m_layout->addWidget(line);
}

void NavigationBar::finish()
{
    m_layout->addStretch();
}

QPushButton* NavigationBar::entry(const QString& caption) const
{
    return m_entries.value(caption, nullptr);
}
