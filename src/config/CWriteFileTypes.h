#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

// The file types of the configuration page's "文件写入" group, their browse filters
// and the flash areas each may go to.
class CWriteFileTypes {
public:
    enum Type { TypeOcc = 0, TypeIsp = 1, TypeFpga = 2, TypeTec = 3 };
    static constexpr int kTypeCount = 4;
    static constexpr int kAreasPerType = 6;
    static constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

    static QStringList typeCaptions();
    static QString filter(int nType);
    // Empty for OCC files, which go to all four OCC areas.
    static QStringList areaCaptions(int nType);
    // Start address of area nArea of type nType (entry nType x 6 + nArea of the
    // 24-entry table); kNoAddress for an entry that has no area.
    static uint32_t address(int nType, int nArea);
    static QVector<uint32_t> occAddresses();
    // Bytes per value when a ".dat" text table of this type is converted to binary;
    // 0: the type is never converted (FPGA images and TEC frames are binary).
    static int datValueBytes(int nType);
};
