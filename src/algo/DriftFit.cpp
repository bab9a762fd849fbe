#include "DriftFit.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>

namespace driftfit {

namespace {

using RowMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// Pixels solved per product: keeps the double copy of the samples small (60 rows x
// 8192 columns = 4 MB) whatever the frame size.
constexpr size_t kColumnBlock = 8192;

Eigen::MatrixXd designMatrix(const std::vector<float>& x, int rows, int terms)
{
    Eigen::MatrixXd a(rows, terms);
    for (int i = 0; i < rows; ++i) {
        float p = 1.f;
        for (int j = 0; j < terms; ++j) {
            a(i, j) = double(p);
            p *= x[size_t(i)];
        }
    }
    return a;
}

RowMatrix pseudoInverse(const Eigen::MatrixXd& a, std::vector<double>* singular)
{
    Eigen::JacobiSVD<Eigen::MatrixXd> svd(a, Eigen::ComputeThinU | Eigen::ComputeThinV);
    const Eigen::VectorXd& s = svd.singularValues();
    Eigen::VectorXd inv(s.size());
    for (Eigen::Index i = 0; i < s.size(); ++i)
        inv(i) = std::abs(s(i)) > kSingularFloor ? 1.0 / s(i) : 0.0;
    if (singular)
        singular->assign(s.data(), s.data() + s.size());
    return svd.matrixV() * inv.asDiagonal() * svd.matrixU().transpose();
}

// Coefficient c[0..terms) of one pixel into the segment's four arrays.
void store(SegmentFit& fit, size_t pixel, const double* c, int terms, int type)
{
    for (int j = 0; j < kArraysPerSegment; ++j) {
        double v = j + 1 < terms ? c[j + 1] : 0.0;
        if (j == 3)
            v = terms == 5 ? v * 10.0 : 0.0;
        if (j == 2 && type == 3 && terms != 5)
            v = 0.0;
        int16_t w = 0;
        if (!truncate16(v, &w))
            ++fit.saturated;
        fit.arrays[size_t(j)][pixel] = w;
    }
}

// What both fits share: the axis, the temperature statistics, zeroed arrays, and the
// reason when the segment cannot be fitted.
bool prepare(SegmentFit& fit, SegmentAxis* axis, const float* temps, int n, size_t pixels, int terms, int type)
{
    for (auto& a : fit.arrays)
        a.assign(pixels, 0);
    if (n <= 0) {
        fit.reason = "没有采样点";
        return false;
    }
    *axis = segmentAxis(temps, n, type);
    fit.tMean = axis->mean;
    fit.tDeviation = axis->deviation;
    if (terms < 1 || terms > kMaxTerms) {
        fit.reason = "拟合项数无效";
        return false;
    }
    if (type == 3 && !(axis->deviation > 0)) {
        fit.reason = "采样温度全部相同，无法归一化";
        return false;
    }
    return true;
}

std::string tooFewText(int rows, int terms)
{
    return "可用采样点 " + std::to_string(rows) + " 个，少于拟合项数 " + std::to_string(terms);
}

} // namespace

int fitTypeOfSensor(int code)
{
    switch (code) {
    case 0: return 0;
    case 1: return 1;
    case 2: return 2;
    case 4: return 3;
    case 5: return 4;
    default: return -1;
    }
}

bool configForType(int type, FitConfig* config)
{
    FitConfig c;
    c.type = uint8_t(std::max(type, 0));
    if (type == 3) {
        c.terms[0] = 5;
        c.terms[1] = 3;
        c.terms[2] = 3;
        c.split1 = 2650;
    } else if (type == 1) {
        c.terms[0] = c.terms[1] = c.terms[2] = 3;
    } else {
        return false;
    }
    c.split2 = kNoSplit;
    if (config) {
        c.samples = config->samples;
        c.width = config->width;
        c.height = config->height;
        *config = c;
    }
    return true;
}

std::array<uint8_t, kConfigBytes> packConfig(const FitConfig& c)
{
    std::array<uint8_t, kConfigBytes> b{};
    b[0] = c.type;
    b[1] = c.samples;
    for (int i = 0; i < 4; ++i) {
        b[size_t(2 + i)] = uint8_t(c.width >> (8 * i));
        b[size_t(6 + i)] = uint8_t(c.height >> (8 * i));
    }
    b[10] = c.terms[0];
    b[11] = c.terms[1];
    b[12] = c.terms[2];
    b[13] = c.spare;
    b[14] = uint8_t(uint16_t(c.split1));
    b[15] = uint8_t(uint16_t(c.split1) >> 8);
    b[16] = uint8_t(uint16_t(c.split2));
    b[17] = uint8_t(uint16_t(c.split2) >> 8);
    return b;
}

std::vector<Segment> splitSegments(const std::vector<float>& t, int16_t split1)
{
    const int n = int(t.size());
    if (split1 == kNoSplit)
        return {Segment{0, n}};
    int i = 0;
    while (i < n && !(t[size_t(i)] > float(split1)))
        ++i;
    // No sample above the split: all of them lie in segment 0.
    return {Segment{0, i}, Segment{i, n}};
}

SegmentAxis segmentAxis(const float* temps, int n, int type)
{
    SegmentAxis a;
    a.x.assign(temps, temps + std::max(n, 0));
    if (n <= 0)
        return a;
    double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += double(temps[i]);
    a.mean = sum / n;
    double sq = 0;
    for (int i = 0; i < n; ++i)
        sq += (double(temps[i]) - a.mean) * (double(temps[i]) - a.mean);
    a.deviation = std::sqrt(sq / n);
    if (type == 3 && a.deviation > 0)
        for (int i = 0; i < n; ++i)
            a.x[size_t(i)] = float((double(temps[i]) - a.mean) / a.deviation);
    return a;
}

FitOperator makeOperator(const std::vector<float>& x, int terms)
{
    FitOperator op;
    op.terms = terms;
    int rows = int(x.size());
    if (rows > 0 && x.front() + x.back() == 0.f)
        --rows;
    if (rows < terms || terms < 1)
        return op;
    op.rows = rows;
    const RowMatrix p = pseudoInverse(designMatrix(x, rows, terms), &op.singular);
    op.pinv.assign(p.data(), p.data() + p.size());
    return op;
}

SegmentFit fitSegment(const float* temps, int n, const uint16_t* const* samples, size_t pixels, int terms,
                      int type)
{
    SegmentFit fit;
    SegmentAxis axis;
    if (!prepare(fit, &axis, temps, n, pixels, terms, type))
        return fit;
    const FitOperator op = makeOperator(axis.x, terms);
    if (op.rows == 0) {
        fit.reason = tooFewText(n > 0 && axis.x.front() + axis.x.back() == 0.f ? n - 1 : n, terms);
        return fit;
    }
    const Eigen::Map<const RowMatrix> p(op.pinv.data(), terms, op.rows);
    // Row-major samples: each sample's pixels are copied in as they lie.
    RowMatrix y(op.rows, Eigen::Index(std::min(pixels, kColumnBlock)));
    Eigen::MatrixXd c; // column-major: one pixel's coefficients side by side
    for (size_t p0 = 0; p0 < pixels; p0 += kColumnBlock) {
        const size_t cols = std::min(kColumnBlock, pixels - p0);
        if (size_t(y.cols()) != cols)
            y.resize(op.rows, Eigen::Index(cols));
        for (int i = 0; i < op.rows; ++i)
            y.row(i) = Eigen::Map<const Eigen::Matrix<uint16_t, 1, Eigen::Dynamic>>(samples[i] + p0,
                                                                                 Eigen::Index(cols))
                           .cast<double>();
        c.noalias() = p * y;
        for (size_t k = 0; k < cols; ++k)
            store(fit, p0 + k, c.col(Eigen::Index(k)).data(), terms, type);
    }
    fit.fitted = true;
    return fit;
}

SegmentFit fitSegmentPerPixel(const float* temps, int n, const uint16_t* const* samples, size_t pixels,
                              int terms, int type)
{
    SegmentFit fit;
    SegmentAxis axis;
    if (!prepare(fit, &axis, temps, n, pixels, terms, type))
        return fit;
    int rows = n;
    if (axis.x.front() + axis.x.back() == 0.f)
        --rows;
    if (rows < terms) {
        fit.reason = tooFewText(rows, terms);
        return fit;
    }
    Eigen::VectorXd y(rows);
    for (size_t px = 0; px < pixels; ++px) {
        // A decomposition for each pixel, as a solver without the shared matrix does.
        Eigen::JacobiSVD<Eigen::MatrixXd> svd(designMatrix(axis.x, rows, terms),
                                              Eigen::ComputeThinU | Eigen::ComputeThinV);
        for (int i = 0; i < rows; ++i)
            y(i) = double(samples[i][px]);
        const Eigen::VectorXd& s = svd.singularValues();
        Eigen::VectorXd uty = svd.matrixU().transpose() * y;
        for (Eigen::Index i = 0; i < s.size(); ++i)
            uty(i) = std::abs(s(i)) > kSingularFloor ? uty(i) / s(i) : 0.0;
        const Eigen::VectorXd c = svd.matrixV() * uty;
        store(fit, px, c.data(), terms, type);
    }
    fit.fitted = true;
    return fit;
}

bool averageFrames(const uint16_t* const* frames, int count, size_t pixels, std::vector<uint16_t>* average,
                   uint16_t* mean)
{
    if (count < 1 || pixels == 0 || !average)
        return false;
    std::vector<uint32_t> acc(pixels, 0);
    for (int f = 0; f < count; ++f)
        for (size_t i = 0; i < pixels; ++i)
            acc[i] += frames[f][i];
    average->resize(pixels);
    uint64_t sum = 0;
    for (size_t i = 0; i < pixels; ++i) {
        (*average)[i] = uint16_t(acc[i] / uint32_t(count));
        sum += (*average)[i];
    }
    if (mean)
        *mean = uint16_t(sum / pixels);
    return true;
}

bool truncate16(double value, int16_t* out)
{
    if (std::isnan(value)) {
        *out = 0;
        return false;
    }
    const double t = std::trunc(value);
    if (t > 32767.0) {
        *out = 32767;
        return false;
    }
    if (t < -32768.0) {
        *out = -32768;
        return false;
    }
    *out = int16_t(t);
    return true;
}

std::array<int16_t, 4> trailer(const SegmentFit& fit, int array)
{
    const std::vector<int16_t>& a = fit.arrays[size_t(std::clamp(array, 0, kArraysPerSegment - 1))];
    double sum = 0;
    for (int16_t v : a)
        sum += v;
    const double mean = a.empty() ? 0.0 : sum / double(a.size());
    double sq = 0;
    for (int16_t v : a)
        sq += (v - mean) * (v - mean);
    const double dev = a.empty() ? 0.0 : std::sqrt(sq / double(a.size()));
    std::array<int16_t, 4> t{};
    truncate16(fit.tMean, &t[0]);
    truncate16(fit.tDeviation, &t[1]);
    truncate16(mean, &t[2]);
    truncate16(double(std::lround(dev)), &t[3]);
    return t;
}

} // namespace driftfit
