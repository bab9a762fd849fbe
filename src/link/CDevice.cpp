#include "CDevice.h"

#include "CInterfaceConnect.h"
#include "Pace.h"

#include <atomic>

namespace {
std::atomic<CInterfaceConnect*> g_current{nullptr};
}

CInterfaceConnect* CDevice::SetConnect(CInterfaceConnect* link)
{
    g_current.store(link);
    return link;
}

CInterfaceConnect* CDevice::Current()
{
    return g_current.load();
}

bool CDevice::Write(const void* data, int len)
{
    CInterfaceConnect* link = g_current.load();
    return link ? link->Write(data, len) : false;
}

bool CDevice::Read(unsigned char* buf, int len, int* count)
{
    CInterfaceConnect* link = g_current.load();
    return link ? link->Read(buf, len, count) : false;
}

void CDevice::WaitForData(double ms)
{
    CInterfaceConnect* link = g_current.load();
    if (!link || !link->WaitForData(Pace::scaledMs(ms)))
        Pace::sleepMs(ms);
}

void CDevice::Close()
{
    CInterfaceConnect* link = g_current.load();
    if (!link)
        return;
    link->Close();
    g_current.store(nullptr);
}
