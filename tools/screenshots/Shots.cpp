#include "Shots.h"

#include "ui/BlackName.h"
#include "ui/ShowBlackCard.h"
#include "ui/WidgetDialogs.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

QString output;

int distance(QRgb a, QRgb b)
{
    const int r = qRed(a) - qRed(b), g = qGreen(a) - qGreen(b), bl = qBlue(a) - qBlue(b);
    return r * r + g * g + bl * bl;
}

// A window picture is mostly a few flat colours, with the smooth edges of its text in between: it
// is kept in an 8-bit palette, which makes the file a third of its size. The palette holds the
// colours used most, none too close to another; every other colour (an edge pixel, a shade of
// the welcome picture) is drawn with the palette colour nearest to it.
QImage fewestColours(const QImage& picture)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    QHash<QRgb, int> counts;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            ++counts[line[x] | 0xff000000u];
    }
    QList<std::pair<int, QRgb>> byUse;
    byUse.reserve(counts.size());
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        byUse.append({it.value(), it.key()});
    std::sort(byUse.begin(), byUse.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    QList<QRgb> table;
    const bool exact = byUse.size() <= 256;
    for (const auto& [count, colour] : byUse) {
        if (table.size() == 256)
            break;
        const bool close = !exact && std::any_of(table.cbegin(), table.cend(),
                                                 [&](QRgb chosen) { return distance(chosen, colour) < 48; });
        if (!close)
            table << colour;
    }
    QHash<QRgb, uchar> index;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        int best = 0;
        for (int i = 1; i < table.size(); ++i) {
            if (distance(table[i], it.key()) < distance(table[best], it.key()))
                best = i;
        }
        index.insert(it.key(), uchar(best));
    }
    QImage indexed(rgb.size(), QImage::Format_Indexed8);
    indexed.setColorTable(table);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uchar* out = indexed.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            out[x] = index.value(line[x] | 0xff000000u);
    }
    return indexed;
}

bool saveImage(const QImage& picture, const QString& name)
{
    const QString path = QDir(output).filePath(name);
    const bool ok = !picture.isNull() && fewestColours(picture).save(path, "PNG", 9);
    std::fprintf(stderr, "%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

// The picture of the popup drawn over the window behind it, at its place there (relative to the
// window's top left corner); a titled popup gets a plain frame and its title, as a window manager
// would show a message box.
bool saveOver(QWidget* behind, QWidget* popup, QPoint at, bool titled, const QString& name)
{
    const QImage face = popup->grab().toImage();
    const int titleHeight = titled ? popup->fontMetrics().height() + 10 : 0;
    const int border = titled ? 1 : 0;
    QRect frame(at - QPoint(border, titleHeight), face.size() + QSize(2 * border, titleHeight + border));
    const QRect canvas = QRect(QPoint(0, 0), behind->size()).united(frame);
    QImage picture(canvas.size(), QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter p(&picture);
    p.translate(-canvas.topLeft());
    p.drawImage(0, 0, behind->grab().toImage());
    if (titled) {
        p.fillRect(QRect(QPoint(0, 0), behind->size()), QColor(0, 0, 0, 40));
        p.fillRect(frame, QColor(0x3b, 0x5b, 0x8c));
        p.setPen(Qt::white);
        p.setFont(popup->font());
        p.drawText(frame.topLeft() + QPoint(8, titleHeight - 7), popup->windowTitle());
    }
    p.drawImage(at, face);
    p.end();
    return saveImage(picture, name);
}

} // namespace

void SetOutputFolder(const QString& folder)
{
    output = folder;
    QDir().mkpath(output);
}

bool Save(QWidget* w, const QString& name)
{
    QApplication::processEvents();
    return saveImage(w->grab().toImage(), name);
}

bool SaveScreen(const QString& name)
{
    QApplication::processEvents();
    return saveImage(QGuiApplication::primaryScreen()->grabWindow(0).toImage(), name);
}

bool SaveWithPopup(QWidget* window, QWidget* popup, const QString& name)
{
    QApplication::processEvents();
    return saveOver(window, popup, popup->mapToGlobal(QPoint(0, 0)) - window->mapToGlobal(QPoint(0, 0)),
                    false, name);
}

bool WaitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void Pause(int ms)
{
    WaitFor([] { return false; }, ms);
}

MsgAnswer ShotDialogs::message(MsgIcon icon, MsgButtons buttons, const QString& text)
{
    m_messages << text;
    std::fprintf(stderr, "message: %s\n",
                 qPrintable(QString(text).replace(QLatin1Char('\r'), QLatin1Char(' '))));
    if (!m_capture.isEmpty() && text.contains(m_captureText)) {
        const QString name = std::exchange(m_capture, QString());
        m_captureText.clear();
        bool saved = false;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            poll.stop();
            QApplication::processEvents();
            QWidget* behind = m_captureOver ? m_captureOver->window() : nullptr;
            const QPoint at =
                behind ? QRect(QPoint(0, 0), behind->size()).center() - box->rect().center() : QPoint();
            saved = behind ? saveOver(behind, box, at, true, name) : saveImage(box->grab().toImage(), name);
            box->reject();
        });
        poll.start();
        WidgetDialogs shown;
        shown.message(icon, buttons, text);
        m_capturesOk = m_capturesOk && saved;
        m_captureOver = nullptr;
    }
    if (buttons != MsgButtons::YesNo)
        return buttons == MsgButtons::Abort ? MsgAnswer::Abort : MsgAnswer::Ok;
    if (m_yes > 0) {
        --m_yes;
        return MsgAnswer::Yes;
    }
    return MsgAnswer::No;
}

QString ShotDialogs::openFileName(const QString&, const QString&, const QString&)
{
    return m_files.isEmpty() ? QString() : m_files.takeFirst();
}

QString ShotDialogs::saveFileName(const QString&, const QString&, const QString&)
{
    return m_files.isEmpty() ? QString() : m_files.takeFirst();
}

bool SaveBlacklistListing(TFormBlackNameInfo& black, const QString& name)
{
    bool saved = false;
    QTimer read;
    read.setInterval(20);
    QObject::connect(&read, &QTimer::timeout, [&] {
        auto* listing = qobject_cast<TFormShowBlackCard*>(QApplication::activeModalWidget());
        if (!listing || listing->mmoList->toPlainText().isEmpty())
            return;
        read.stop();
        Pause(200);
        saved = Save(listing, name);
        listing->close();
    });
    read.start();
    black.btnRead->click();
    return saved;
}
