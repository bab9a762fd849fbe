#pragma once

class CInterfaceConnect;

// The process-wide current-link slot. It owns no link; the main window (or the CLI)
// owns the link objects and points the slot at one of them.
class CDevice {
public:
    static CInterfaceConnect* SetConnect(CInterfaceConnect* link);
    static CInterfaceConnect* Current();
    static bool Write(const void* data, int len);
    static bool Read(unsigned char* buf, int len, int* count);
    // Waits for bytes on the current link up to the nominal pause `ms` (Pace scales it),
    // waking as soon as they arrive; a link that cannot wait pauses the whole time.
    static void WaitForData(double ms);
    // Closes the current link and empties the slot.
    static void Close();
};
