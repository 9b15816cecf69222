#include "TerminalSel.h"

#include "office/Lists.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <algorithm>
#include <functional>
#include <vector>

const char* const TerminalSelDefaultName = "门禁权限";

namespace {

const char* const NumberCaption = "编号：";
const char* const NameCaption = "名称：";
const char* const PermissionCaption = "权限：";

// The name label of a selector, for the delegate.
constexpr int NameRole = Qt::UserRole + 1;

// What a screen reader announces for a selector, and its tool tip: "编号：5 名称：大门".
QString SelectorText(const TfrmTerminalSel& sel)
{
    return QString::fromUtf8(NumberCaption) + sel.NumberText + QLatin1Char(' ') +
           QString::fromUtf8(NameCaption) + sel.NameText;
}

} // namespace

// The 256 selectors and the count in use, as a table of four columns: rows enough for the
// selectors in use, the cells after the last one empty. A change of a permission box through
// setData is the operator's (the view's mouse and keys, assistive tools) and is reported through
// the toggled callback; the grid's own functions change the boxes silently.
class TerminalSelModel final : public QAbstractTableModel {
public:
    explicit TerminalSelModel(QObject* parent) : QAbstractTableModel(parent) {}

    std::function<void()> Toggled;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : (m_count + TerminalSelColumns - 1) / TerminalSelColumns;
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : TerminalSelColumns;
    }

    int Count() const { return m_count; }
    bool InUse(int j) const { return j >= 0 && j < m_count; }
    const TfrmTerminalSel& At(int j) const { return m_selectors[size_t(j)]; }

    int SelectorAt(const QModelIndex& index) const
    {
        if (!index.isValid() || index.model() != this)
            return -1;
        const int j = index.row() * TerminalSelColumns + index.column();
        return InUse(j) ? j : -1;
    }
    QModelIndex CellOf(int j) const
    {
        return InUse(j) ? index(j / TerminalSelColumns, j % TerminalSelColumns) : QModelIndex();
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        if (SelectorAt(index) < 0)
            return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        const int j = SelectorAt(index);
        if (j < 0)
            return QVariant();
        const TfrmTerminalSel& sel = At(j);
        switch (role) {
        case Qt::DisplayRole: // also what typing a number finds
            return sel.NumberText;
        case NameRole:
            return sel.NameText;
        case Qt::CheckStateRole:
            return static_cast<int>(sel.Granted ? Qt::Checked : Qt::Unchecked);
        case Qt::AccessibleTextRole:
        case Qt::ToolTipRole:
            return SelectorText(sel);
        default:
            return QVariant();
        }
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        const int j = SelectorAt(index);
        if (j < 0 || role != Qt::CheckStateRole)
            return false;
        const bool granted = value.toInt() == Qt::Checked;
        if (granted != At(j).Granted) {
            SetGranted(j, granted);
            if (Toggled)
                Toggled();
        }
        return true;
    }

    // All 256 selectors back to clear, then the given ones in use.
    void Fill(const std::vector<TfrmTerminalSel>& used)
    {
        beginResetModel();
        m_selectors.fill(TfrmTerminalSel());
        m_count = int(std::min(used.size(), m_selectors.size()));
        std::copy_n(used.begin(), m_count, m_selectors.begin());
        endResetModel();
    }

    void SetGranted(int j, bool granted)
    {
        if (!InUse(j))
            return;
        m_selectors[size_t(j)].Granted = granted;
        const QModelIndex cell = CellOf(j);
        Q_EMIT dataChanged(cell, cell, {Qt::CheckStateRole});
    }

    // Sets every box in use to grant(j), with one change notice for the lot.
    void SetAll(const std::function<bool(const TfrmTerminalSel&)>& grant)
    {
        if (m_count == 0)
            return;
        for (int j = 0; j < m_count; ++j)
            m_selectors[size_t(j)].Granted = grant(At(j));
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, TerminalSelColumns - 1), {Qt::CheckStateRole});
    }

