#include "LinkClosing.h"

#include "CDevice.h"
#include "CInterfaceConnect.h"
#include "CoreCommands.h"
#include "DataExchange.h"

void closeLink(CInterfaceConnect* link)
{
    if (!link)
        return;
    if (link->WantsClosingCommand() && CDevice::Current() == link)
        DataExchange::instance()->writeRegister(corecmd::kCloseRegister, corecmd::kCloseValue);
    link->Close();
}

void closeCurrentLink()
{
    CInterfaceConnect* link = CDevice::Current();
    if (!link)
        return;
    closeLink(link);
    CDevice::SetConnect(nullptr);
}
