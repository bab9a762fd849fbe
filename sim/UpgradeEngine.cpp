#include "UpgradeEngine.h"

#include "CoreFrames.h"

#include <algorithm>

namespace irsim {

uint32_t UpgradeEngine::selectorAddress(int selector)
{
    if (selector == 1)
        return 0x1400000; // bad-pixel table
    if (selector >= 2 && selector <= 5)
        return 0x1000000 + uint32_t(selector - 2) * 0x100000; // OCC 1-4
    if (selector >= 6 && selector <= 9)
        return 0xC00000 + uint32_t(selector - 6) * 0x100000; // K 1-4
    if (selector == 10)
        return kDataAreaAddress;
    return 0xFFFFFFFFu;
}

bool UpgradeEngine::isDataRequest(uint8_t command)
{
    return command == blockcmd::ReadLength || command == blockcmd::ReadBlock;
}

UpgradeEngine::Reply UpgradeEngine::ack(bool ok) const
{
    Reply r;
    r.value = ok ? 1 : 0;
    return r;
}

uint8_t UpgradeEngine::writeEnter(uint32_t value)
{
    if (value != 1)
        return 0;
    // Entering again (a host that gave up mid-way) starts afresh; whatever was not
    // committed is lost, as on the real core.
    leave();
    m_state = State::Entered;
    return 1;
}

uint8_t UpgradeEngine::writeConfirm(uint32_t value)
{
    if (value != 1 || m_state != State::Entered)
        return 0;
    m_state = State::Ready;
    return 1;
}

void UpgradeEngine::leave()
{
    m_state = State::Idle;
    m_pending.clear();
    m_pending.shrink_to_fit();
    m_size = 0;
    m_emptyBlockSeen = false;
    m_reloaded = false;
    m_readLength = m_readPos = 0;
}

UpgradeEngine::Reply UpgradeEngine::block(uint8_t command, const std::vector<uint8_t>& data)
{
    if (command == blockcmd::Exit) {
        leave();
        return ack(true);
    }
    if (isDataRequest(command) && m_state != State::Reading)
        return Reply{true, 0, {}};

    switch (command) {
    case blockcmd::Address: return onAddress(data);
    case blockcmd::Size: return onSize(data);
    case blockcmd::Data: return onData(data);
    case blockcmd::End: return onEnd();
    case blockcmd::Reload: return onReload(data);
    case blockcmd::ReadStart: return onReadStart(data);
    case blockcmd::ReadLength: {
        Reply r;
        r.data = true;
        appendU32BE(r.payload, m_readLength);
        return r;
    }
    case blockcmd::ReadBlock: return onReadBlock();
    case blockcmd::ReadEnd:
        if (m_state != State::Reading)
            return ack(false);
        m_state = State::Ready;
        return ack(true);
    default:
        return ack(false);
    }
}

UpgradeEngine::Reply UpgradeEngine::onAddress(const std::vector<uint8_t>& data)
{
    if ((m_state != State::Ready && m_state != State::Ended) || data.size() != 4)
        return ack(false);
    const uint32_t address = readU32BE(data.data());
    if (address >= FlashModel::kCapacity)
        return ack(false);
    m_address = address;
    m_size = 0;
    m_pending.clear();
    m_emptyBlockSeen = false;
    m_reloaded = false;
    m_state = State::AddressSet;
    return ack(true);
}

UpgradeEngine::Reply UpgradeEngine::onSize(const std::vector<uint8_t>& data)
{
    if (m_state != State::AddressSet || data.size() != 4)
        return ack(false);
    const uint32_t size = readU32BE(data.data());
    if (!FlashModel::inRange(m_address, size))
        return ack(false);
    m_size = size;
    m_pending.clear();
    m_pending.reserve(std::min<uint32_t>(size, 1u << 20));
    m_state = State::Receiving;
    return ack(true);
}

UpgradeEngine::Reply UpgradeEngine::onData(const std::vector<uint8_t>& data)
{
    if (m_state != State::Receiving || data.size() > kMaxBlockData)
        return ack(false);
    const size_t have = m_pending.size();
    if (data.empty()) {
        // A host that sends whole 1000-byte reads ends a file of a multiple of 1000
        // bytes with one empty block; allow exactly that one.
        if (have != m_size || m_emptyBlockSeen)
            return ack(false);
        m_emptyBlockSeen = true;
        return ack(true);
    }
    if (m_emptyBlockSeen || data.size() > m_size - have)
        return ack(false);
    m_pending.insert(m_pending.end(), data.begin(), data.end());
    ++m_dataBlocks;
    return ack(true);
}

UpgradeEngine::Reply UpgradeEngine::onEnd()
{
    if (m_state != State::Receiving || m_pending.size() != m_size)
        return ack(false);
    if (!m_pending.empty() && !m_flash.write(m_address, m_pending.data(), m_pending.size()))
        return ack(false);
    m_lastWrites[m_address] = m_size;
    m_lastCommitted = Transfer{true, m_address, m_size};
    ++m_commits;
    m_pending.clear();
    m_pending.shrink_to_fit();
    m_state = State::Ended;
    return ack(true);
}

UpgradeEngine::Reply UpgradeEngine::onReload(const std::vector<uint8_t>& data)
{
    if (m_state != State::Ended || m_reloaded || data.size() != 1 || data[0] != 1)
        return ack(false);
    m_reloaded = true;
    ++m_reloads;
    return ack(true);
}

UpgradeEngine::Reply UpgradeEngine::onReadStart(const std::vector<uint8_t>& data)
{
    if ((m_state != State::Ready && m_state != State::Ended) || data.size() != 1)
        return ack(false);
    const uint32_t address = selectorAddress(data[0]);
    if (address == 0xFFFFFFFFu)
        return ack(false);
    const Transfer last = lastWriteAt(address);
    m_readAddress = address;
    m_readLength = last.valid ? last.size : 0;
    m_readPos = 0;
    m_state = State::Reading;
    return ack(true);
}

UpgradeEngine::Reply UpgradeEngine::onReadBlock()
{
    Reply r;
    r.data = true;
    // Past the end the core has nothing to send: an empty payload, which the host
    // takes as a failed block request at once.
    const uint32_t left = m_readLength - m_readPos;
    const uint32_t n = std::min<uint32_t>(left, uint32_t(kMaxReplyPayload));
    if (n > 0) {
        r.payload = m_flash.read(m_readAddress + m_readPos, n);
        m_readPos += n;
    }
    return r;
}

bool UpgradeEngine::storeInternal(uint32_t address, const std::vector<uint8_t>& bytes)
{
    if (!FlashModel::inRange(address, bytes.size()))
        return false;
    if (!bytes.empty() && !m_flash.write(address, bytes.data(), bytes.size()))
        return false;
    m_lastWrites[address] = uint32_t(bytes.size());
    return true;
}

UpgradeEngine::Transfer UpgradeEngine::lastWriteAt(uint32_t address) const
{
    auto it = m_lastWrites.find(address);
    if (it == m_lastWrites.end())
        return Transfer{};
    return Transfer{true, address, it->second};
}

UpgradeEngine::Transfer UpgradeEngine::lastWrite(int selector) const
{
    const uint32_t address = selectorAddress(selector);
    if (address == 0xFFFFFFFFu)
        return Transfer{};
    return lastWriteAt(address);
}

} // namespace irsim
