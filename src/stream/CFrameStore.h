#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The capture store: a run of up to 128 consecutive images in order, and the newest
// captured image apart. The 129 buffers are allocated once, at the size of the first
// image appended; an image of another size makes the store start over at that size.
// Not locked: its owner (CFindFrame) guards it with the frame lock.
class CFrameStore {
public:
    static constexpr int kMaxFrames = 128;

    CFrameStore() = default;

    // Appends one image of `words` pixels. False (nothing stored) when the run is full
    // or the buffers cannot be allocated.
    bool Append(const uint16_t* image, size_t words);
    // Empties the run (buffers are kept).
    void Clear();

    int Count() const { return int(m_list.size()); }
    size_t ImageWords() const { return m_words; }
    bool IsFirstUse() const { return m_firstUse; }
    // Image `i` of the run (0 .. Count() - 1), null outside.
    const uint16_t* Frame(int i) const;
    // The newest captured image, null before the first append.
    const uint16_t* Newest() const;

private:
    bool allocate(size_t words);

    std::vector<uint16_t> m_buffers; // 129 images back to back; the last is the newest
    size_t m_words = 0;
    std::vector<const uint16_t*> m_list;
    bool m_firstUse = true;
};
