#pragma once

#include "CFrameStore.h"
#include "FrameAddInfo.h"
#include "FrameAddInfoDecoder.h"

#include <QObject>
#include <QPoint>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QIODevice;

// The stream's frame buffer. The stream thread appends the unstructured chunks the
// camera sends; complete packets are found by their header, checked against their CRC
// (once the stream has carried one) and become the newest frame, its add-info block
// and, while a capture runs, the next frame of the captured run. Readers on other
// threads get copies taken under the frame lock.
class CFindFrame : public QObject {
    Q_OBJECT
public:
    static constexpr int kBufferBytes = 4500000;
    static constexpr int kAddInfoBytes = 60;
    static constexpr int kMaxCapture = CFrameStore::kMaxFrames;
    static constexpr int kDefaultStallMs = 3000;
    static constexpr int kDefaultRecordIntervalMs = 100;

    // Core class, sensor type and core geometry for the add-info decode, installed by
    // the owner (the identification of the connected core, a CLI option). Without one,
    // class 0 and the stream frame's own geometry; a zero geometry stands for the
    // stream frame's own too. Called under the frame lock: it must not call back here.
    using LayoutProvider = std::function<AddInfoLayout()>;
    // Where every frame's decoded record goes; none by default.
    using AddInfoSink = std::function<void(const FrameAddInfo&)>;
    // Called on the stream thread for every frame while `frame` is valid and the
    // frame lock is held (width, height with the info rows).
    using FrameView = std::function<void(const uint16_t* frame, int width, int height)>;

    explicit CFindFrame(QObject* parent = nullptr);
    ~CFindFrame() override;

    void SetLayoutProvider(LayoutProvider provider);
    void SetAddInfoSink(AddInfoSink sink);

    // Stream thread: one chunk in. True when it completed at least one frame.
    bool InputData(const uint8_t* data, int len);
    // Stream thread: the bytes after the last chunk are lost (dropped upstream). The
    // packet being assembled is thrown away; the search starts again at the next
    // header instead of completing it with another frame's bytes.
    void DropPartialPacket();

    // Copy of the newest frame's image rows (width x (height - 2) words). False and
    // nothing touched before the first frame.
    bool GetFrame(std::vector<uint16_t>* image, int* width, int* height, quint64* seq = nullptr) const;
    // Copy of the newest whole frame (width x height words, info rows included) with
    // the status record of that same frame; false and nothing touched before the first.
    bool GetWholeFrame(std::vector<uint16_t>* frame, int* width, int* height, FrameAddInfo* info,
                       quint64* seq = nullptr) const;
    // Runs `view` on the newest whole frame under the frame lock; false without one.
    bool ReadFrame(const FrameView& view) const;
    // One image pixel of the newest frame; false without a frame or outside the image.
    bool GetPixel(int x, int y, uint16_t* value) const;
    bool HasFrame() const;
    // Mean of the newest frame's image pixels; false without a frame.
    bool ImageMean(double* mean) const;
    // Width and image rows of the newest frame; empty before the first.
    QSize FrameSize() const;
    // Frames accepted so far.
    quint64 FrameCount() const;

    // Captures the next n (1..128) frames. Blocks the caller (never the stream thread)
    // until they are in; false when n is out of range, when frames stop arriving for
    // the stall time, or when CancelCapture is called.
    bool StartCapture(int n);
    void CancelCapture();
    void SetCaptureStallMs(int ms);
    // Copies of the captured run's images; false when nothing was captured.
    bool GetCapturedFrames(std::vector<std::vector<uint16_t>>* frames, int* width, int* height) const;
    int CapturedCount() const;

    // which = 1: the frame that completed the last capture; 2: nothing (false, `info`
    // untouched); anything else: the newest frame.
    bool GetFrameAddInfoEx(FrameAddInfo* info, int which) const;
    // The newest frame's raw 60-byte add-info block; false before the first frame.
    bool GetAddInfoBlock(uint8_t block[kAddInfoBytes]) const;

    // Crosshair neighbourhood: the cursor position is 1-based. AccumulateCross adds
    // the 5 x 5 window's pixels into `sums` (row by row; cells outside the image get
    // nothing) and gives the index of the largest and the smallest covered cell (ties:
    // the later cell). False without a frame.
    void SetCrossPoint(const QPoint& point);
    QPoint CrossPoint() const;
    bool AccumulateCross(int sums[25], int* maxIndex, int* minIndex) const;

    // Recording state, kept here for the recorder.
    void SetRecording(bool bRecording);
    bool IsRecording() const;
    void SetRecordInterval(int nMs);
    int RecordInterval() const;
    void SetRecordFiles(QIODevice* pRaw, QIODevice* pText);
    QIODevice* RecordRawFile() const;
    QIODevice* RecordTextFile() const;

    struct Counters {
        quint64 frames = 0;
        quint64 crcDrops = 0;       // frames whose CRC did not match
        quint64 geometryDrops = 0;  // headers with a geometry the buffers cannot hold
        quint64 overflowClears = 0; // chunks that would overflow the receive buffer
    };
    Counters counters() const;

private:
    enum class Step { None, Frame, Dropped };
    Step frameStep();
    bool acceptFrame(const uint8_t* data);
    void discard(size_t n);
    AddInfoLayout layout(int frameW, int frameH) const;

    // Receive side: stream thread only.
    std::unique_ptr<uint8_t[]> m_recv;
    size_t m_head = 0; // first live byte
    size_t m_used = 0; // live bytes
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    bool m_crcPresent = false;
    uint32_t m_expectedCrc = 0;

    // Shared with readers: under m_frameLock.
    mutable std::mutex m_frameLock;
    std::unique_ptr<uint16_t[]> m_frame;
    int m_frameW = 0;
    int m_frameH = 0; // with the info rows
    quint64 m_frameSeq = 0;
    uint8_t m_latestBlock[kAddInfoBytes] = {};
    uint8_t m_captureEndBlock[kAddInfoBytes] = {};
    std::vector<uint16_t> m_captureEndFrame;
    int m_captureEndW = 0;
    int m_captureEndH = 0;
    CFrameStore m_store;
    int m_captureTarget = 0;
    bool m_capturing = false;
    int m_capturedW = 0;
    int m_capturedH = 0; // image rows of the run
    QPoint m_cross;
    bool m_recording = false;
    int m_recordIntervalMs = kDefaultRecordIntervalMs;
    QIODevice* m_recordRaw = nullptr;
    QIODevice* m_recordText = nullptr;
    LayoutProvider m_layoutProvider;
    AddInfoSink m_addInfoSink;
    Counters m_counters;

    std::mutex m_captureCall; // one capture at a time
    std::atomic<bool> m_cancelCapture{false};
    std::atomic<int> m_stallMs{kDefaultStallMs};
};
