#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

// The upgrade-mode routine with numeric codes: the one writer (UpgradeWriter.h) over
// bytes in memory, without the final empty block, telling nobody. Failures are kept as
// a process-wide last error (-1 .. -11) with a text for it, progress goes out as
// signalFileHasWriteBlocks. Also the flash map: regions and area bounds.
class ModuleInteract : public QObject {
    Q_OBJECT
public:
    enum ErrorCode {
        ErrNone = 0,
        ErrEnter = -1,
        ErrConfirm = -2,
        ErrExit = -3,
        ErrAddress = -4,
        ErrSize = -5,
        ErrBlock = -6,
        ErrEnd = -7,
        ErrReload = -8,
        ErrTooLarge = -9,   // the data would run into the next flash area
        ErrBadRegion = -10, // no such target region
        ErrSource = -11,    // the bytes to write could not be read (file missing, empty, short)
    };
    // Progress of the current sequence; informational only.
    enum StepState {
        StateIdle = 0,
        StateEntered = 1,
        StateConfirmed = 2,
        StateAddressSent = 3,
        StateSizeSent = 4,
        StateBlockWritten = 5,
        StateEndSent = 6,
        StateReloadSent = 7,
    };

    static constexpr int kBlockSize = 1000;
    static constexpr uint32_t kFlashEnd = 0x2000000; // 32 MiB
    static constexpr uint32_t kInvalidAddress = 0xFFFFFFFFu;

    static ModuleInteract* instance();

    static QString errorText(int code);
    // kind 0: gain tables TEC1..TEC4 (index 0..3); kind 1: bad-pixel table (index
    // ignored); kind 2: no-shutter base (index 0..19). kInvalidAddress otherwise.
    static uint32_t regionAddress(int index, int kind);
    // Where the flash area that holds `address` ends: the start of the next known
    // area above it, or the end of flash.
    static uint32_t areaEnd(uint32_t address);
    static bool fitsArea(uint32_t address, qint64 size);

    bool enterUpgradeMode();
    bool exitUpgradeMode();
    // skip != 0: nothing is sent and the result is false.
    bool beginUpgrade(int skip);
    // mode 1 adds the reload step; region selects a gain-table area (kind 0).
    bool writeFileBlocks(int mode, const unsigned char* data, int size, int region);
    // The same sequence to any start address.
    bool writeBlocksAt(uint32_t address, int mode, const unsigned char* data, int size);

    int state() const;
    int lastError() const;
    QString lastErrorText() const;

signals:
    // 0 once the size is acknowledged, then (blocks written) x 100 / blocks.
    void signalFileHasWriteBlocks(int percent);

private:
    ModuleInteract();
};
