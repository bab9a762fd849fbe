#pragma once

// The byte link to the core: a local serial port or a networked camera's tunnelled
// serial channel. Reads never wait: the transaction layer polls.
class CInterfaceConnect {
public:
    virtual ~CInterfaceConnect() = default;
    virtual bool Write(const void* data, int len) = 0;
    // Fetches up to `len` bytes that have already arrived; `count` (may be null)
    // receives the number of bytes placed in `buf` (network link: the chunk's size).
    virtual bool Read(unsigned char* buf, int len, int* count) = 0;
    virtual void Close() = 0;
    // Waits up to `ms` (real time) for bytes to read, returning early when they come.
    // False when the link cannot wait (the caller pauses instead).
    virtual bool WaitForData(double ms) { (void)ms; return false; }
    // Whether the core expects the closing command (0xF018 = 5) before this link
    // closes: a networked camera keeps its serial channel's state otherwise.
    virtual bool WantsClosingCommand() const { return false; }
};
