#include "CFrameStore.h"

#include <cstring>
#include <new>

bool CFrameStore::allocate(size_t words)
{
    std::vector<uint16_t>().swap(m_buffers); // the old run goes before the new is made
    try {
        std::vector<uint16_t> buffers(words * (kMaxFrames + 1), 0);
        m_buffers.swap(buffers);
    } catch (const std::bad_alloc&) {
        m_buffers.clear();
        m_words = 0;
        m_list.clear();
        return false;
    }
    m_words = words;
    m_list.clear();
    return true;
}

bool CFrameStore::Append(const uint16_t* image, size_t words)
{
    if (!image || words == 0)
        return false;
    if (words != m_words) {
        // First image, or another core's frame size: start over at this size.
        if (!allocate(words))
            return false;
    }
    const int index = Count();
    if (index >= kMaxFrames)
        return false;
    uint16_t* slot = m_buffers.data() + size_t(index) * m_words;
    uint16_t* newest = m_buffers.data() + size_t(kMaxFrames) * m_words;
    std::memcpy(newest, image, words * sizeof(uint16_t));
    std::memcpy(slot, image, words * sizeof(uint16_t));
    m_list.push_back(slot);
    m_firstUse = false;
    return true;
}

void CFrameStore::Clear()
{
    m_list.clear();
}

const uint16_t* CFrameStore::Frame(int i) const
{
    return i >= 0 && i < Count() ? m_list[size_t(i)] : nullptr;
}

const uint16_t* CFrameStore::Newest() const
{
    return m_firstUse || m_buffers.empty() ? nullptr : m_buffers.data() + size_t(kMaxFrames) * m_words;
}
