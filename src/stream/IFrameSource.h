#pragma once

#include <cstdint>

class CFindFrame;
class CVideoRender;

// How the stream queue between the link's reader and the decoder has fared: chunks
// that went into the queue, and whole chunks (and their bytes) dropped because the
// decoder fell behind.
struct StreamQueueCounts {
    uint64_t queuedChunks = 0;
    uint64_t droppedChunks = 0;
    uint64_t droppedBytes = 0;
};

// Where the pages get the live picture from: the frame buffer (newest frame, captures,
// add-info) and the display conversion of whatever link carries the stream. Both are
// owned by the source and stay alive as long as it does; null before the stream first
// starts.
class IFrameSource {
public:
    virtual ~IFrameSource() = default;
    virtual CFindFrame* FrameBuffer() const = 0;
    virtual CVideoRender* Render() const = 0;
    // Zero for a source without a decoding queue.
    virtual StreamQueueCounts StreamDropCounts() const { return StreamQueueCounts(); }
};
