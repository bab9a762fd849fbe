#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace irsim {

// The core's flash: a sparse map of 64 KiB pages. Never written bytes read as 0xFF,
// like erased NOR flash.
class FlashModel {
public:
    static constexpr uint32_t kPageSize = 0x10000;
    static constexpr uint32_t kCapacity = 0x2000000; // 32 MiB

    // False (nothing written) when the range leaves the device.
    bool write(uint32_t address, const uint8_t* data, size_t len);
    std::vector<uint8_t> read(uint32_t address, size_t len) const;
    static bool inRange(uint32_t address, size_t len);

    size_t pagesInUse() const { return m_pages.size(); }
    void clear() { m_pages.clear(); }

private:
    std::map<uint32_t, std::unique_ptr<uint8_t[]>> m_pages;
};

} // namespace irsim
