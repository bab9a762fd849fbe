#pragma once

// Register addresses and block command bytes of the core that more than one file
// uses. A value a single file needs stays there, named where it is used.
namespace corecmd {

// Upgrade mode: the two registers that open it, then the block commands of writing
// into and reading back from the flash.
constexpr int kEnterRegister = 0xF0E0;
constexpr int kConfirmRegister = 0xF0E1;
constexpr int kCmdAddress = 0xE3;
constexpr int kCmdSize = 0xE4;
constexpr int kCmdEnd = 0xE5;
constexpr int kCmdExit = 0xE6;
constexpr int kCmdReadStart = 0xE8;
constexpr int kCmdReadLength = 0xE9;
constexpr int kCmdReadBlock = 0xEA;
constexpr int kCmdReadEnd = 0xEB;
constexpr int kCmdReload = 0xEC;
constexpr int kCmdData = 0xEE;

// The host is going: a networked camera resets its serial channel.
constexpr int kCloseRegister = 0xF018;
constexpr int kCloseValue = 5;

// Long commands: the core answers only when its work is done (600-poll budget).
constexpr int kOneKeyConfigRegister = 0xF021;
constexpr int kAutoCorrectionRegister = 0xF029;

// The core's own calibration: one-key 0xF023 (1 low, 2 high, 3..6 gains of TEC 1..4)
// and 0xF03D (0xD3 its own bad-pixel detection; the cursor uses it too).
constexpr int kOneKeyRegister = 0xF023;
constexpr int kBadPixelRegister = 0xF03D;
constexpr int kBadPixelDetectValue = 0xD3;

} // namespace corecmd
