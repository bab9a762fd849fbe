#pragma once

// The core's upgrade mode: the two registers that open it and the block commands of
// writing into and reading back from its flash.
namespace upgradecmd {

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

} // namespace upgradecmd
