#include "Faults.h"

#include "CoreFrames.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace irsim {

namespace {

bool parseNumber(const std::string& text, uint64_t maxValue, uint64_t* out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v > maxValue)
        return false;
    *out = v;
    return true;
}

const char* kindName(FaultRule::Kind kind)
{
    switch (kind) {
    case FaultRule::Kind::NoReply: return "noreply";
    case FaultRule::Kind::Zero: return "zero";
    case FaultRule::Kind::Delay: return "delay";
    case FaultRule::Kind::Split: return "split";
    case FaultRule::Kind::Drop: return "drop";
    case FaultRule::Kind::Garbage: return "garbage";
    case FaultRule::Kind::Flip: return "flip";
    case FaultRule::Kind::BadSum: return "badsum";
    case FaultRule::Kind::BadEnd: return "badend";
    case FaultRule::Kind::Echo: return "echo";
    case FaultRule::Kind::Noise: return "noise";
    }
    return "?";
}

} // namespace

bool FaultRule::parse(const std::string& text, FaultRule* out, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = "bad fault \"" + text + "\": " + why;
        return false;
    };
    FaultRule rule;
    std::string rest = text;

    // Count suffix.
    const size_t countAt = rest.find_first_of("#*>%");
    if (countAt != std::string::npos && rest[countAt] == '%') {
        const std::string p = rest.substr(countAt + 1);
        char* end = nullptr;
        const double v = p.empty() || p[0] == ' ' ? 0.0 : std::strtod(p.c_str(), &end);
        if (!end || *end != '\0' || !(v > 0.0 && v <= 100.0))
            return fail("percentage must be a number above 0 and at most 100");
        rule.count = Count::Percent;
        rule.percent = v;
        rest.erase(countAt);
    } else if (countAt != std::string::npos) {
        uint64_t n = 0;
        if (!parseNumber(rest.substr(countAt + 1), 1000000, &n))
            return fail("count must be a number");
        const char c = rest[countAt];
        rule.count = c == '#' ? Count::Nth : c == '*' ? Count::Times : Count::After;
        if (n == 0 && rule.count != Count::After)
            return fail("count must be at least 1");
        rule.n = int(n);
        rest.erase(countAt);
    }

    // Target.
    const size_t targetAt = rest.find('@');
    if (targetAt != std::string::npos) {
        std::string target = rest.substr(targetAt + 1);
        rest.erase(targetAt);
        uint64_t v = 0;
        if (target == "block") {
            rule.target = Target::AnyBlock;
        } else if (target.rfind("block:", 0) == 0) {
            if (!parseNumber(target.substr(6), 0xFF, &v))
                return fail("block command must be a byte");
            rule.target = Target::Block;
            rule.address = uint32_t(v);
        } else if (target.rfind("short:", 0) == 0) {
            if (!parseNumber(target.substr(6), 0xFF, &v) || v == 0xFE)
                return fail("short register must be a byte other than 0xFE");
            rule.target = Target::ShortRegister;
            rule.address = uint32_t(v);
        } else {
            if (!parseNumber(target, 0xFFFFFFFFull, &v))
                return fail("target must be a register address, short:N, block:N or block");
            rule.target = Target::Register;
            rule.address = uint32_t(v);
        }
    }

    // Kind and parameter.
    std::string kind = rest;
    std::string param;
    const size_t eq = rest.find('=');
    if (eq != std::string::npos) {
        kind = rest.substr(0, eq);
        param = rest.substr(eq + 1);
    }
    uint64_t p = 0;
    if (kind == "noreply" || kind == "zero" || kind == "drop" || kind == "flip" || kind == "badsum"
        || kind == "badend" || kind == "echo") {
        if (eq != std::string::npos)
            return fail(kind + " takes no value");
        rule.kind = kind == "noreply" ? Kind::NoReply
                    : kind == "zero"  ? Kind::Zero
                    : kind == "drop"  ? Kind::Drop
                    : kind == "flip"  ? Kind::Flip
                    : kind == "badsum" ? Kind::BadSum
                    : kind == "badend" ? Kind::BadEnd
                                       : Kind::Echo;
    } else if (kind == "delay") {
        if (eq == std::string::npos)
            p = kDefaultDelayMs;
        else if (!parseNumber(param, kMaxDelayMs, &p))
            return fail("delay must be 0.." + std::to_string(kMaxDelayMs) + " ms");
        rule.kind = Kind::Delay;
    } else if (kind == "split") {
        if (eq == std::string::npos)
            p = kDefaultSplitPauseMs;
        else if (!parseNumber(param, kMaxDelayMs, &p))
            return fail("split pause must be 0.." + std::to_string(kMaxDelayMs) + " ms");
        rule.kind = Kind::Split;
    } else if (kind == "garbage") {
        if (eq == std::string::npos)
            p = kDefaultGarbageBytes;
        else if (!parseNumber(param, kMaxGarbageBytes, &p) || p == 0)
            return fail("garbage count must be 1.." + std::to_string(kMaxGarbageBytes));
        rule.kind = Kind::Garbage;
    } else if (kind == "noise") {
        if (eq == std::string::npos)
            p = kDefaultNoiseBytes;
        else if (!parseNumber(param, kMaxNoiseBytes, &p) || p == 0)
            return fail("noise count must be 1.." + std::to_string(kMaxNoiseBytes));
        rule.kind = Kind::Noise;
    } else {
        return fail("unknown kind (noreply, zero, delay, split, drop, garbage, flip, badsum, badend, echo, noise)");
    }
    rule.param = int(p);
    if (out)
        *out = rule;
    return true;
}

