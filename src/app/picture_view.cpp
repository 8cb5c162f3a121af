#include "app/picture_view.h"

#include "app/colour_display.h"
#include "raster/bitmap32.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>

namespace plumora {

PictureView::PictureView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::setPicture(const TBitmap32* picture)
{
    m_picture = picture;
    update();
}

void PictureView::setColourProfile(const std::vector<std::uint8_t>& icc)
{
    m_toScreen = displayTransformFor(icc);
    update();
}

PictureView::StillFrame::StillFrame(PictureView& view) : m_view(view)
{
    // Only what is on screen: a small copy whatever the picture's size.
    const QRect visible = view.visibleRegion().boundingRect();
    view.m_stillRect = visible;
    view.m_still = visible.isEmpty() ? QPixmap() : view.grab(visible);
    view.m_holding = true;
}

PictureView::StillFrame::~StillFrame()
{
    m_view.m_holding = false;
    m_view.m_still = QPixmap();
    m_view.update();
}

void PictureView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (m_holding) {
        painter.fillRect(event->rect(), palette().window());
        if (!m_still.isNull())
            painter.drawPixmap(m_stillRect.topLeft(), m_still);
        return;
    }
    if (!m_picture || m_picture->empty() || width() <= 0 || height() <= 0) {
        painter.fillRect(event->rect(), palette().window());
        return;
    }
    // The fourth byte is ignored on screen, as it is for every format we save.
    const QImage image(m_picture->bits(), m_picture->width(), m_picture->height(), qsizetype(m_picture->bytesPerLine()),
                       QImage::Format_RGB32);
    // Only the exposed part is drawn: the painter maps it back to the source
    // rectangle, so a large picture at a high zoom costs what is on screen.
    const QRectF target = event->rect();
    const double sx = double(image.width()) / width();
    const double sy = double(image.height()) / height();
    const QRectF source(target.x() * sx, target.y() * sy, target.width() * sx, target.height() * sy);
    if (!m_toScreen) {
        painter.drawImage(target, image, source);
        return;
    }
    // Through the picture's profile: the exposed part is first stretched as
    // it would be painted (the painter picks the nearest pixel, so stretching
    // before converting gives what converting before stretching would), then
    // converted to sRGB, so the work is the screen's pixels, not the
    // picture's.
    const qreal ratio = devicePixelRatioF();
    QImage shown((target.size() * ratio).toSize(), QImage::Format_RGB32);
    if (shown.isNull())
        return;
    shown.setDevicePixelRatio(ratio);
    {
        QPainter stretch(&shown);
        stretch.setCompositionMode(QPainter::CompositionMode_Source);
        stretch.drawImage(QRectF(QPointF(0, 0), target.size()), image, source);
    }
    for (int y = 0; y < shown.height(); ++y)
        m_toScreen->convert(shown.constScanLine(y), shown.scanLine(y), std::size_t(shown.width()));
    painter.drawImage(target.topLeft(), shown);
}

}  // namespace plumora
