#include "CNetConnect.h"

#include "CFindFrame.h"
#include "CStreamDecoder.h"
#include "CVideoRender.h"
#include "devnet.h"

#include <chrono>

#include <algorithm>
#include <cstring>

CNetConnect::CNetConnect()
    : m_loginHandle(-1)
    , m_serialHandle(-1)
    , m_playHandle(-1)
    , m_channel(1)
    , m_deviceForm(0)
    , m_hasRecvBuf(false)
    , m_recvLen(0)
    , m_playing(false)
    , m_streamChunks(0)
    , m_lastStreamLen(0)
{
    std::memset(m_recvBuf, 0, sizeof(m_recvBuf));
}

CNetConnect::~CNetConnect()
{
    Close();
    m_decoder.reset();
}

bool CNetConnect::Login(const NetLoginParams& params)
{
    NET_DEV_Init();
    if (m_loginHandle >= 0)
        Close();
    NET_DEV_SetConnectTime(kConnectWaitMs, 1);
    NET_DEV_SetReconnect(1000, 1);
    NET_DEV_DEVICEINFO info;
    std::memset(&info, 0, sizeof(info));
    m_loginHandle = NET_DEV_Login(params.ip.c_str(), uint16_t(params.port), params.user.c_str(),
                                  params.password.c_str(), &info);
    if (m_loginHandle < 0) {
        m_lastLoginError = NET_DEV_GetLastError(); // per thread: taken here or never
        m_loginHandle = -1;
        return false;
    }
    m_lastLoginError = 0;
    m_channel = params.channel;
    m_deviceForm = params.deviceForm;
    return true;
}

bool CNetConnect::ensureSerial()
{
    if (m_serialHandle >= 0)
        return true;
    if (m_loginHandle < 0)
        return false;
    m_serialHandle = NET_DEV_SerialStart(m_loginHandle, 1, &CNetConnect::onSerialData, this);
    if (m_serialHandle < 0) {
        NET_DEV_GetLastError();
        m_serialHandle = -1;
        return false;
    }
    return true;
}

void CNetConnect::onSerialData(int32_t, const char* data, uint32_t size, void* user)
{
    auto* self = static_cast<CNetConnect*>(user);
    if (!self || !data)
        return;
    std::lock_guard<std::mutex> lock(self->m_mailLock);
    self->m_hasRecvBuf = true;
    // Chunks of one reply join up until the transaction reads them; what does not fit
    // the mailbox is lost (no reply is that long).
    const int room = kMailboxSize - self->m_recvLen;
    const int n = int(std::min<uint32_t>(size, uint32_t(std::max(room, 0))));
    if (n > 0)
        std::memcpy(self->m_recvBuf + self->m_recvLen, data, size_t(n));
    self->m_recvLen += n;
    self->m_mailArrived.notify_all();
}

bool CNetConnect::WaitForData(double ms)
{
    std::unique_lock<std::mutex> lock(m_mailLock);
    m_mailArrived.wait_for(lock, std::chrono::duration<double, std::milli>(std::max(ms, 0.0)),
                           [this] { return m_recvLen > 0; });
    return true;
}

bool CNetConnect::Write(const void* data, int len)
{
    if (!data || len <= 0)
        return false;
    if (!ensureSerial())
        return false;
    {
        // A chunk still in the mailbox answered an earlier request (it came after that
        // request gave up): it must not be taken for the reply to this one.
        std::lock_guard<std::mutex> lock(m_mailLock);
        m_recvLen = 0;
    }
    return NET_DEV_SerialSend(m_serialHandle, m_channel, static_cast<const char*>(data), uint32_t(len)) != 0;
}

bool CNetConnect::Read(unsigned char* buf, int len, int* count)
{
    if (!buf || len <= 0)
        return false;
    if (!ensureSerial())
        return false;
    std::lock_guard<std::mutex> lock(m_mailLock);
    const int copied = std::min(m_recvLen, len);
    if (count)
        *count = copied;
    if (!m_hasRecvBuf || copied <= 0)
        return false; // nothing new since the last read
    std::memcpy(buf, m_recvBuf, size_t(copied));
    // What the caller had no room for stays for the next read.
    std::memmove(m_recvBuf, m_recvBuf + copied, size_t(m_recvLen - copied));
    m_recvLen -= copied;
    return true;
}

void CNetConnect::Close()
{
    if (m_serialHandle >= 0) {
        NET_DEV_SerialStop(m_serialHandle);
        m_serialHandle = -1;
    }
    if (m_playHandle >= 0) {
        NET_DEV_StopRealPlay(m_playHandle);
        m_playHandle = -1;
    }
    m_playing = false;
    // No callback runs any more: the decoder can go, the chunk in hand finished.
    if (CStreamDecoder* decoder = StreamDecoder())
        decoder->Stop();
    // No more frames will come: a capture waiting for them ends now.
    if (CFindFrame* frames = FrameBuffer())
        frames->CancelCapture();
    if (m_loginHandle >= 0) {
        NET_DEV_Logout(m_loginHandle);
        m_loginHandle = -1;
    }
}

