#include "PageText.h"

#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>

qreal pageText(QPaintDevice *device, QPainter *painter, QPointF at, qreal columnWidth, const QString &content,
               const QFont &font, const QColor &colour, Qt::Alignment align)
{
    QTextLayout layout(content, font, device);
    QTextOption option(align | Qt::AlignAbsolute);
    option.setTextDirection(Qt::LeftToRight);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine l = layout.createLine(); l.isValid(); l = layout.createLine()) {
        l.setLineWidth(columnWidth);
        l.setPosition(QPointF(0, height));
        height += l.height();
    }
    layout.endLayout();
    if (!painter)
        return height;
    painter->setPen(colour);
    layout.draw(painter, at);
    for (const QGlyphRun &run : layout.glyphRuns()) {
        if (!run.rawFont().familyName().contains(QLatin1String("Emoji")))
            continue;
        const QRectF box = run.boundingRect();
        QImage picture(box.size().toSize() + QSize(2, 2), QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::transparent);
        QPainter p(&picture);
        p.translate(-box.topLeft());
        p.drawGlyphRun(QPointF(0, 0), run);
        p.end();
        painter->drawImage(QRectF(at + box.topLeft(), QSizeF(picture.size())), picture);
    }
    return height;
}
