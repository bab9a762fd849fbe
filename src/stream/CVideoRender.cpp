#include "CVideoRender.h"

#include <cstring>

CVideoRender::CVideoRender(QObject* parent)
    : QObject(parent)
{
}

CVideoRender::~CVideoRender() = default;

void CVideoRender::InitRects(int nRectH, float fHighH, float fHighV, float fLowH, float fLowV)
{
    SetCenteredRect(0, nRectH, fHighH, fHighV);
    SetCenteredRect(1, nRectH, fLowH, fLowV);
    SetCenteredRect(2, nRectH, 1.f - fLowH, fLowH);
    SetCenteredRect(3, nRectH, fLowH, 1.f - fLowH);
    SetCenteredRect(4, nRectH, 1.f - fLowH, 1.f - fLowH);
}

void CVideoRender::SetCenteredRect(int which, int nSize, float cx, float cy)
{
    const float h = float(nSize) / kPictureRows / 2.f;
    SetRect(which, cx - h, cy - h, cx + h, cy + h);
}

void CVideoRender::SetRect(int which, float left, float top, float right, float bottom)
{
    if (which < 0 || which >= kRectCount)
        return;
    std::lock_guard<std::mutex> lock(m_lock);
    Rect& r = m_rects[size_t(which)];
    r.left = left;
    r.top = top;
    r.right = right;
    r.bottom = bottom;
}

CVideoRender::Rect CVideoRender::GetRect(int which) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return which >= 0 && which < kRectCount ? m_rects[size_t(which)] : Rect();
}

std::array<CVideoRender::Rect, CVideoRender::kRectCount> CVideoRender::Rects() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_rects;
}

void CVideoRender::SetMarks(const QVector<QPoint>& marks)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_marks = marks;
}

QVector<QPoint> CVideoRender::Marks() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_marks;
}

int CVideoRender::SetAgcMode(int mode)
{
    if (mode < AgcProcessor::ModeLine || mode > AgcProcessor::ModeSpecial)
        return AgcProcessor::ErrMode;
    m_mode = mode;
    return AgcProcessor::Ok;
}

int CVideoRender::AgcMode() const
{
    return m_mode.load();
}

void CVideoRender::ShowFrame(const uint16_t* pixels, int width, int height)
{
    if (!pixels || width <= 0 || height <= 0)
        return;
    if (!m_agc.IsCreated() || width != m_agcW || height != m_agcH) {
        // Sized for one frame geometry: another core needs a fresh one.
        if (m_agc.Create(width, height) != AgcProcessor::Ok)
            return;
        m_agcW = width;
        m_agcH = height;
        m_appliedMode = 0;
    }
    const int mode = m_mode.load();
    if (mode != m_appliedMode) {
        m_agc.SetMode(mode);
        m_appliedMode = mode;
    }
    // Reuse the spare image unless the widget still holds it.
    QImage image;
    if (!m_spare.isNull() && m_spare.width() == width && m_spare.height() == height && m_spare.isDetached())
        image.swap(m_spare);
    else
        image = QImage(width, height, QImage::Format_Grayscale8);
    if (image.isNull())
        return; // out of memory: skip this frame
    m_spare = QImage();
    if (image.bytesPerLine() == width) {
        m_agc.Process(pixels, image.bits(), nullptr);
    } else {
        m_grey.resize(size_t(width) * size_t(height));
        m_agc.Process(pixels, m_grey.data(), nullptr);
        for (int y = 0; y < height; ++y)
            std::memcpy(image.scanLine(y), m_grey.data() + size_t(y) * size_t(width), size_t(width));
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_latest.swap(image);
        ++m_seq;
    }
    m_spare = image; // the previous image, free again once the widget lets go
    if (!m_notifyPending.exchange(true))
        emit signalImageReady();
}

QImage CVideoRender::TakeImage(quint64* seq)
{
    m_notifyPending = false;
    std::lock_guard<std::mutex> lock(m_lock);
    if (seq)
        *seq = m_seq;
    return m_latest;
}

quint64 CVideoRender::ShownFrames() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_seq;
}
