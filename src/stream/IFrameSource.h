#pragma once

class CFindFrame;
class CVideoRender;

// Where the pages get the live picture from: the frame buffer (newest frame, captures,
// add-info) and the display conversion of whatever link carries the stream. Both are
// owned by the source and stay alive as long as it does; null before the stream first
// starts.
class IFrameSource {
public:
    virtual ~IFrameSource() = default;
    virtual CFindFrame* FrameBuffer() const = 0;
    virtual CVideoRender* Render() const = 0;
};
