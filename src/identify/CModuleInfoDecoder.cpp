#include "CModuleInfoDecoder.h"

int CModuleInfoDecoder::moduleRegister(int nDeviceForm)
{
    switch (nDeviceForm) {
    case 0: return 1;
    case 1: return 6;
    default: return -1;
    }
}

int CModuleInfoDecoder::moduleByteCount(int nDeviceForm)
{
    switch (nDeviceForm) {
    case 0: return 2;
    case 1: return kRawModuleBytes;
    default: return 0;
    }
}

bool CModuleInfoDecoder::decodeSensorType(int nRaw, int* pValue)
{
    int v;
    switch (nRaw) {
    case 0: v = 0; break;
    case 1: v = 1; break;
    case 2: v = 2; break;
    case 3: v = 4; break; // nibble 3 is the type-4 detector (ASCII sensor ID)
    case 5: v = 5; break;
    default: return false;
    }
    if (pValue)
        *pValue = v;
    return true;
}

bool CModuleInfoDecoder::decodeOutputType(int nRaw, int* pValue)
{
    int v;
    switch (nRaw) {
    case 2: v = 0; break;
    case 3: v = 1; break;
    default: return false;
    }
    if (pValue)
        *pValue = v;
    return true;
}

bool CModuleInfoDecoder::decodeFrameRate(int nRaw, float* pRate, int* pVariant)
{
    float rate;
    int variant;
    switch (nRaw) {
    case 0: rate = 25.0f; variant = 0; break;
    case 1: rate = 30.0f; variant = 0; break;
    case 2: rate = 50.0f; variant = 0; break;
    case 3: rate = 60.0f; variant = 0; break;
    case 5: rate = 25.0f; variant = 1; break;
    case 6: rate = 30.0f; variant = 1; break;
    case 7: rate = 50.0f; variant = 1; break;
    case 8: rate = 60.0f; variant = 1; break;
    case 9: rate = 8.3f; variant = 1; break;
    default: return false;
    }
    if (pRate)
        *pRate = rate;
    if (pVariant)
        *pVariant = variant;
    return true;
}

bool CModuleInfoDecoder::decodeResolution(int nRaw, int* pValue)
{
    int v;
    switch (nRaw) {
    case 1: v = 1; break;
    case 2: v = 2; break;
    case 3: v = 0; break;
    default: return false;
    }
    if (pValue)
        *pValue = v;
    return true;
}

bool CModuleInfoDecoder::decodeCoreFamily(int nRaw, int* pValue)
{
    if (nRaw < 0 || nRaw > 9)
        return false;
    if (pValue)
        *pValue = nRaw;
    return true;
}

QString CModuleInfoDecoder::moduleInfoText(const unsigned char raw[kRawModuleBytes], int nDeviceForm)
{
    QString text;
    const int n = moduleByteCount(nDeviceForm);
    for (int i = 0; i < n; ++i)
        text += QString::asprintf("%02x", unsigned(raw[i]));
    return text;
}

void CModuleInfoDecoder::decodeModule(const unsigned char raw[kRawModuleBytes], int nDeviceForm,
                                      ModuleFields* fields)
{
    if (!fields || (nDeviceForm != 0 && nDeviceForm != 1))
        return;
    fields->moduleInfo = moduleInfoText(raw, nDeviceForm);
    // Form 1 puts the core family in front; the nibble bytes follow.
    const int first = nDeviceForm == 1 ? 1 : 0;
    if (nDeviceForm == 1)
        decodeCoreFamily(raw[0], &fields->coreFamily);
    const unsigned typeByte = raw[first];
    const unsigned rateByte = raw[first + 1];
    decodeSensorType(int(typeByte >> 4), &fields->sensorTypeCode);
    decodeOutputType(int(typeByte & 0x0F), &fields->outputType);
    decodeFrameRate(int(rateByte >> 4), &fields->frameRate, &fields->frameRateVariant);
    decodeResolution(int(rateByte & 0x0F), &fields->resolutionIndex);
    fields->coreClass = coreClassOf(raw);
}

int CModuleInfoDecoder::coreClassOf(const unsigned char raw[kRawModuleBytes])
{
    const unsigned b0 = raw[0], b1 = raw[1], b2 = raw[2], b3 = raw[3], b4 = raw[4];
    if (b1 != 0x22)
        return 0;
    if (b0 == 0x03) {
        if (b2 == 0x71 && b3 == 1 && b4 >= 1 && b4 <= 10)
            return 3;
        if ((b2 == 0x51 || b2 == 0x71) && b3 == 2 && b4 >= 16 && b4 <= 31)
            return 4;
    } else if (b0 == 0x0A) {
        if (b2 == 0x51 && b3 == 1 && b4 >= 1 && b4 <= 15)
            return 1;
        if ((b2 == 0x51 || b2 == 0x71) && b3 == 2 && b4 <= 15)
            return 2;
    }
    return 0;
}

QSize CModuleInfoDecoder::frameSizeOf(int nResolutionIndex)
{
    switch (nResolutionIndex) {
    case 0: return QSize(160, 120);
    case 1: return QSize(384, 288);
    case 2: return QSize(640, 512);
    default: return QSize(0, 0);
    }
}

QString CModuleInfoDecoder::sensorIdFromWords(unsigned nHigh, unsigned nLow, int nSensorTypeCode)
{
    QString text = QString::asprintf("%x", nHigh) + QString::asprintf("%08x", nLow);
    // The core pads unused digits with "f": the ID ends before the first one.
    const int cut = text.indexOf(QLatin1Char('f'));
    if (cut >= 0)
        text.truncate(cut);
    if (nSensorTypeCode == 4)
        text = pairwiseDecode(text);
    return text;
}

QString CModuleInfoDecoder::pairwiseDecode(const QString& strHex)
{
    QString out;
    for (int i = 0; i + 1 < strHex.size(); i += 2) {
        bool ok = false;
        const int code = strHex.mid(i, 2).toInt(&ok, 16);
        if (!ok || code == 0)
            break;
        out += QChar(code);
    }
    return out;
}

QString CModuleInfoDecoder::textFromBytes(const char* pData, int nLen)
{
    if (!pData || nLen <= 0)
        return QString();
    const QByteArray bytes(pData, nLen);
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul >= 0 ? bytes.left(nul) : bytes);
}

QString CModuleInfoDecoder::versionTriple(unsigned nValue)
{
    return QString::asprintf("%x.%x.%x", (nValue >> 16) & 0xFF, (nValue >> 8) & 0xFF, nValue & 0xFF);
}

QString CModuleInfoDecoder::versionHex(unsigned nValue)
{
    return QString::asprintf("%x", nValue);
}

QString CModuleInfoDecoder::serialFromValue(unsigned long long nValue)
{
    return QString::asprintf("%llx", nValue);
}

QStringList CModuleInfoDecoder::defaultVersions()
{
    return {"0.0.0", "20170101", "0.0.0", "20170101", "20170101", "20170101"};
}