std::string FaultRule::toString() const
{
    std::string s = kindName(kind);
    if (kind == Kind::Delay || kind == Kind::Split || kind == Kind::Garbage || kind == Kind::Noise)
        s += "=" + std::to_string(param);
    char buf[32];
    switch (target) {
    case Target::Any: break;
    case Target::Register: std::snprintf(buf, sizeof buf, "@0x%X", address); s += buf; break;
    case Target::ShortRegister: std::snprintf(buf, sizeof buf, "@short:0x%X", address); s += buf; break;
    case Target::Block: std::snprintf(buf, sizeof buf, "@block:0x%X", address); s += buf; break;
    case Target::AnyBlock: s += "@block"; break;
    }
    switch (count) {
    case Count::Always: break;
    case Count::Nth: s += "#" + std::to_string(n); break;
    case Count::Times: s += "*" + std::to_string(n); break;
    case Count::After: s += ">" + std::to_string(n); break;
    case Count::Percent: std::snprintf(buf, sizeof buf, "%%%g", percent); s += buf; break;
    }
    return s;
}

void FaultInjector::setSeed(uint32_t seed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rng.seed(seed);
}

int FaultInjector::add(const FaultRule& rule)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int id = m_nextId++;
    m_entries.push_back(Entry{id, rule, 0, 0});
    return id;
}

bool FaultInjector::remove(int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->id == id) {
            m_entries.erase(it);
            return true;
        }
    }
    return false;
}

void FaultInjector::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

std::vector<FaultRule> FaultInjector::list() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<FaultRule> out;
    for (const Entry& e : m_entries)
        out.push_back(e.rule);
    return out;
}

int FaultInjector::fired(int id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Entry& e : m_entries)
        if (e.id == id)
            return e.fired;
    return -1;
}

int FaultInjector::totalFired() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_totalFired;
}

bool FaultInjector::matches(const FaultRule& rule, const RequestKey& key)
{
    switch (rule.target) {
    case FaultRule::Target::Any: return true;
    case FaultRule::Target::Register: return key.kind == RequestKey::Register && key.address == rule.address;
    case FaultRule::Target::ShortRegister: return key.kind == RequestKey::ShortRegister && key.address == rule.address;
    case FaultRule::Target::Block: return key.kind == RequestKey::Block && key.address == rule.address;
    case FaultRule::Target::AnyBlock: return key.kind == RequestKey::Block;
    }
    return false;
}

