#include "Widgets.h"

#include "store/CardOwners.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMainWindow>
#include <QPointer>
#include <QScreen>
#include <algorithm>

namespace {

// A window's frame as Windows draws it at 96 dpi: resize borders of 8 pixels and a title bar of 31.
const QMargins EstimatedFrame(8, 31, 8, 8);
// Kept for a taskbar when the desktop reports none (it hides itself, or there is no window manager
// to tell): the height of Windows' taskbar.
constexpr int UnreportedTaskbar = 40;

// What a screen reader learns of a value label: the caption as name, the shown text as value and
// description.
class ValueLabelAccessible final : public QAccessibleWidget {
public:
    explicit ValueLabelAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override
    {
        const auto* label = static_cast<const QLabel*>(widget());
        switch (t) {
        case QAccessible::Name: {
            const QString caption = label->accessibleName();
            return caption.isEmpty() ? label->text() : caption;
        }
        case QAccessible::Value:
            return label->text();
        case QAccessible::Description:
            return label->toolTip().isEmpty() ? label->text() : label->toolTip();
        default:
            return QAccessibleWidget::text(t);
        }
    }
};

QAccessibleInterface* valueLabelFactory(const QString& className, QObject* object)
{
    if (object && object->isWidgetType() &&
        className == QLatin1String(ValueLabel::staticMetaObject.className()))
        return new ValueLabelAccessible(static_cast<QLabel*>(object));
    return nullptr;
}

// One filter for all buttons: Enter on the focused button clicks it, as Space does.
class EnterClicksButton final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (!button)
            return false;
        if (!key->isAutoRepeat()) // holding Enter down presses once
            button->click();
        return true;
    }
};

QObject* enterClicksButton()
{
    static QPointer<QObject> filter;
    if (!filter)
        filter = new EnterClicksButton(QCoreApplication::instance());
    return filter;
}

// The shown window a window opens from: its parent's window; for a window without parent (those
// kept for the whole run), the active window, else the main window.
const QWidget* openedFrom(const QWidget* window)
{
    if (const QWidget* parent = window->parentWidget())
        return parent->window();
    if (const QWidget* active = QApplication::activeWindow(); active && active != window)
        return active;
    for (const QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<const QMainWindow*>(w) && w->isVisible())
            return w;
    return nullptr;
}

// The most a window's inside may take on the screen (see PlaceOnScreen).
QSize windowRoom(const QScreen* screen)
{
    const QRect free = screen->availableGeometry();
    QSize room = free.size().shrunkBy(EstimatedFrame);
    if (free == screen->geometry())
        room.rheight() -= UnreportedTaskbar;
    return room;
}

} // namespace

ValueLabel::ValueLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(valueLabelFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
}

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
    ClickOnEnter(button);
    return button;
}

void ClickOnEnter(QPushButton* button)
{
    button->setAutoDefault(false);
    button->setDefault(false);
    button->installEventFilter(enterClicksButton());
}

ValueLabel* MakeValueLabel(const QString& text, QWidget* parent)
{
    auto* label = new ValueLabel(text, parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

ValueLabel* MakePanel(const QString& text, QWidget* parent)
{
    ValueLabel* panel = MakeValueLabel(text, parent);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setMinimumWidth(60);
    return panel;
}

void ShowCardSerial(QLabel* label, const QString& stored)
{
    label->setText(stored);
    label->setToolTip(UnsignedSerialHint(stored));
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

void PlaceOnScreen(QWidget* window, QSize size)
{
    const QWidget* from = openedFrom(window);
    QScreen* screen = from ? from->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    if (QLayout* layout = window->layout())
        layout->activate(); // what the layout needs now, with the controls the opening shows
    if (size.isEmpty())
        size = window->sizeHint();
    size = size.boundedTo(windowRoom(screen))
               .expandedTo(window->minimumSizeHint())
               .expandedTo(window->minimumSize())
               .boundedTo(window->maximumSize());
    window->resize(size);

    // The frame the window will get: like that of the window it opens from, which the window
    // manager has framed already; as Windows draws one when there is none to go by.
    QMargins frame = EstimatedFrame;
    if (from) {
        const QRect outer = from->frameGeometry();
        const QRect inner = from->geometry();
        frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    }
    const QRect free = screen->availableGeometry();
    QRect outer(QPoint(), size.grownBy(frame));
    outer.moveCenter(free.center());
    outer.moveLeft(std::max(free.left(), std::min(outer.left(), free.right() + 1 - outer.width())));
    outer.moveTop(std::max(free.top(), std::min(outer.top(), free.bottom() + 1 - outer.height())));
    window->move(outer.topLeft()); // a top-level window's position is that of its frame
}

void PlaceFrameIn(QWidget* window, const QRect& area)
{
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    const QMargins margins(inner.left() - frame.left(), inner.top() - frame.top(),
                           frame.right() - inner.right(), frame.bottom() - inner.bottom());
    window->setGeometry(area.marginsRemoved(margins));
}
