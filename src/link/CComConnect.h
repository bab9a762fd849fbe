#pragma once

#include "CInterfaceConnect.h"

#include <string>

// Serial-port link over POSIX termios: raw 8N1 at the chosen baud, reads that never
// wait, writes bounded by 500 ms + 100 ms per byte, exclusive access to the port.
class CComConnect : public CInterfaceConnect {
public:
    CComConnect();
    ~CComConnect() override;
    CComConnect(const CComConnect&) = delete;
    CComConnect& operator=(const CComConnect&) = delete;

    // Port names as the system spells them: /dev/ttyUSB0, /dev/ttyS0, a pty path.
    bool Open(const std::string& portName, int baudRate);
    bool IsOpen() const { return m_fd >= 0; }

    bool Write(const void* data, int len) override;
    bool Read(unsigned char* buf, int len, int* count) override;
    bool WaitForData(double ms) override;
    void Close() override;

    // Baud rates the port can be set to (the connection dialog offers these).
    static bool IsSupportedBaud(int baudRate);

private:
    int m_fd;
};
