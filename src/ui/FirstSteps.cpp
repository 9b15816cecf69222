#include "FirstSteps.h"

#include "Widgets.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

FirstStepsPanel::FirstStepsPanel(const QStringList& steps, QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("firstSteps"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral(
        "#firstSteps { margin: 10px; background: #fbfdff; border: 1px solid #9fb8d6; border-radius: 4px; }"
        "QPushButton { border: none; text-align: left; padding: 4px 6px; color: #1f4e8c;"
        "  text-decoration: underline; }"
        "QPushButton:hover { background: #e8f0fa; }"
        "QPushButton:focus { background: #e8f0fa; border: 1px dotted #2f68ad; }"
        "QPushButton[done=\"true\"] { color: #1d7a31; }"
        "QLabel[mark=\"true\"] { min-width: 22px; max-width: 22px; min-height: 22px; max-height: 22px;"
        "  border-radius: 11px; qproperty-alignment: AlignCenter; color: white; font-weight: bold;"
        "  background: #2f68ad; }"
        "QLabel[mark=\"true\"][done=\"true\"] { background: #1d7a31; }"));
    setFixedWidth(310);

    auto* heading = new QLabel(QStringLiteral("第一次使用，请按顺序完成："), this);
    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    heading->setFont(bold);
    heading->setStyleSheet(QStringLiteral("color: #1f4e8c;"));
    auto* why = new QLabel(QStringLiteral("写业主卡之前，先格式化IC卡，再设好小区标识号。"
                                          "小区标识号为空时写的业主卡，门禁机不认。"),
                           this);
    why->setWordWrap(true);
    why->setStyleSheet(QStringLiteral("color: #555555;"));

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(1, 1);
    m_steps.reserve(size_t(steps.size()));
    for (const QString& caption : steps) {
        StepLine line;
        line.caption = caption;
        line.mark = new QLabel(this);
        line.mark->setProperty("mark", true);
        line.button = MakeButton(caption, this);
        line.button->setFlat(true);
        line.button->setCursor(Qt::PointingHandCursor);
        line.button->setFocusPolicy(Qt::StrongFocus);
        line.button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        const int row = int(m_steps.size());
        grid->addWidget(line.mark, row, 0);
        grid->addWidget(line.button, row, 1);
        m_steps.push_back(line);
        showStep(m_steps.back());
    }
    auto* after = new QLabel(QStringLiteral("第一张业主卡写好后，这里不再显示。"), this);
    after->setWordWrap(true);
    after->setStyleSheet(QStringLiteral("color: #555555;"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);
    layout->addWidget(heading);
    layout->addWidget(why);
    layout->addLayout(grid);
    layout->addWidget(after);
    layout->addStretch();
}

void FirstStepsPanel::SetDone(int step, bool done)
{
    StepLine& line = m_steps[size_t(step)];
    if (line.done == done)
        return;
    line.done = done;
    showStep(line);
}

void FirstStepsPanel::showStep(const StepLine& line)
{
    const int number = int(&line - m_steps.data()) + 1;
    const QString text = line.caption + (line.done ? QStringLiteral("：已完成") : QStringLiteral("：未完成"));
    line.button->setText(text);
    line.button->setAccessibleName(text);
    line.button->setProperty("done", line.done);
    line.mark->setText(line.done ? QStringLiteral("✓") : QString::number(number));
    line.mark->setProperty("done", line.done);
    // The style sheet's rules on "done" apply once the widgets are polished again.
    for (QWidget* w : {static_cast<QWidget*>(line.button), static_cast<QWidget*>(line.mark)}) {
        w->style()->unpolish(w);
        w->style()->polish(w);
    }
}
