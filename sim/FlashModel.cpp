#include "FlashModel.h"

#include <algorithm>
#include <cstring>

namespace irsim {

bool FlashModel::inRange(uint32_t address, size_t len)
{
    return address <= kCapacity && len <= size_t(kCapacity - address);
}

bool FlashModel::write(uint32_t address, const uint8_t* data, size_t len)
{
    if (!inRange(address, len))
        return false;
    size_t done = 0;
    while (done < len) {
        const uint32_t at = address + uint32_t(done);
        const uint32_t page = at / kPageSize;
        const uint32_t offset = at % kPageSize;
        const size_t n = std::min(len - done, size_t(kPageSize - offset));
        auto& slot = m_pages[page];
        if (!slot) {
            slot.reset(new uint8_t[kPageSize]);
            std::memset(slot.get(), 0xFF, kPageSize);
        }
        std::memcpy(slot.get() + offset, data + done, n);
        done += n;
    }
    return true;
}

std::vector<uint8_t> FlashModel::read(uint32_t address, size_t len) const
{
    std::vector<uint8_t> out;
    if (!inRange(address, len))
        return out;
    out.assign(len, 0xFF);
    size_t done = 0;
    while (done < len) {
        const uint32_t at = address + uint32_t(done);
        const uint32_t page = at / kPageSize;
        const uint32_t offset = at % kPageSize;
        const size_t n = std::min(len - done, size_t(kPageSize - offset));
        auto it = m_pages.find(page);
        if (it != m_pages.end())
            std::memcpy(out.data() + done, it->second.get() + offset, n);
        done += n;
    }
    return out;
}

} // namespace irsim
