#pragma once

#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include "CVideoRender.h"

// The video page's picture surface: paints the render wrapper's newest grey image
// scaled to itself, the five sampling rectangles and the marked pixels over it, and
// turns clicks into image pixels (marking mode) or core cursor positions (cursor
// mode).
class QSignPixelWidget : public QWidget {
    Q_OBJECT
public:
    explicit QSignPixelWidget(QWidget* parent = nullptr);
    ~QSignPixelWidget() override;

    void setRender(CVideoRender* pRender);
    CVideoRender* render() const { return m_pRender; }

    void setMarking(bool bMarking) { m_bMarking = bMarking; }
    bool marking() const { return m_bMarking; }
    // Last click in marking mode, as an image pixel ((-1, -1) without a picture).
    QPoint clickPixel() const { return m_clickPixel; }
    // Cursor position in core pixels and the core's frame size that bounds it.
    QPoint cursorPos() const { return m_cursor; }
    void setCursorPos(const QPoint& pt) { m_cursor = pt; }
    void setFrameBounds(const QSize& size) { m_bounds = size; }
    QSize frameBounds() const { return m_bounds; }
    bool coreCursorActive() const { return m_bCursorActive; }
    // A line drawn over the picture's lower left corner (red when bAlert).
    void setCaption(const QString& strText, bool bAlert);
    QString caption() const { return m_strCaption; }
    void setCoreCursorActive(bool bActive) { m_bCursorActive = bActive; }

    // Size of the image shown (width, image rows); empty before the first frame.
    QSize imageSize() const { return m_image.size(); }
    quint64 paintedFrames() const { return m_painted; }
    // A point of the surface as an image pixel (marking) and as a core cursor position
    // (the core's frame size over the surface).
    QPoint toImagePixel(const QPoint& pos) const;
    QPoint toCorePixel(const QPoint& pos) const;

signals:
    void Sig_SignPixel();
    void Sig_BtnToCrossShairs(QPoint pt);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private slots:
    void OnImageReady();

private:
    void paintCaption(QPainter& p);

private:
    QPointer<CVideoRender> m_pRender;
    QImage m_image;
    quint64 m_painted = 0;
    bool m_bMarking = false;
    QPoint m_clickPixel;
    QPoint m_cursor;
    QSize m_bounds;
    bool m_bCursorActive = false;
    QString m_strCaption;
    bool m_bCaptionAlert = false;
};
