#include "CWriteFileTypes.h"

namespace {

// Laid out by type, six entries each; 0 marks "no area" as in the core's own table.
const uint32_t kAddressTable[CWriteFileTypes::kTypeCount * CWriteFileTypes::kAreasPerType] = {
    0, 0, 0, 0, 0, 0,                                               // OCC: all four areas
    0x1428000, 0x142A000, 0, 0, 0, 0,                               // ISP
    0x000000, 0x400000, 0x800000, 0x300000, 0x700000, 0xB00000,     // FPGA
    0x1430000, 0x14E0000, 0x1590000, 0x1640000, 0x16F0000, 0x17A0000, // TEC frames
};

} // namespace

QStringList CWriteFileTypes::typeCaptions()
{
    return {QStringLiteral("Occ文件"), QStringLiteral("ISP文件"), QStringLiteral("FPGA文件"),
            QStringLiteral("TEC渐变帧")};
}

QString CWriteFileTypes::filter(int nType)
{
    switch (nType) {
    case TypeOcc: return QStringLiteral("OCC文件(*.dat);;全部文件(*.*)");
    case TypeIsp: return QStringLiteral("ISP文件(*.dat);;全部文件(*.*)");
    case TypeFpga: return QStringLiteral("FPGA文件(*.bin);;全部文件(*.*)");
    case TypeTec: return QStringLiteral("TEC渐变帧(*.bin);;全部文件(*.*)");
    default: return QStringLiteral("全部文件(*.*)");
    }
}

QStringList CWriteFileTypes::areaCaptions(int nType)
{
    switch (nType) {
    case TypeIsp: return {QStringLiteral("出厂"), QStringLiteral("初始化")};
    case TypeFpga:
        return {QStringLiteral("Logic 0"), QStringLiteral("Logic 1"), QStringLiteral("Logic 2"),
                QStringLiteral("NOIS  0"), QStringLiteral("NOIS  1"), QStringLiteral("NOIS  2")};
    case TypeTec:
        return {QStringLiteral("第一帧"), QStringLiteral("第二帧"), QStringLiteral("第三帧"),
                QStringLiteral("第四帧"), QStringLiteral("第五帧"), QStringLiteral("第六帧")};
    default: return {};
    }
}

uint32_t CWriteFileTypes::address(int nType, int nArea)
{
    if (nType < 0 || nType >= kTypeCount || nArea < 0 || nArea >= areaCaptions(nType).size())
        return kNoAddress;
    return kAddressTable[nType * kAreasPerType + nArea];
}

QVector<uint32_t> CWriteFileTypes::occAddresses()
{
    return {0x1000000, 0x1100000, 0x1200000, 0x1300000};
}

int CWriteFileTypes::datValueBytes(int nType)
{
    switch (nType) {
    case TypeOcc: return 2;
    case TypeIsp: return 4;
    default: return 0;
    }
}