private:
    std::array<TfrmTerminalSel, TerminalSelCount> m_selectors{};
    int m_count = 0;
};

namespace {

// Where the parts of a selector lie in its cell: a frame with a little room around it, the side
// bar on its left, three lines (number, name, permission), each with its caption on the bar and
// its value beside it.
struct SelectorLayout {
    QRect frame;
    QRect bar;
    std::array<QRect, 3> lines;
    std::array<QRect, 3> captions;
    std::array<QRect, 3> values;
    QRect box;
};

constexpr int CellMargin = 3;
constexpr int FramePadding = 4;
constexpr int BarPadding = 8;
constexpr int PermissionLine = 2;

SelectorLayout layOut(const QRect& cell, const QFontMetrics& fm, const QStyle* style, const QWidget* widget)
{
    SelectorLayout l;
    l.frame = cell.adjusted(CellMargin, CellMargin, -CellMargin, -CellMargin);
    int captionWidth = 0;
    for (const char* caption : {NumberCaption, NameCaption, PermissionCaption})
        captionWidth = std::max(captionWidth, fm.horizontalAdvance(QString::fromUtf8(caption)));
    const int barWidth = captionWidth + 2 * BarPadding;
    l.bar = QRect(l.frame.left(), l.frame.top(), barWidth, l.frame.height());
    const int lineHeight = (l.frame.height() - 2 * FramePadding) / 3;
    const int valueLeft = l.bar.right() + 1 + BarPadding;
    for (int i = 0; i < 3; ++i) {
        const int top = l.frame.top() + FramePadding + i * lineHeight;
        l.lines[size_t(i)] = QRect(l.frame.left(), top, l.frame.width(), lineHeight);
        l.captions[size_t(i)] = QRect(l.frame.left() + BarPadding, top, captionWidth, lineHeight);
        l.values[size_t(i)] =
            QRect(valueLeft, top, std::max(0, l.frame.right() - BarPadding - valueLeft), lineHeight);
    }
    const QSize box(style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget),
                    style->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, widget));
    const QRect& permission = l.values[PermissionLine];
    l.box =
        QRect(QPoint(permission.left(), permission.top() + (permission.height() - box.height()) / 2), box);
    return l;
}

QColor mix(const QColor& a, const QColor& b, qreal amountOfB)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * amountOfB),
                            float(a.greenF() + (b.greenF() - a.greenF()) * amountOfB),
                            float(a.blueF() + (b.blueF() - a.blueF()) * amountOfB));
}

