#include "QSignPixelWidget.h"

#include "CVideoRender.h"

#include <QMouseEvent>
#include <QPainter>

QSignPixelWidget::QSignPixelWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("m_pSignPixel");
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(384, 288);
}

QSignPixelWidget::~QSignPixelWidget() = default;

void QSignPixelWidget::setRender(CVideoRender* pRender)
{
    if (m_pRender == pRender)
        return;
    if (m_pRender)
        disconnect(m_pRender, nullptr, this, nullptr);
    m_pRender = pRender;
    if (m_pRender) {
        // Queued: the render wrapper announces from the stream thread, at most once
        // until the image is taken, so paints never pile up behind the stream.
        connect(m_pRender, &CVideoRender::signalImageReady, this, &QSignPixelWidget::OnImageReady,
                Qt::QueuedConnection);
        OnImageReady();
    }
}

void QSignPixelWidget::OnImageReady()
{
    if (!m_pRender)
        return;
    const QImage img = m_pRender->TakeImage();
    if (img.isNull())
        return;
    m_image = img;
    update();
}

QPoint QSignPixelWidget::toImagePixel(const QPoint& pos) const
{
    const QSize img = m_image.isNull() ? m_bounds - QSize(0, 2) : m_image.size();
    if (img.width() <= 0 || img.height() <= 0 || width() <= 0 || height() <= 0)
        return QPoint(-1, -1); // no picture: nothing to mark
    const int x = int(qint64(pos.x()) * img.width() / width());
    const int y = int(qint64(pos.y()) * img.height() / height());
    return QPoint(qBound(0, x, img.width() - 1), qBound(0, y, img.height() - 1));
}

QPoint QSignPixelWidget::toCorePixel(const QPoint& pos) const
{
    if (m_bounds.width() <= 0 || m_bounds.height() <= 0 || width() <= 0 || height() <= 0)
        return pos;
    return QPoint(int(qint64(pos.x()) * m_bounds.width() / width()),
                  int(qint64(pos.y()) * m_bounds.height() / height()));
}

void QSignPixelWidget::setCaption(const QString& strText, bool bAlert)
{
    m_strCaption = strText;
    m_bCaptionAlert = bAlert;
    update();
}

void QSignPixelWidget::paintCaption(QPainter& p)
{
    if (m_strCaption.isEmpty())
        return;
    // Where the picture is in view, also when it is enlarged inside a scroll area.
    const QRect shown = visibleRegion().boundingRect().isEmpty() ? rect() : visibleRegion().boundingRect();
    const QFontMetrics fm(font());
    const QRect box(shown.left() + 4, shown.bottom() - fm.height() - 7, fm.horizontalAdvance(m_strCaption) + 10,
                    fm.height() + 4);
    p.fillRect(box, QColor(0, 0, 0, 160));
    p.setPen(m_bCaptionAlert ? QColor(255, 110, 90) : QColor(255, 235, 120));
    p.drawText(box, Qt::AlignCenter, m_strCaption);
}

void QSignPixelWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect area = rect();
    if (m_image.isNull()) {
        p.fillRect(area, QColor(24, 28, 34));
        p.setPen(QColor(150, 160, 170));
        p.drawText(area, Qt::AlignCenter, QStringLiteral("无视频"));
        paintCaption(p);
        return;
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(area, m_image);
    ++m_painted;
    if (!m_pRender) {
        paintCaption(p);
        return;
    }
    const QColor red(255, 0, 0);
    p.setPen(QPen(red, 1));
    p.setBrush(Qt::NoBrush);
    const double w = area.width(), h = area.height();
    for (const CVideoRender::Rect& r : m_pRender->Rects()) {
        if (r.right <= r.left && r.bottom <= r.top)
            continue;
        p.drawRect(QRectF(r.left * w, r.top * h, (r.right - r.left) * w, (r.bottom - r.top) * h));
    }
    // A cross on each marked pixel, over its cell, at least 7 px wide so that it can
    // be seen when the picture is shown smaller than the image.
    const double cellW = w / m_image.width(), cellH = h / m_image.height();
    const double armW = qMax(cellW, 7.0) / 2.0, armH = qMax(cellH, 7.0) / 2.0;
    for (const QPoint& m : m_pRender->Marks()) {
        const QPointF c((m.x() + 0.5) * cellW, (m.y() + 0.5) * cellH);
        p.drawLine(QPointF(c.x() - armW, c.y()), QPointF(c.x() + armW, c.y()));
        p.drawLine(QPointF(c.x(), c.y() - armH), QPointF(c.x(), c.y() + armH));
    }
    paintCaption(p);
}

void QSignPixelWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    const QPoint pos = event->position().toPoint();
    if (m_bMarking) {
        m_clickPixel = toImagePixel(pos);
        emit Sig_SignPixel();
        return;
    }
    m_cursor = toCorePixel(pos);
    emit Sig_BtnToCrossShairs(m_cursor);
}
