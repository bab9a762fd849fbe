#pragma once

#include "AgcProcessor.h"

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QVector>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

// Turns each frame of the stream into an 8-bit grey image through the AGC and hands
// the newest one to the page's display widget, together with what is drawn over it:
// five sampling rectangles (index 0 the high-temperature one, 1..4 the low ones) in
// fractions of the picture and the marked pixels. Conversion runs on the stream
// thread; the widget is told by signalImageReady, at most once until it takes the
// image, so it never queues up behind the stream.
class CVideoRender : public QObject {
    Q_OBJECT
public:
    struct Rect {
        float top = 0.f;
        float bottom = 0.f;
        float left = 0.f;
        float right = 0.f;
    };
    static constexpr int kRectCount = 5;
    // Rectangle sides are given in pixels of the 384 x 288 picture.
    static constexpr float kPictureRows = 288.f;

    explicit CVideoRender(QObject* parent = nullptr);
    ~CVideoRender() override;

    // All five rectangles from the stored settings: side nRectH, the high rectangle
    // centred on (fHighH, fHighV), low 1 on (fLowH, fLowV), lows 2..4 mirrored from
    // fLowH into the other corners.
    void InitRects(int nRectH, float fHighH, float fHighV, float fLowH, float fLowV);
    // One rectangle centred on (cx, cy) with side nSize.
    void SetCenteredRect(int which, int nSize, float cx, float cy);
    void SetRect(int which, float left, float top, float right, float bottom);
    Rect GetRect(int which) const;
    std::array<Rect, kRectCount> Rects() const;

    // Marked pixels (image coordinates).
    void SetMarks(const QVector<QPoint>& marks);
    QVector<QPoint> Marks() const;

    // 1 "Line", 2 "Histeq", 3 "Special"; anything else is refused (-12) and the mode
    // stays. Takes effect with the next frame.
    int SetAgcMode(int mode);
    int AgcMode() const;

    // Stream thread: one image of width x height 14-bit pixels.
    void ShowFrame(const uint16_t* pixels, int width, int height);
    // The newest grey image (null before the first) and its number; re-arms the
    // notification.
    QImage TakeImage(quint64* seq = nullptr);
    quint64 ShownFrames() const;

signals:
    void signalImageReady();

private:
    mutable std::mutex m_lock; // rectangles, marks, the published image
    std::array<Rect, kRectCount> m_rects;
    QVector<QPoint> m_marks;
    QImage m_latest;
    quint64 m_seq = 0;

    // Stream thread only.
    AgcProcessor m_agc;
    int m_agcW = 0;
    int m_agcH = 0;
    int m_appliedMode = 0;
    QImage m_spare;
    std::vector<uint8_t> m_grey;

    std::atomic<int> m_mode{AgcProcessor::ModeLine};
    std::atomic<bool> m_notifyPending{false};
};
