#include "ui/SplashArtwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace {

const QColor Trace(60, 207, 120);

QPixmap canvas(QSize size, qreal ratio, QPainter &painter)
{
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    painter.begin(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    return pixmap;
}

// A radar screen: rings, cross hairs, the sweep and a few echoes.
void drawRadar(QPainter &painter, QPointF centre, qreal radius)
{
    QRadialGradient screen(centre, radius);
    screen.setColorAt(0, QColor(15, 79, 59));
    screen.setColorAt(0.7, QColor(8, 41, 31));
    screen.setColorAt(1, QColor(3, 18, 13));
    painter.setPen(QPen(QColor(138, 150, 166), radius / 30));
    painter.setBrush(screen);
    painter.drawEllipse(centre, radius, radius);

    painter.setPen(QPen(QColor(Trace.red(), Trace.green(), Trace.blue(), 170), radius / 45));
    painter.setBrush(Qt::NoBrush);
    for (int ring = 1; ring <= 4; ++ring)
        painter.drawEllipse(centre, radius * ring / 4.6, radius * ring / 4.6);
    painter.drawLine(centre - QPointF(radius, 0), centre + QPointF(radius, 0));
    painter.drawLine(centre - QPointF(0, radius), centre + QPointF(0, radius));

    QPainterPath sweep;
    sweep.moveTo(centre);
    sweep.arcTo(QRectF(centre - QPointF(radius, radius), QSizeF(2 * radius, 2 * radius)), 55, 35);
    sweep.closeSubpath();
    QLinearGradient fade(centre + QPointF(radius * 0.5, -radius * 0.8),
                         centre - QPointF(0, radius));
    fade.setColorAt(0, QColor(93, 255, 160, 170));
    fade.setColorAt(1, QColor(93, 255, 160, 20));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fade);
    painter.drawPath(sweep);
    painter.setPen(QPen(QColor(196, 255, 217), radius / 25, Qt::SolidLine, Qt::RoundCap));
    const qreal angle = 55 * M_PI / 180;
    painter.drawLine(centre, centre + QPointF(std::cos(angle), -std::sin(angle)) * radius * 0.97);

    const QPointF echoes[] = {{-0.5, -0.65}, {0.5, -0.2}, {0.2, 0.6}, {-0.4, 0.5}};
    for (const QPointF &at : echoes) {
        QRadialGradient blip(centre + at * radius, radius / 9);
        blip.setColorAt(0, QColor(234, 255, 242, 200));
        blip.setColorAt(1, QColor(93, 255, 160, 0));
        painter.setBrush(blip);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(centre + at * radius, radius / 9, radius / 9);
    }
}

void drawLamp(QPainter &painter, QPointF centre, qreal radius, const QColor &colour)
{
    painter.setPen(QPen(QColor(20, 24, 30), radius / 4));
    QRadialGradient glow(centre - QPointF(radius / 3, radius / 3), radius * 1.4);
    glow.setColorAt(0, colour.lighter(150));
    glow.setColorAt(1, colour.darker(130));
    painter.setBrush(glow);
    painter.drawEllipse(centre, radius, radius);
}

} // namespace

QPixmap SplashArtwork::scope(qreal devicePixelRatio)
{
    QPainter painter;
    QPixmap pixmap = canvas(QSize(119, 93), devicePixelRatio, painter);
    QLinearGradient body(0, 0, 0, 93);
    body.setColorAt(0, QColor(86, 94, 108));
    body.setColorAt(1, QColor(44, 49, 58));
    painter.setPen(QPen(QColor(28, 32, 38), 1));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(1, 1, 117, 91), 8, 8);
    drawRadar(painter, QPointF(47, 46.5), 39);
    drawLamp(painter, QPointF(103, 25), 5.5, QColor(61, 220, 132));
    drawLamp(painter, QPointF(103, 46), 5.5, QColor(245, 166, 35));
    drawLamp(painter, QPointF(103, 67), 5.5, QColor(59, 143, 232));
    return pixmap;
}

QPixmap SplashArtwork::banner(qreal devicePixelRatio)
{
    QPainter painter;
    QPixmap pixmap = canvas(QSize(407, 54), devicePixelRatio, painter);
    QLinearGradient back(0, 0, 407, 0);
    back.setColorAt(0, QColor(12, 24, 38));
    back.setColorAt(1, QColor(20, 80, 90));
    painter.setPen(QPen(QColor(43, 74, 90), 1));
    painter.setBrush(back);
    painter.drawRoundedRect(QRectF(0.5, 0.5, 406, 53), 6, 6);

    drawRadar(painter, QPointF(27, 27), 20);

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setStyleHint(QFont::SansSerif);
    title.setPixelSize(22);
    title.setBold(true);
    title.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    painter.setFont(title);
    painter.setPen(QColor(236, 242, 248));
    painter.drawText(QPointF(58, 30), QStringLiteral("VANTREL"));

    QFont line = title;
    line.setPixelSize(9);
    line.setBold(false);
    line.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    painter.setFont(line);
    painter.setPen(QColor(127, 214, 176));
    painter.drawText(QRectF(200, 16, 198, 16), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("IPv4 SWEEP  \u00b7  ECHO  \u00b7  LOOKUP"));

    // The sweep's progress: addresses sent, some of them answering.
    painter.setPen(Qt::NoPen);
    for (int dot = 0; dot < 22; ++dot) {
        const bool sent = dot < 15;
        const QColor colour = !sent          ? QColor(45, 59, 72)
                              : dot % 3 == 1 ? QColor(93, 255, 160)
                                             : QColor(46, 160, 96);
        painter.setBrush(colour);
        painter.drawRect(QRectF(58 + dot * 6.5, 42, 4, 4));
    }
    return pixmap;
}
