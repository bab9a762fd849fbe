#include "TempDriftData.h"

#include "CComonFun.h"
#include "UpgradeWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace tempdrift {

namespace {

QByteArray int16Bytes(const std::vector<int16_t>& values)
{
    QByteArray out(int(values.size() * 2), '\0');
    qToLittleEndian<int16_t>(values.data(), qsizetype(values.size()), out.data());
    return out;
}

QString hex(uint32_t a)
{
    return QStringLiteral("0x") + QString::number(a, 16).toUpper();
}

// The frame-mean curve of one segment: the same least squares over the samples'
// frame means, sampled densely between the segment's first and last temperature.
std::vector<std::pair<double, double>> meanCurve(const std::vector<float>& temps, const std::vector<double>& means,
                                                 const driftfit::Segment& seg, int terms, int type)
{
    std::vector<std::pair<double, double>> curve;
    if (seg.size() <= 0)
        return curve;
    const driftfit::SegmentAxis axis = driftfit::segmentAxis(temps.data() + seg.begin, seg.size(), type);
    const driftfit::FitOperator op = driftfit::makeOperator(axis.x, terms);
    if (op.rows == 0 || (type == 3 && !(axis.deviation > 0)))
        return curve;
    std::vector<double> c(size_t(terms), 0.0);
    for (int k = 0; k < terms; ++k)
        for (int i = 0; i < op.rows; ++i)
            c[size_t(k)] += op.pinv[size_t(k) * size_t(op.rows) + size_t(i)] * means[size_t(seg.begin + i)];
    const double t0 = temps[size_t(seg.begin)];
    const double t1 = temps[size_t(seg.end - 1)];
    constexpr int kPoints = 40;
    for (int p = 0; p <= kPoints; ++p) {
        const double t = t0 + (t1 - t0) * p / kPoints;
        const double x = type == 3 ? (t - axis.mean) / axis.deviation : t;
        double v = 0, xp = 1;
        for (int k = 0; k < terms; ++k) {
            v += c[size_t(k)] * xp;
            xp *= x;
        }
        curve.emplace_back(t, v);
    }
    return curve;
}

int codeOf(const UpgradeResult& r)
{
    switch (r.failedStep) {
    case UpgradeStep::Open: return WriteOpen;
    case UpgradeStep::Empty: return WriteEmpty;
    case UpgradeStep::TooLarge: return WriteTooLarge;
    case UpgradeStep::Enter: return WriteEnter;
    case UpgradeStep::Confirm: return WriteConfirm;
    case UpgradeStep::Address: return WriteAddress;
    case UpgradeStep::Size: return WriteSize;
    case UpgradeStep::Block: return WriteBlock;
    case UpgradeStep::End:
    case UpgradeStep::Reload: return WriteEnd;
    case UpgradeStep::Exit: return WriteExit;
    case UpgradeStep::None: break;
    }
    return r.cancelled ? WriteBlock : WriteExit;
}

} // namespace

QString dataDir(const QString& base)
{
    return base + QStringLiteral("/data");
}

QString retDir(const QString& base)
{
    return base + QStringLiteral("/ret");
}

QString sampleFile(const QString& dir, int n)
{
    return dir + QStringLiteral("/avgFiltering%1.bin").arg(n);
}

QString temperatureFile(const QString& dir)
{
    return dir + QStringLiteral("/tfpa.bin");
}

QString coefficientFile(const QString& dir, int k)
{
    return dir + QStringLiteral("/%1.bin").arg(k);
}

uint32_t fileAddress(int k)
{
    static const uint32_t kAddress[] = {0x191E000, 0x1914000, 0x190A000, 0x1900000,
                                        0x1946000, 0x193C000, 0x1932000, 0x1928000};
    return kAddress[std::clamp(k, 0, 7)];
}

