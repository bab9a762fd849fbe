#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace irsim {

// What a core tells about itself when it is identified: the module-information bytes,
// the sensor ID, the serial number and the version words.
struct Identity {
    std::string name;
    std::string description;

    // The five module bytes of device form 1: core family, sensor type / output type
    // nibbles, frame-rate / resolution nibbles, two class bytes. Device form 0 answers
    // bytes 1 and 2 of these (short register 1).
    uint8_t module[5] = {0, 0, 0, 0, 0};

    // Sensor-ID words (registers 0xF0E3 / 0xF0E4).
    uint32_t sensorIdHigh = 0;
    uint32_t sensorIdLow = 0;
    // Sensor type 5 answers raw bytes instead (at most 6, the width of one reply).
    std::vector<uint8_t> rawSensorId;

    uint32_t softwareVersion = 0x010203; // 0xF031, shown as 1.2.3
    uint32_t softwareDate = 0x20241105;  // 0xF032
    uint32_t fpgaVersion = 0x020001;     // 0xF033
    uint32_t fpgaDate = 0x20240920;      // 0xF034
    uint32_t processDate = 0x20240301;   // short 14
    uint32_t hardwareDate = 0x20231212;  // short 15

    uint32_t serialNumber = 0; // short 132, four bytes
    std::vector<uint8_t> rawSerial; // sensor type 5: raw bytes instead

    // What the bytes above are meant to decode to (listed by --list-presets and
    // checked by the tests).
    int sensorType = 1;
    int coreClass = 0;
    int width = 640;
    int height = 512;
    // Drift benches: the add-info FPA in hundredths whatever the type code, and each
    // pixel's offset following a known polynomial of the FPA (DriftSim.h).
    bool fpaHundredths = false;
    bool driftModel = false;

    // Bytes of device form 0 (short register 1).
    std::vector<uint8_t> form0Bytes() const { return {module[1], module[2]}; }
    std::vector<uint8_t> form1Bytes() const { return {module, module + 5}; }
};

constexpr size_t kMaxRawIdBytes = 6;

const std::vector<Identity>& identityPresets();
// Null when no preset has that name.
const Identity* findPreset(const std::string& name);
// One line per preset: name, padding, description.
std::string presetListing();

} // namespace irsim
