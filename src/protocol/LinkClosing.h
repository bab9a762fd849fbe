#pragma once

class CInterfaceConnect;

// Closing a connection. A link that asks for it (the network link while logged in)
// is sent the closing command 0xF018 = 5 first, but only when it is the current link:
// the command travels over the current link, never over another one.
void closeLink(CInterfaceConnect* link);
// Closes the current link the same way and empties the slot.
void closeCurrentLink();
