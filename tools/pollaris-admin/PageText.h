#pragma once

#include <QColor>
#include <QPointF>
#include <QString>
#include <Qt>

class QFont;
class QPaintDevice;
class QPainter;

// Text on the pages the tool draws (the report, the slips): laid out in a column of
// the given width, wrapping at word ends, and drawn when a painter is given;
// returns its height. Left stays left and right stays right whatever the script.
// Colour emoji have no outlines a PDF can carry, so they are drawn as pictures in
// their place.
qreal pageText(QPaintDevice *device, QPainter *painter, QPointF at, qreal columnWidth, const QString &content,
               const QFont &font, const QColor &colour, Qt::Alignment align = Qt::AlignLeft);