// Paints each selector as a small card: a light frame, the coloured side bar with the three
// captions, the number in bold, the name cut short with an ellipsis when it is too long (the
// tool tip has all of it), and the permission box. Empty cells stay blank. A click on the
// permission line toggles the box, and so does a double click anywhere on the selector.
class TerminalSelDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (!(index.flags() & Qt::ItemIsEnabled))
            return;
        const QWidget* widget = option.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        const QPalette& pal = option.palette;
        const bool granted = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        const bool focused = option.state.testFlag(QStyle::State_HasFocus);
        const SelectorLayout l = layOut(option.rect, option.fontMetrics, style, widget);

        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QColor base = pal.color(QPalette::Base);
        const QColor accent = pal.color(QPalette::Highlight);
        const QColor text = pal.color(QPalette::Text);
        const QRectF frame = QRectF(l.frame).adjusted(0.5, 0.5, -0.5, -0.5);
        constexpr qreal radius = 4;

        QPainterPath card;
        card.addRoundedRect(frame, radius, radius);
        painter->fillPath(card, granted ? mix(base, QColor(0x2e, 0x9d, 0x4f), 0.08) : base);
        // The side bar, clipped to the rounded card so that its left corners follow the frame.
        painter->save();
        painter->setClipPath(card);
        painter->fillRect(l.bar, mix(base, accent, 0.18));
        painter->fillRect(QRect(l.bar.left(), l.bar.top(), 3, l.bar.height()), mix(base, accent, 0.75));
        painter->restore();
        painter->setPen(QPen(focused ? accent : mix(base, text, 0.22), focused ? 2.0 : 1.0));
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(card);

        painter->setPen(mix(text, accent, 0.35));
        const char* const captions[3] = {NumberCaption, NameCaption, PermissionCaption};
        for (size_t i = 0; i < 3; ++i)
            painter->drawText(l.captions[i], Qt::AlignLeft | Qt::AlignVCenter,
                              QString::fromUtf8(captions[i]));

        painter->setPen(text);
        QFont bold = option.font;
        bold.setBold(true);
        painter->setFont(bold);
        const QString number = index.data(Qt::DisplayRole).toString();
        painter->drawText(l.values[0], Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(bold).elidedText(number, Qt::ElideRight, l.values[0].width()));
        painter->setFont(option.font);
        const QString name = index.data(NameRole).toString();
        painter->drawText(l.values[1], Qt::AlignLeft | Qt::AlignVCenter,
                          option.fontMetrics.elidedText(name, Qt::ElideRight, l.values[1].width()));

        QStyleOptionButton box;
        box.rect = l.box;
        box.palette = pal;
        box.state = QStyle::State_Enabled | (granted ? QStyle::State_On : QStyle::State_Off);
        style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, widget);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        return QSize(TerminalSelMinimumWidth, TerminalSelHeight);
    }

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override
    {
        if (!(index.flags() & Qt::ItemIsUserCheckable))
            return false;
        const auto type = event->type();
        if (type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick)
            return false;
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
        const SelectorLayout l = layOut(option.rect, option.fontMetrics, style, option.widget);
        const bool onPermission = l.lines[PermissionLine].contains(mouse->position().toPoint());
        // A double click toggles the box once wherever it lands: on the permission line its first
        // click has done so (and the view hands over no release after the double click itself),
        // elsewhere the double click does.
        if (onPermission == (type == QEvent::MouseButtonRelease)) {
            const bool granted = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
            model->setData(index, granted ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        }
        return onPermission || type == QEvent::MouseButtonDblClick;
    }
};

std::vector<TfrmTerminalSel> readTerminals()
{
    std::vector<TfrmTerminalSel> used;
    // More rows than selectors only in a damaged file: the first 256 are shown.
    for (const TerminalName& terminal : TerminalsInOrder(TerminalSelCount))
        used.push_back({terminal.id, terminal.name, false});
    return used;
}

} // namespace