bool prepareSampleDir(const QString& dir, bool clear, int* nextNumber, QString* error)
{
    if (clear && QFileInfo::exists(dir) && !CComonFun::removeTree(dir)) {
        *error = QStringLiteral("无法清空采样数据目录 %1").arg(QDir::toNativeSeparators(dir));
        return false;
    }
    if (!CComonFun::makePath(dir)) {
        *error = QStringLiteral("无法创建采样数据目录 %1").arg(QDir::toNativeSeparators(dir));
        return false;
    }
    const QFileInfo temps(temperatureFile(dir));
    *nextNumber = temps.exists() ? int(temps.size() / 2) + 1 : 1;
    return true;
}

bool saveSample(const QString& dir, int number, const std::vector<std::vector<uint16_t>>& frames, size_t pixels,
                float temperature, uint16_t* mean, QString* error)
{
    std::vector<const uint16_t*> ptrs;
    for (const auto& f : frames) {
        if (f.size() < pixels) {
            *error = QStringLiteral("采集到的帧不完整，第 %1 次采样未保存").arg(number);
            return false;
        }
        ptrs.push_back(f.data());
    }
    std::vector<uint16_t> average;
    if (!driftfit::averageFrames(ptrs.data(), int(ptrs.size()), pixels, &average, mean)) {
        *error = QStringLiteral("没有可平均的帧，第 %1 次采样未保存").arg(number);
        return false;
    }
    const QString image = sampleFile(dir, number);
    if (!CComonFun::writeFrameFile(image, average.data(), average.size())) {
        *error = QStringLiteral("采样文件 %1 写入失败").arg(QDir::toNativeSeparators(image));
        return false;
    }
    // Only a whole image gets its temperature: the fit pairs them by position.
    const double t = std::trunc(double(temperature));
    const int16_t value = int16_t(std::clamp(t, -32768.0, 32767.0));
    char bytes[2];
    qToLittleEndian<int16_t>(value, bytes);
    if (!CComonFun::appendFile(temperatureFile(dir), bytes, 2)) {
        QFile::remove(image);
        *error = QStringLiteral("温度文件 tfpa.bin 写入失败，第 %1 次采样未保存").arg(number);
        return false;
    }
    return true;
}

