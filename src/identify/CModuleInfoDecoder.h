#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

// What the module-information block tells about a core. Fields keep their previous
// value when the core answers a code the tables do not know.
struct ModuleFields {
    QString moduleInfo;          // raw bytes as lowercase hex
    int sensorTypeCode = 7;
    int outputType = 0;
    float frameRate = 0.f;
    int frameRateVariant = 0;
    int coreFamily = 0;
    int resolutionIndex = 1;
    int coreClass = 0;
};

// Pure decoding of the identification replies: nibble tables, core-class rules,
// frame size, sensor-ID and serial-number texts, version texts.
class CModuleInfoDecoder {
public:
    static constexpr int kRawModuleBytes = 5;

    // Device forms 0 and 1 read the block from short register 1 / 6 (2 / 5 bytes
    // used); forms 2 and 3 have no block: register -1, 0 bytes.
    static int moduleRegister(int nDeviceForm);
    static int moduleByteCount(int nDeviceForm);

    // Table lookups: false (and *pValue untouched) for codes outside the table.
    static bool decodeSensorType(int nRaw, int* pValue);
    static bool decodeOutputType(int nRaw, int* pValue);
    static bool decodeFrameRate(int nRaw, float* pRate, int* pVariant);
    static bool decodeResolution(int nRaw, int* pValue);
    static bool decodeCoreFamily(int nRaw, int* pValue);

    // Decodes a module-information reply of the given device form into `fields`
    // (text, nibbles, core class). Forms other than 0 and 1 change nothing.
    static void decodeModule(const unsigned char raw[kRawModuleBytes], int nDeviceForm, ModuleFields* fields);
    static QString moduleInfoText(const unsigned char raw[kRawModuleBytes], int nDeviceForm);

    // Core class 0..4 from the five raw bytes (bytes not received are 0).
    static int coreClassOf(const unsigned char raw[kRawModuleBytes]);
    static bool isClass3or4(int nClass) { return nClass == 3 || nClass == 4; }
    static bool isClass1or2(int nClass) { return nClass == 1 || nClass == 2; }

    // 0: 160 x 120, 1: 384 x 288, 2: 640 x 512, anything else 0 x 0.
    static QSize frameSizeOf(int nResolutionIndex);

    // Sensor ID from the two register words: first word unpadded hex, second padded
    // to eight digits, cut before the first "f"; sensor type 4 spells ASCII codes.
    static QString sensorIdFromWords(unsigned nHigh, unsigned nLow, int nSensorTypeCode);
    // Every two hex digits become one character; stops at a "00" pair (the ID's end)
    // and ignores a lone trailing digit.
    static QString pairwiseDecode(const QString& strHex);
    // Raw reply bytes as text, up to the first NUL.
    static QString textFromBytes(const char* pData, int nLen);

    // "%x.%x.%x" of bits 23-16, 15-8, 7-0; "%x"; "%llx".
    static QString versionTriple(unsigned nValue);
    static QString versionHex(unsigned nValue);
    static QString serialFromValue(unsigned long long nValue);

    // Six version texts before any read.
    static QStringList defaultVersions();
};