void CNetConnect::SetStreamSink(StreamSink sink)
{
    std::lock_guard<std::mutex> lock(m_streamLock);
    m_sink = std::move(sink);
}

void CNetConnect::SetFrameLayout(CFindFrame::LayoutProvider provider, CFindFrame::AddInfoSink sink)
{
    std::lock_guard<std::mutex> lock(m_streamLock);
    m_layoutProvider = std::move(provider);
    m_addInfoSink = std::move(sink);
    if (m_frameBuffer) {
        m_frameBuffer->SetLayoutProvider(m_layoutProvider);
        m_frameBuffer->SetAddInfoSink(m_addInfoSink);
    }
}

bool CNetConnect::StartStream()
{
    {
        std::lock_guard<std::mutex> lock(m_streamLock);
        if (!m_render)
            m_render = std::make_unique<CVideoRender>();
        if (!m_frameBuffer) {
            m_frameBuffer = std::make_unique<CFindFrame>();
            m_frameBuffer->SetLayoutProvider(m_layoutProvider);
            m_frameBuffer->SetAddInfoSink(m_addInfoSink);
        }
        if (!m_decoder)
            m_decoder = std::make_unique<CStreamDecoder>(m_frameBuffer.get(), m_render.get());
        m_decoder->Start();
    }
    if (m_playHandle >= 0)
        return true;
    if (m_loginHandle < 0)
        return false;
    NET_DEV_PREVIEWINFO preview;
    std::memset(&preview, 0, sizeof(preview));
    preview.lChannel = m_channel;
    preview.dwStreamType = 0;
    preview.dwLinkMode = 0;
    preview.bBlocked = 1;
    preview.byProtoType = 1;
    m_playHandle = NET_DEV_RealPlay_V40(m_loginHandle, &preview, &CNetConnect::onStreamData, this);
    if (m_playHandle < 0) {
        NET_DEV_GetLastError();
        m_playHandle = -1;
        return false;
    }
    m_playing = true;
    return true;
}

bool CNetConnect::StopStream()
{
    if (m_playHandle >= 0) {
        NET_DEV_StopRealPlay(m_playHandle);
        m_playHandle = -1;
    }
    m_playing = false;
    return true;
}

bool CNetConnect::IsPlaying() const
{
    return m_playing.load();
}

bool CNetConnect::RenderReady() const
{
    std::lock_guard<std::mutex> lock(m_streamLock);
    return m_render != nullptr;
}

int CNetConnect::StreamChunkCount() const
{
    return m_streamChunks.load();
}

int CNetConnect::LastStreamChunkLength() const
{
    return m_lastStreamLen.load();
}

CFindFrame* CNetConnect::FrameBuffer() const
{
    std::lock_guard<std::mutex> lock(m_streamLock);
    return m_frameBuffer.get();
}

CVideoRender* CNetConnect::Render() const
{
    std::lock_guard<std::mutex> lock(m_streamLock);
    return m_render.get();
}

StreamQueueCounts CNetConnect::StreamDropCounts() const
{
    CStreamDecoder* decoder = StreamDecoder();
    return decoder ? decoder->Counts() : StreamQueueCounts();
}

CStreamDecoder* CNetConnect::StreamDecoder() const
{
    std::lock_guard<std::mutex> lock(m_streamLock);
    return m_decoder.get();
}

bool CNetConnect::StartCapture(int n)
{
    CFindFrame* frames = FrameBuffer();
    return frames && frames->StartCapture(n);
}

bool CNetConnect::GetCapturedFrames(std::vector<std::vector<uint16_t>>* frames, int* width, int* height) const
{
    CFindFrame* buffer = FrameBuffer();
    return buffer && buffer->GetCapturedFrames(frames, width, height);
}

bool CNetConnect::GetFrame(std::vector<uint16_t>* image, int* width, int* height) const
{
    CFindFrame* buffer = FrameBuffer();
    return buffer && buffer->GetFrame(image, width, height);
}

void CNetConnect::onStreamData(int32_t, uint32_t dataType, const uint8_t* data, uint32_t size, void* user)
{
    auto* self = static_cast<CNetConnect*>(user);
    if (!self || dataType != NET_DEV_STREAMDATA || size == 0 || !data)
        return;
    const int len = int(std::min<uint32_t>(size, 0x7FFFFFFF));
    std::lock_guard<std::mutex> lock(self->m_streamLock);
    // The recording first and whole; the decoder may drop chunks when behind.
    if (self->m_sink)
        self->m_sink(data, len);
    if (self->m_decoder)
        self->m_decoder->Push(data, len);
    ++self->m_streamChunks;
    self->m_lastStreamLen = len;
}