FitOutcome fitSamples(const QString& dir, const QString& ret, int type, int width, int height)
{
    FitOutcome out;
    if (!driftfit::configForType(type, &out.config)) {
        out.status = FitOutcome::TypeRefused;
        out.text = QStringLiteral("拟合类型 %1 没有温漂拟合（只支持类型 1 和 3），未写入任何系数文件").arg(type);
        return out;
    }
    QByteArray raw;
    if (!CComonFun::readFile(temperatureFile(dir), &raw) || raw.size() < 2) {
        out.text = QStringLiteral("没有任何数据文件，请先温漂采样");
        return out;
    }
    if (width <= 0 || height <= 0) {
        out.status = FitOutcome::BadSamples;
        out.text = QStringLiteral("视频宽高未知（%1 x %2），无法拟合").arg(width).arg(height);
        return out;
    }
    const int count = std::min<int>(int(raw.size() / 2), driftfit::kMaxSamples);
    std::vector<int> numbers;
    for (int i = 0; i < count; ++i) {
        out.temperatures.push_back(float(qFromLittleEndian<int16_t>(raw.constData() + 2 * i)));
        numbers.push_back(i + 1);
    }
    // A cooling sweep is fitted in ascending order.
    if (count >= 2 && !(out.temperatures[0] < out.temperatures[1])) {
        std::reverse(out.temperatures.begin(), out.temperatures.end());
        std::reverse(numbers.begin(), numbers.end());
    }
    // The samples hold the picture (the info rows left out) or the whole frame; the
    // coefficient files always cover the core's whole frame, info rows at 0.
    const size_t full = size_t(width) * size_t(height);
    size_t pixels = full;
    {
        const QFileInfo first(sampleFile(dir, numbers.front()));
        if (height > 2 && first.size() == qint64(size_t(width) * size_t(height - 2) * 2))
            pixels = size_t(width) * size_t(height - 2);
    }
    std::vector<std::vector<uint16_t>> images;
    images.resize(size_t(count));
    QStringList bad;
    for (int i = 0; i < count; ++i) {
        const QString path = sampleFile(dir, numbers[size_t(i)]);
        QFile f(path);
        const QString name = QFileInfo(path).fileName();
        if (!f.open(QIODevice::ReadOnly)) {
            bad << QStringLiteral("%1（缺失）").arg(name);
            continue;
        }
        if (f.size() != qint64(pixels * 2)) {
            bad << QStringLiteral("%1（%2 字节，应为 %3 字节）").arg(name).arg(f.size()).arg(pixels * 2);
            continue;
        }
        const QByteArray bytes = f.readAll();
        if (bytes.size() != qsizetype(pixels * 2)) {
            bad << QStringLiteral("%1（读取失败）").arg(name);
            continue;
        }
        images[size_t(i)].resize(pixels);
        qFromLittleEndian<uint16_t>(bytes.constData(), qsizetype(pixels), images[size_t(i)].data());
    }
    if (!bad.isEmpty()) {
        out.status = FitOutcome::BadSamples;
        out.text = QStringLiteral("采样文件缺失或不完整，未拟合：%1").arg(bad.join(QStringLiteral("，")));
        return out;
    }
    for (const auto& img : images) {
        uint64_t sum = 0;
        for (uint16_t v : img)
            sum += v;
        out.frameMeans.push_back(double(sum) / double(pixels));
    }
    out.samples = count;
    out.config.samples = uint8_t(count);
    out.config.width = uint32_t(width);
    out.config.height = uint32_t(height);

    if (!CComonFun::makePath(ret)) {
        out.status = FitOutcome::WriteFailed;
        out.text = QStringLiteral("无法创建系数目录 %1").arg(QDir::toNativeSeparators(ret));
        return out;
    }
    const std::vector<driftfit::Segment> segments = driftfit::splitSegments(out.temperatures, out.config.split1);
    QStringList notes;
    for (size_t s = 0; s < segments.size(); ++s) {
        const driftfit::Segment& seg = segments[s];
        const int terms = out.config.terms[std::min<size_t>(s, 2)];
        std::vector<const uint16_t*> ptrs;
        for (int i = seg.begin; i < seg.end; ++i)
            ptrs.push_back(images[size_t(i)].data());
        driftfit::SegmentFit fit = driftfit::fitSegment(out.temperatures.data() + seg.begin, seg.size(),
                                                               ptrs.data(), pixels, terms, type);
        if (!fit.fitted)
            notes << QStringLiteral("第 %1 段（%2 个采样点）：%3，该段系数文件全部为 0")
                         .arg(s + 1).arg(seg.size()).arg(QString::fromStdString(fit.reason));
        out.saturated += fit.saturated;
        for (auto& a : fit.arrays)
            a.resize(full, 0);
        for (int j = 0; j < driftfit::kArraysPerSegment; ++j) {
            QByteArray bytes = int16Bytes(fit.arrays[size_t(j)]);
            if (type == 3) {
                const std::array<int16_t, 4> t = driftfit::trailer(fit, j);
                bytes += int16Bytes(std::vector<int16_t>(t.begin(), t.end()));
            }
            const QString path = coefficientFile(ret, int(s) * driftfit::kArraysPerSegment + j);
            if (!CComonFun::writeFile(path, bytes)) {
                out.status = FitOutcome::WriteFailed;
                out.text = QStringLiteral("系数文件 %1 写入失败").arg(QDir::toNativeSeparators(path));
                return out;
            }
        }
        out.curves.push_back(meanCurve(out.temperatures, out.frameMeans, seg, terms, type));
    }
    out.total = int(segments.size()) * driftfit::kArraysPerSegment;
    out.status = FitOutcome::Written;
    QString text = QStringLiteral("共 %1 个采样点，%2 段，生成 %3 个系数文件").arg(count).arg(segments.size()).arg(out.total);
    if (!notes.isEmpty())
        text += QStringLiteral("\n") + notes.join(QStringLiteral("\n"));
    if (out.saturated > 0)
        text += QStringLiteral("\n%1 个系数超出 16 位范围，已限幅").arg(out.saturated);
    out.text = text;
    return out;
}

