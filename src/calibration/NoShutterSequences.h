#pragma once

#include "TransferContext.h"

#include <QString>

#include <cstdint>

class CFindFrame;

// Blocking steps of the calibration page's box "本底写入": the no-shutter base, the
// NVFFC model and the file sender. They run off the GUI thread (device runner, CLI,
// tests); every flash write goes through the one upgrade-mode writer, which refuses a
// file that does not fit its slot before upgrade mode is entered.

constexpr int kBaseCount = 20;
constexpr int kBaseFrames = 16;
constexpr int kNvffcFrames = 64;

// Registers of the no-shutter workflow.
constexpr int kNvffcPrepareRegister = 0x2001; // 0 before the host's own capture
constexpr int kLidCorrectionRegister = 0x70C6; // 0: the core stops its lid correction
constexpr int kNvffcCoreRegister = 0xF026;    // the core's own NVFFC, TEC index + 1
constexpr int kNvffcLoadRegister = 0xF042;    // 0: take the new model

// Base "本底<b>" of combo index 0..19 (b = index + 1) lies at 0x1B00000 + index x 0x36000.
uint32_t baseAddress(int index);
// NVFFC model of TEC index 0..3: 0x1430000, 0x14E0000, 0x1590000 (TEC3 and TEC4 share).
uint32_t nvffcAddress(int tecIndex);

// Kinds of the file sender's combo; index 4 of the first list is "自定义".
enum SendFileKind { SendNucFile = 0, SendPixelTable = 1, SendBaseFile = 2, SendOtherFile = 3 };
constexpr int kCustomAddressIndex = 4;
// The target address of a send. The hexadecimal text serves kind 3 and "自定义";
// empty or not hexadecimal, `why` gets the warning and nothing may be sent (address 0
// is the FPGA image "Logic 0").
bool sendFileAddress(int kind, int index, const QString& hexText, uint32_t* address, QString* why);

// Captures 16 frames into `framesDir` ("noshutter/<b>"), averages them into `basePath`
// ("noshutter/base<b>.bin") and writes that into base slot `index`. Each failure is
// told; false unless the base is in flash.
struct BaseJob {
    CFindFrame* frames = nullptr;
    int index = 0;
    QString framesDir;
    QString basePath;
};
struct CaptureSize {
    int width = 0;
    int height = 0;
};
bool runBaseSequence(TransferContext& ctx, const BaseJob& job, CaptureSize* size = nullptr);

// Modes 0/1: 0x2001 = 0 and 0x70C6 = 0, 64 frames, the mean-free model
// ("nvffc_mod_dbg.bin"), its smoothing and block scale ("nvffc_mod<n>.bin", n = TEC
// index + 1), the write into the TEC's model area, 0xF042 = 0. 0x70C6 goes back to 1
// on every way out once it was set to 0.
struct NvffcJob {
    CFindFrame* frames = nullptr;
    int tecIndex = 0;
    QString dir; // NVFFC folder of the core
};
enum class NvffcOutcome { Written, Flat, Failed };
NvffcOutcome runNvffcSequence(TransferContext& ctx, const NvffcJob& job, CaptureSize* size = nullptr);
QString nvffcModelPath(const QString& dir, int tecIndex);
QString nvffcDebugPath(const QString& dir);

// Mode 2: the core's own NVFFC of TEC index `tecIndex` and its completion reply.
bool runCoreNvffc(TransferContext& ctx, int tecIndex);

// Sends a local file to `address`; "写入数据完毕" on success.
bool runSendFile(TransferContext& ctx, uint32_t address, const QString& path);
