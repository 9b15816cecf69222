#include "WelcomePicture.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

WelcomePicture::WelcomePicture(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(400, 300);
}

void WelcomePicture::setTitle(const QString& title)
{
    m_title = title;
    update();
}

void WelcomePicture::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    QLinearGradient sky(r.topLeft(), r.bottomLeft());
    sky.setColorAt(0, QColor(214, 232, 250));
    sky.setColorAt(1, QColor(245, 249, 253));
    p.fillRect(r, sky);

    // Buildings on the horizon.
    const qreal ground = r.height() * 0.8;
    p.setPen(Qt::NoPen);
    const QColor towers[] = {QColor(170, 196, 224), QColor(146, 178, 214), QColor(186, 206, 230)};
    for (int i = 0; i < 9; ++i) {
        const qreal w = r.width() / 12.0;
        const qreal h = r.height() * (0.22 + 0.06 * ((i * 7) % 5));
        const qreal x = r.width() * 0.08 + i * w * 1.15;
        p.setBrush(towers[i % 3]);
        p.drawRect(QRectF(x, ground - h, w, h));
        p.setBrush(QColor(255, 255, 255, 140));
        for (qreal wy = ground - h + 10; wy < ground - 14; wy += 18)
            for (qreal wx = x + 7; wx < x + w - 10; wx += 14)
                p.drawRect(QRectF(wx, wy, 6, 8));
    }
    QLinearGradient lawn(0, ground, 0, r.height());
    lawn.setColorAt(0, QColor(132, 176, 116));
    lawn.setColorAt(1, QColor(104, 148, 92));
    p.setBrush(lawn);
    p.drawRect(QRectF(0, ground, r.width(), r.height() - ground));
    p.setBrush(QColor(214, 206, 190));
    QPolygonF path;
    path << QPointF(r.width() * 0.5 - 110, ground) << QPointF(r.width() * 0.5 + 110, ground)
         << QPointF(r.width() * 0.5 + 220, r.height()) << QPointF(r.width() * 0.5 - 220, r.height());
    p.drawPolygon(path);

    // The gate with its card terminal.
    const qreal gx = r.width() * 0.5;
    p.setBrush(QColor(80, 90, 105));
    p.drawRect(QRectF(gx - 160, ground - 120, 22, 120));
    p.drawRect(QRectF(gx + 138, ground - 120, 22, 120));
    p.setBrush(QColor(60, 70, 85));
    p.drawRect(QRectF(gx - 170, ground - 132, 340, 18));
    p.setPen(QPen(QColor(90, 100, 115), 4));
    for (int i = 0; i < 11; ++i) {
        const qreal x = gx - 130 + i * 26;
        p.drawLine(QPointF(x, ground - 110), QPointF(x, ground));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 48, 60));
    p.drawRoundedRect(QRectF(gx + 170, ground - 90, 34, 54), 4, 4);
    p.setBrush(QColor(90, 220, 130));
    p.drawEllipse(QPointF(gx + 187, ground - 78), 4, 4);

    // A card held up to it.
    p.save();
    p.translate(gx + 230, ground - 150);
    p.rotate(-12);
    QPainterPath card;
    card.addRoundedRect(QRectF(0, 0, 110, 70), 8, 8);
    QLinearGradient face(0, 0, 110, 70);
    face.setColorAt(0, QColor(47, 104, 173));
    face.setColorAt(1, QColor(91, 147, 209));
    p.fillPath(card, face);
    p.setBrush(QColor(230, 190, 80));
    p.drawRoundedRect(QRectF(12, 22, 22, 17), 3, 3);
    p.setPen(QPen(QColor(255, 255, 255, 200), 2));
    for (int i = 0; i < 3; ++i)
        p.drawArc(QRectF(58 - i * 8, 20 - i * 8, 30 + i * 16, 30 + i * 16), -45 * 16, 90 * 16);
    p.restore();

    if (!m_title.isEmpty()) {
        QFont f = font();
        f.setPointSizeF(qMax(18.0, r.height() / 16));
        f.setBold(true);
        // Narrower than it is high (beside the first steps, or beside the simulator): the title
        // gets smaller rather than cut.
        const qreal room = r.width() * 0.92;
        const qreal wide = QFontMetricsF(f).horizontalAdvance(m_title);
        if (wide > room)
            f.setPointSizeF(qMax(8.0, f.pointSizeF() * room / wide));
        p.setFont(f);
        p.setPen(QColor(31, 78, 140));
        p.drawText(QRectF(0, r.height() * 0.06, r.width(), r.height() * 0.16), Qt::AlignCenter, m_title);
    }
}