QString writeCodeText(int code)
{
    switch (code) {
    case WriteOk: return QStringLiteral("整个温漂补偿系数写入机芯成功");
    case WriteEnter: return QStringLiteral("进入升级模式失败，整个温漂补偿系数写入机芯失败");
    case WriteConfirm: return QStringLiteral("进入升级模式写入失败，整个温漂补偿系数写入机芯失败");
    case WriteAddress: return QStringLiteral("发送升级地址失败，整个温漂补偿系数写入机芯失败");
    case WriteSize: return QStringLiteral("发送文件大小失败，整个温漂补偿系数写入机芯失败");
    case WriteBlock: return QStringLiteral("写文件数据块失败，整个温漂补偿系数写入机芯失败");
    case WriteOpen: return QStringLiteral("系数数据文件不存在，整个温漂补偿系数写入机芯失败");
    case WriteEnd: return QStringLiteral("升级结束失败，整个温漂补偿系数写入机芯失败");
    case WriteExit: return QStringLiteral("退出升级失败，整个温漂补偿系数写入机芯失败");
    case WriteEmpty: return QStringLiteral("系数文件数据为空，整个温漂补偿系数写入机芯失败");
    case WriteNothing: return QStringLiteral("没有待写入的温漂补偿系数文件");
    case WriteTooLarge: return QStringLiteral("系数文件超出机芯存储区，整个温漂补偿系数写入机芯失败");
    case WriteBadCounters: return QStringLiteral("已写入/待写入文件数无效，请重新拟合");
    case NoSampleData: return QStringLiteral("没有任何数据文件，请先温漂采样");
    case FitRefused: return QStringLiteral("温漂拟合未进行，未写入任何系数文件");
    default: return QStringLiteral("整个温漂补偿系数写入机芯失败！");
    }
}

bool countersValid(int written, int total)
{
    return written >= 0 && written < total && total <= kMaxFiles && total % driftfit::kArraysPerSegment == 0;
}

int writeCoefficientFiles(TransferContext& ctx, const QString& ret, int from, int to, int* written,
                          const std::function<void(int, int)>& onWritten, QString* detail)
{
    *written = from;
    if (from >= to)
        return WriteNothing;
    if (from < 0 || to > kMaxFiles)
        return WriteBadCounters;
    // The slots are packed for the smallest picture: refuse the set before any block.
    for (int k = from; k < to; ++k) {
        const QFileInfo fi(coefficientFile(ret, k));
        if (fi.exists() && fi.size() > kSlotBytes) {
            if (detail)
                *detail = QStringLiteral("系数文件 %1 大小 %2 字节，超出机芯存储区 %3 字节（%4 起），未写入任何文件")
                              .arg(fi.fileName()).arg(fi.size()).arg(kSlotBytes).arg(hex(fileAddress(k)));
            return WriteTooLarge;
        }
    }
    for (int k = from; k < to; ++k) {
        FileSource source(coefficientFile(ret, k));
        UpgradeOptions options;
        options.tellFailures = false; // the page words the drift codes itself
        options.finalEmptyBlock = true;
        const UpgradeResult r = writeUpgrade(ctx, fileAddress(k), source, options);
        if (!r.ok)
            return codeOf(r);
        *written = k + 1;
        if (onWritten)
            onWritten(*written, to);
    }
    return WriteOk;
}

} // namespace tempdrift