FaultEffect FaultInjector::apply(const RequestKey& key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    FaultEffect effect;
    for (Entry& e : m_entries) {
        if (!matches(e.rule, key))
            continue;
        const int seen = ++e.seen;
        bool fire = false;
        switch (e.rule.count) {
        case FaultRule::Count::Always: fire = true; break;
        case FaultRule::Count::Nth: fire = seen == e.rule.n; break;
        case FaultRule::Count::Times: fire = seen <= e.rule.n; break;
        case FaultRule::Count::After: fire = seen > e.rule.n; break;
        case FaultRule::Count::Percent: fire = double(m_rng()) * 100.0 < e.rule.percent * 4294967296.0; break;
        }
        if (!fire)
            continue;
        ++e.fired;
        ++m_totalFired;
        switch (e.rule.kind) {
        case FaultRule::Kind::NoReply: effect.noReply = true; break;
        case FaultRule::Kind::Zero: effect.zero = true; break;
        case FaultRule::Kind::Drop: effect.drop = true; break;
        case FaultRule::Kind::Delay:
            effect.delayMs = std::min(FaultRule::kMaxDelayMs, effect.delayMs + e.rule.param);
            break;
        case FaultRule::Kind::Split:
            effect.split = true;
            effect.splitPauseMs = std::max(effect.splitPauseMs, e.rule.param);
            break;
        case FaultRule::Kind::Garbage:
            effect.garbageBytes = std::min(FaultRule::kMaxGarbageBytes, effect.garbageBytes + e.rule.param);
            break;
        case FaultRule::Kind::Noise:
            for (int i = 0; i < e.rule.param && effect.noise.size() < size_t(FaultRule::kMaxNoiseBytes);) {
                const uint8_t b = uint8_t(m_rng());
                if (b == kRegisterStart || b == kBlockStart)
                    continue; // a start byte could make the noise look like a frame
                effect.noise.push_back(b);
                ++i;
            }
            break;
        case FaultRule::Kind::Flip:
            effect.flip = true;
            effect.flipPick = uint32_t(m_rng());
            break;
        case FaultRule::Kind::BadSum: effect.badSum = true; break;
        case FaultRule::Kind::BadEnd: effect.badEnd = true; break;
        case FaultRule::Kind::Echo: effect.echo = true; break;
        }
    }
    return effect;
}

void corruptReply(std::vector<uint8_t>* frame, const FaultEffect& fx)
{
    if (!frame || !(fx.flip || fx.badSum || fx.badEnd || fx.echo))
        return;
    std::vector<uint8_t>& f = *frame;
    if (f.size() < 5 || (f[0] != kRegisterStart && f[0] != kBlockStart) || f.size() != size_t(f[1]) + 4)
        return;
    const bool reg = f[0] == kRegisterStart;
    const size_t sumAt = 2 + size_t(f[1]); // the checksum covers the LEN bytes from offset 2
    if (reg && sumAt < 5)
        return;
    if (fx.echo) {
        // The core answering for another address / command than the one asked.
        f[reg ? 3 : 2] ^= 0x80;
        f[sumAt] = checksum8(f.data() + 2, sumAt - 2);
    }
    if (fx.flip) {
        // A line error: one payload bit, the checksum still that of the sent bytes.
        // A reply without payload loses a bit of what the checksum covers instead.
        size_t from = reg ? 5 : 3;
        if (from >= sumAt)
            from = 2;
        const uint32_t bit = fx.flipPick % uint32_t((sumAt - from) * 8);
        f[from + bit / 8] ^= uint8_t(1u << (bit % 8));
    }
    if (fx.badSum)
        f[sumAt] = uint8_t(f[sumAt] + 1);
    if (fx.badEnd)
        f.back() = 0x00;
}

} // namespace irsim
