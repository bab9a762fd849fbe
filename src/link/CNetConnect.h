#pragma once

#include "CFindFrame.h"
#include "CInterfaceConnect.h"
#include "IFrameSource.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct NetLoginParams {
    std::string ip;
    int port = 8000;
    std::string user;
    std::string password;
    int channel = 1;
    int deviceForm = 0;
};

class CStreamDecoder;

// Link through a networked camera's transparent serial channel (devnet SDK). The SDK
// pushes received bytes into a callback; the link gathers them in a 280-byte mailbox
// (chunks of one reply join up) that Read empties and Write clears. The same object
// owns the camera's stream.
class CNetConnect : public CInterfaceConnect, public IFrameSource {
public:
    static constexpr int kMailboxSize = 280;

    CNetConnect();
    ~CNetConnect() override;
    CNetConnect(const CNetConnect&) = delete;
    CNetConnect& operator=(const CNetConnect&) = delete;

    // How long a login waits for the TCP connection (one try).
    static constexpr unsigned kConnectWaitMs = 1000;

    bool Login(const NetLoginParams& params);
    int LoginHandle() const { return m_loginHandle; }
    // The SDK's reason for the last failed login (NET_DEV_ERR_*), 0 after a success.
    uint32_t LastLoginError() const { return m_lastLoginError; }
    int Channel() const { return m_channel; }
    int DeviceForm() const { return m_deviceForm; }

    bool Write(const void* data, int len) override;
    bool Read(unsigned char* buf, int len, int* count) override;
    // Stops the serial channel and the stream and logs out. The closing command goes
    // out before, from whoever closes the connection (closeLink / closeCurrentLink).
    void Close() override;
    bool WaitForData(double ms) override;
    bool WantsClosingCommand() const override { return m_loginHandle >= 0; }

    // Stream. The SDK's thread only moves bytes: every chunk as it arrived goes to the
    // sink, if one is set (raw recording: it sees every chunk, in order, never
    // dropped), then a copy into the decoder's bounded queue. The decoder's thread runs
    // the frame buffer, which finds the frames, and the render wrapper. Replies never
    // wait for it.
    using StreamSink = std::function<void(const uint8_t* data, int size)>;
    void SetStreamSink(StreamSink sink);
    // The frame buffer's core layout and add-info sink, from the layer that knows the
    // core (identification, CLI options); installed now and on the buffer's creation.
    void SetFrameLayout(CFindFrame::LayoutProvider provider, CFindFrame::AddInfoSink sink);
    // Creates the frame buffer, the render wrapper and the decoder on first use, then
    // starts playing (true at once when already playing).
    bool StartStream();
    // Stops playing; the frame buffer and its frames stay. Always true.
    bool StopStream();
    bool IsPlaying() const;
    // Whether the render wrapper exists (it needs no window of its own).
    bool RenderReady() const;
    int StreamChunkCount() const;
    int LastStreamChunkLength() const;
    // Owned by the link, alive until it is destroyed; null before the first start.
    CFindFrame* FrameBuffer() const override;
    CVideoRender* Render() const override;
    StreamQueueCounts StreamDropCounts() const override;
    // The stream's decoding thread; null before the first start.
    CStreamDecoder* StreamDecoder() const;
    // Forwards to the frame buffer (false without one).
    bool StartCapture(int n);
    bool GetCapturedFrames(std::vector<std::vector<uint16_t>>* frames, int* width, int* height) const;
    bool GetFrame(std::vector<uint16_t>* image, int* width, int* height) const;

private:
    bool ensureSerial();
    static void onSerialData(int32_t serialHandle, const char* data, uint32_t size, void* user);
    static void onStreamData(int32_t playHandle, uint32_t dataType, const uint8_t* data, uint32_t size, void* user);

    int m_loginHandle;
    uint32_t m_lastLoginError = 0;
    int m_serialHandle;
    int m_playHandle;
    int m_channel;
    int m_deviceForm;

    // Mailbox, shared with the SDK's serial thread.
    std::mutex m_mailLock;
    std::condition_variable m_mailArrived;
    unsigned char m_recvBuf[kMailboxSize];
    bool m_hasRecvBuf;
    int m_recvLen;

    // Stream state, shared with the SDK's stream thread.
    mutable std::mutex m_streamLock; // the sink and the two objects' creation
    StreamSink m_sink;
    std::unique_ptr<CFindFrame> m_frameBuffer;
    std::unique_ptr<CVideoRender> m_render;
    CFindFrame::LayoutProvider m_layoutProvider;
    CFindFrame::AddInfoSink m_addInfoSink;
    // Declared last: stopped and destroyed before the objects it decodes into.
    std::unique_ptr<CStreamDecoder> m_decoder;
    std::atomic<bool> m_playing;
    std::atomic<int> m_streamChunks;
    std::atomic<int> m_lastStreamLen;
};
