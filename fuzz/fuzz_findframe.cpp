// The frame buffer takes whatever the network delivers. The input is a script of
// chunks: each step is one control byte and a 16-bit length; the control byte chooses
// raw bytes from the input, a well-formed packet (geometry and CRC from the input,
// possibly damaged) or a query of what was assembled, under a core layout that may
// contradict the stream.
#include "CFindFrame.h"
#include "StreamPacket.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Reader {
    const uint8_t* p;
    size_t n;
    uint8_t byte() { return n ? (--n, *p++) : 0; }
    uint16_t word() { return uint16_t(byte() | (byte() << 8)); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CFindFrame* ff = [] {
        auto* f = new CFindFrame;
        f->SetAddInfoSink({});
        return f;
    }();
    Reader in{data, size};
    const int cls = in.byte() % 6;
    const int coreW = in.word() % 700, coreH = in.word() % 600;
    ff->SetLayoutProvider([=] { return AddInfoLayout{cls, cls, coreW, coreH}; });
    std::vector<uint8_t> chunk;
    while (in.n > 0) {
        const uint8_t op = in.byte();
        const size_t len = in.word();
        switch (op % 4) {
        case 0: { // raw bytes
            const size_t take = len < in.n ? len : in.n;
            ff->InputData(in.p, int(take));
            in.p += take;
            in.n -= take;
            break;
        }
        case 1: { // a packet, maybe damaged, cut in two
            const uint32_t w = 1 + in.byte() % 64, h = 1 + in.byte() % 40;
            std::vector<uint16_t> frame(size_t(w) * h);
            for (auto& v : frame)
                v = in.word();
            chunk.clear();
            streampacket::BuildOptions o;
            o.withCrc = op & 0x10;
            o.corruptCrc = op & 0x20;
            streampacket::appendPacket(chunk, frame.data(), w, h, o);
            if (op & 0x40)
                chunk[len % chunk.size()] ^= uint8_t(1 + (op >> 7));
            const size_t cut = len % (chunk.size() + 1);
            ff->InputData(chunk.data(), int(cut));
            ff->InputData(chunk.data() + cut, int(chunk.size() - cut));
            break;
        }
        case 2: { // a header whose tags say anything
            chunk.assign(streampacket::kHeaderBytes + (len & 0x3FF), 0);
            const uint32_t m1 = streampacket::kMagic1, m2 = streampacket::kMagic2;
            std::memcpy(chunk.data(), &m1, 4);
            std::memcpy(chunk.data() + 4, &m2, 4);
            for (size_t i = 8; i < streampacket::kHeaderBytes && in.n; ++i)
                chunk[i] = in.byte();
            ff->InputData(chunk.data(), int(chunk.size()));
            break;
        }
        default: { // readers
            std::vector<uint16_t> img;
            int w = 0, h = 0;
            if (ff->GetFrame(&img, &w, &h) && img.size() != size_t(w) * size_t(h))
                __builtin_trap();
            int sums[25] = {};
            int mx = 0, mn = 0;
            ff->SetCrossPoint(QPoint(int(int16_t(len)), int(int16_t(in.word()))));
            ff->AccumulateCross(sums, &mx, &mn);
            FrameAddInfo info;
            ff->GetFrameAddInfoEx(&info, op & 1);
            uint16_t px;
            ff->GetPixel(int(len % 80), int(in.byte() % 50), &px);
            break;
        }
        }
    }
    return 0;
}