TerminalGrid::TerminalGrid(QWidget* parent) : QTableView(parent), m_model(new TerminalSelModel(this))
{
    m_model->Toggled = [this] { Q_EMIT grantsChanged(); };
    setModel(m_model);
    setItemDelegate(new TerminalSelDelegate(this));
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab moves on to the window's next control; the arrow keys move inside the grid.
    setTabKeyNavigation(false);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    horizontalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(TerminalSelMinimumWidth);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(TerminalSelHeight);
    verticalHeader()->setDefaultSectionSize(TerminalSelHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // White cards on the window's colour.
    viewport()->setBackgroundRole(QPalette::Window);
    setAccessibleName(QString::fromUtf8(TerminalSelDefaultName));
}

void TerminalGrid::BuildGrid()
{
    std::vector<TfrmTerminalSel> used;
    try {
        used = readTerminals();
    } catch (...) {
        m_model->Fill({});
        throw;
    }
    m_model->Fill(used);
    scrollToTop();
    if (Count() > 0)
        selectionModel()->setCurrentIndex(cellOf(0), QItemSelectionModel::NoUpdate);
}

int TerminalGrid::Count() const
{
    return m_model->Count();
}

QString TerminalGrid::NumberText(int j) const
{
    return m_model->InUse(j) ? m_model->At(j).NumberText : QString();
}

QString TerminalGrid::NameText(int j) const
{
    return m_model->InUse(j) ? m_model->At(j).NameText : QString();
}

bool TerminalGrid::IsGranted(int j) const
{
    return m_model->InUse(j) && m_model->At(j).Granted;
}

void TerminalGrid::SetGranted(int j, bool granted)
{
    m_model->SetGranted(j, granted);
}

TerminalBitmap TerminalGrid::Bitmap() const
{
    TerminalBitmap bitmap{};
    for (int j = 0; j < Count(); ++j) {
        const TfrmTerminalSel& sel = m_model->At(j);
        const std::optional<int> terminal = TerminalFromText(sel.NumberText);
        if (!terminal)
            continue;
        if (sel.Granted)
            SetTerminal(bitmap.data(), *terminal);
        else
            ClearTerminal(bitmap.data(), *terminal);
    }
    return bitmap;
}

void TerminalGrid::SetBitmap(const uint8_t* bitmap)
{
    m_model->SetAll([bitmap](const TfrmTerminalSel& sel) {
        const std::optional<int> terminal = TerminalFromText(sel.NumberText);
        return terminal && TestTerminal(bitmap, *terminal);
    });
}

void TerminalGrid::TickAll()
{
    m_model->SetAll([](const TfrmTerminalSel&) { return true; });
}

void TerminalGrid::ClearAll()
{
    m_model->SetAll([](const TfrmTerminalSel&) { return false; });
}

QSize TerminalGrid::sizeHint() const
{
    const QSize least = minimumSizeHint();
    return QSize(least.width(), 3 * TerminalSelHeight + 2 * frameWidth());
}

QSize TerminalGrid::minimumSizeHint() const
{
    // Four selectors side by side beside the vertical scroll bar, and one row of them.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return QSize(TerminalSelColumns * TerminalSelMinimumWidth + bar + 2 * frameWidth(),
                 TerminalSelHeight + 2 * frameWidth());
}

int TerminalGrid::selectorAt(const QModelIndex& index) const
{
    return m_model->SelectorAt(index);
}

QModelIndex TerminalGrid::cellOf(int j) const
{
    return m_model->CellOf(j);
}

QModelIndex TerminalGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers)
{
    const int count = Count();
    if (count == 0)
        return QModelIndex();
    const int j = selectorAt(currentIndex());
    if (j < 0)
        return cellOf(0);
    const int last = count - 1;
    const int row = j / TerminalSelColumns;
    const int lastRow = last / TerminalSelColumns;
    const int pageRows = std::max(1, viewport()->height() / TerminalSelHeight);
    // Moving down from a row whose cell below is empty lands on the last selector.
    auto down = [&](int rows) { return row == lastRow ? j : std::min(j + rows * TerminalSelColumns, last); };
    auto up = [&](int rows) { return std::max(j - rows * TerminalSelColumns, j % TerminalSelColumns); };
    int to = j;
    switch (action) {
    case MoveLeft:
    case MovePrevious:
        to = std::max(j - 1, 0);
        break;
    case MoveRight:
    case MoveNext:
        to = std::min(j + 1, last);
        break;
    case MoveUp:
        to = up(1);
        break;
    case MoveDown:
        to = down(1);
        break;
    case MovePageUp:
        to = up(pageRows);
        break;
    case MovePageDown:
        to = down(pageRows);
        break;
    case MoveHome:
        to = 0;
        break;
    case MoveEnd:
        to = last;
        break;
    }
    return cellOf(to);
}

void TerminalGrid::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Space || event->key() == Qt::Key_Select) &&
        event->modifiers() == Qt::NoModifier) {
        const QModelIndex current = currentIndex();
        if (selectorAt(current) >= 0 && !event->isAutoRepeat()) {
            const bool granted = current.data(Qt::CheckStateRole).toInt() == Qt::Checked;
            m_model->setData(current, granted ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        }
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}
