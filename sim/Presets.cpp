#include "Presets.h"

#include <cstdio>

namespace irsim {

namespace {

std::vector<uint8_t> bytesOf(const char* text, size_t len)
{
    return std::vector<uint8_t>(text, text + len);
}

Identity make(const char* name, const char* description, std::initializer_list<uint8_t> module,
              int sensorType, int coreClass, int width, int height)
{
    Identity id;
    id.name = name;
    id.description = description;
    size_t i = 0;
    for (uint8_t b : module)
        if (i < 5)
            id.module[i++] = b;
    id.sensorType = sensorType;
    id.coreClass = coreClass;
    id.width = width;
    id.height = height;
    return id;
}

// Module byte 1: raw sensor type nibble (3 stands for type code 4) and output type
// nibble 2. Module byte 2: frame-rate nibble and resolution nibble (1 = 384x288,
// 2 = 640x512, 3 = 160x120).
std::vector<Identity> buildPresets()
{
    std::vector<Identity> list;

    // Sensor-ID words: the host prints the high word unpadded and the low word padded
    // to 8 digits and cuts the text at the first "f", so 0xF padding ends the ID.
    Identity d = make("default", "sensor type 1, 640x512 at 50 Hz, core class 0 (form-0 bytes 10 22)",
                      {0x01, 0x10, 0x22, 0x00, 0x00}, 1, 0, 640, 512);
    d.sensorIdHigh = 0x2024;
    d.sensorIdLow = 0x0815FFFF; // "20240815"
    d.serialNumber = 0x2024A001;
    list.push_back(d);

    Identity t0 = make("type0", "sensor type 0, 384x288 at 50 Hz",
                       {0x01, 0x02, 0x21, 0x00, 0x00}, 0, 0, 384, 288);
    t0.sensorIdHigh = 0xA0;
    t0.sensorIdLow = 0x00012345; // "a000012345"
    t0.serialNumber = 0x10000007;
    list.push_back(t0);

    Identity t2 = make("type2", "sensor type 2, 160x120 at 30 Hz",
                       {0x01, 0x22, 0x13, 0x00, 0x00}, 2, 0, 160, 120);
    t2.sensorIdHigh = 0x7;
    t2.sensorIdLow = 0x77A0BFFF; // "777a0b"
    t2.serialNumber = 0x20000042;
    list.push_back(t2);

    // Type 4 spells its ID in ASCII, two hex digits per character: "IRB0123".
    Identity t4 = make("type4", "sensor type 4 (ASCII sensor ID IRB0123), 640x512 at 50 Hz",
                       {0x01, 0x32, 0x22, 0x00, 0x00}, 4, 0, 640, 512);
    t4.sensorIdHigh = 0x495242;   // "IRB"
    t4.sensorIdLow = 0x30313233;  // "0123"
    t4.serialNumber = 0x40000004;
    list.push_back(t4);

    // Type 5 answers its sensor ID and serial number as raw bytes, four of them: a
    // register reply carries four payload bytes.
    Identity t5 = make("type5", "sensor type 5 (raw sensor ID S5A1, serial K5A1), 640x512 at 50 Hz",
                       {0x01, 0x52, 0x22, 0x00, 0x00}, 5, 0, 640, 512);
    t5.rawSensorId = bytesOf("S5A1", 4);
    t5.rawSerial = bytesOf("K5A1", 4);
    list.push_back(t5);

    // One core per detector vendor, named by the configuration page its sensor type
    // code opens (0 GWIC, 1 IRAY, 2 PICO, 4 DALI, 5 WY), and one whose type nibble
    // (7) is not a known code: the host keeps its unknown code 7 and opens GWIC.
    Identity gw = make("gwic", "GWIC detector: sensor type 0, 640x512 at 50 Hz",
                       {0x01, 0x02, 0x22, 0x00, 0x00}, 0, 0, 640, 512);
    gw.sensorIdHigh = 0x61;
    gw.sensorIdLow = 0x00000100; // "6100000100"
    gw.serialNumber = 0x60000000;
    list.push_back(gw);
    Identity ir = make("iray", "IRAY detector: sensor type 1, 640x512 at 50 Hz",
                       {0x01, 0x12, 0x22, 0x00, 0x00}, 1, 0, 640, 512);
    ir.sensorIdHigh = 0x62;
    ir.sensorIdLow = 0x00000101;
    ir.serialNumber = 0x60000001;
    list.push_back(ir);
    Identity pi = make("pico", "PICO detector: sensor type 2, 384x288 at 50 Hz",
                       {0x01, 0x22, 0x21, 0x00, 0x00}, 2, 0, 384, 288);
    pi.sensorIdHigh = 0x63;
    pi.sensorIdLow = 0x00000102;
    pi.serialNumber = 0x60000002;
    list.push_back(pi);
    Identity da = make("dali", "DALI detector: sensor type 4 (ASCII sensor ID DL0424), 640x512 at 50 Hz",
                       {0x01, 0x32, 0x22, 0x00, 0x00}, 4, 0, 640, 512);
    da.sensorIdHigh = 0x444C;    // "DL"
    da.sensorIdLow = 0x30343234; // "0424"
    da.serialNumber = 0x60000004;
    list.push_back(da);
    Identity wy = make("wy", "WY detector: sensor type 5 (raw sensor ID WY05, serial W5SN), 640x512 at 50 Hz",
                       {0x01, 0x52, 0x22, 0x00, 0x00}, 5, 0, 640, 512);
    wy.rawSensorId = bytesOf("WY05", 4);
    wy.rawSerial = bytesOf("W5SN", 4);
    list.push_back(wy);
    Identity t7 = make("type7", "unknown sensor type nibble 7 (host: code 7, GWIC page), 640x512 at 50 Hz",
                       {0x01, 0x72, 0x22, 0x00, 0x00}, 7, 0, 640, 512);
    t7.sensorIdHigh = 0x77;
    t7.sensorIdLow = 0x00000107;
    t7.serialNumber = 0x60000007;
    list.push_back(t7);

    // Device-supplied text that must never reach a file name unsanitised.
    Identity h = make("hostile", "sensor type 5 with \"/\", \"..\" and control bytes in sensor ID and serial",
                      {0x01, 0x52, 0x22, 0x00, 0x00}, 5, 0, 640, 512);
    h.rawSensorId = bytesOf("../\x1b", 4);
    h.rawSerial = bytesOf("..\x01/", 4);
    list.push_back(h);

    // Core classes follow from the five form-1 bytes.
    Identity c0 = make("class0", "core family 5, sensor type 1, 640x512: core class 0",
                       {0x05, 0x10, 0x22, 0x00, 0x00}, 1, 0, 640, 512);
    c0.sensorIdHigh = 0x5005;
    c0.sensorIdLow = 0x00000001;
    c0.serialNumber = 0x50000000;
    list.push_back(c0);
    struct ClassDef { const char* name; const char* text; uint8_t b[5]; int cls; };
    const ClassDef classes[] = {
        {"class1", "core family 0x0A, 384x288 at 25 Hz (variant): core class 1", {0x0A, 0x22, 0x51, 0x01, 0x05}, 1},
        {"class2", "core family 0x0A, 384x288 at 50 Hz (variant): core class 2", {0x0A, 0x22, 0x71, 0x02, 0x03}, 2},
        {"class3", "core family 3, 384x288 at 50 Hz (variant): core class 3", {0x03, 0x22, 0x71, 0x01, 0x04}, 3},
        {"class4", "core family 3, 384x288 at 25 Hz (variant): core class 4", {0x03, 0x22, 0x51, 0x02, 0x12}, 4},
    };
    for (const ClassDef& c : classes) {
        Identity id = make(c.name, c.text, {c.b[0], c.b[1], c.b[2], c.b[3], c.b[4]}, 2, c.cls, 384, 288);
        id.sensorIdHigh = 0xC0 + uint32_t(c.cls);
        id.sensorIdLow = 0x00100000 + uint32_t(c.cls);
        id.serialNumber = 0xC0000000 + uint32_t(c.cls);
        list.push_back(id);
    }

    struct ResDef { const char* name; const char* text; uint8_t nibble; int w; int h; };
    const ResDef resolutions[] = {
        {"res160", "sensor type 1, 160x120 at 50 Hz", 0x3, 160, 120},
        {"res384", "sensor type 1, 384x288 at 50 Hz", 0x1, 384, 288},
        {"res640", "sensor type 1, 640x512 at 50 Hz", 0x2, 640, 512},
    };
    for (const ResDef& r : resolutions) {
        Identity id = make(r.name, r.text, {0x01, 0x10, uint8_t(0x20 | r.nibble), 0x00, 0x00}, 1, 0, r.w, r.h);
        id.sensorIdHigh = uint32_t(r.w);
        id.sensorIdLow = uint32_t(r.h);
        id.serialNumber = 0x30000000 + uint32_t(r.w);
        list.push_back(id);
    }
    // Drift benches at 160x120, the one size whose coefficient files fit the core's slots.
    Identity dr4 = make("drift4", "sensor type 4, core class 0, 160x120, FPA in hundredths, per-pixel drift",
                        {0x01, 0x32, 0x23, 0x00, 0x00}, 4, 0, 160, 120);
    dr4.sensorIdHigh = 0x4452;    // "DR", type 4 spells its ID in ASCII pairs
    dr4.sensorIdLow = 0x34313630; // "4160"
    dr4.serialNumber = 0xD4000160;
    dr4.fpaHundredths = dr4.driftModel = true;
    list.push_back(dr4);
    Identity dr1 = make("drift1", "sensor type 1, core class 0, 160x120, per-pixel drift",
                        {0x01, 0x12, 0x23, 0x00, 0x00}, 1, 0, 160, 120);
    dr1.sensorIdHigh = 0xD1;
    dr1.sensorIdLow = 0x00000160;
    dr1.serialNumber = 0xD1000160;
    dr1.driftModel = true;
    list.push_back(dr1);
    return list;
}

} // namespace

const std::vector<Identity>& identityPresets()
{
    static const std::vector<Identity> presets = buildPresets();
    return presets;
}

const Identity* findPreset(const std::string& name)
{
    for (const Identity& id : identityPresets())
        if (id.name == name)
            return &id;
    return nullptr;
}

std::string presetListing()
{
    std::string out;
    for (const Identity& id : identityPresets()) {
        char line[256];
        std::snprintf(line, sizeof line, "%-10s %s\n", id.name.c_str(), id.description.c_str());
        out += line;
    }
    return out;
}

} // namespace irsim
