#include "coverage_guards.h"

#if !defined(_WIN32)
#include <cstdint>
#include <dlfcn.h>

namespace {

constexpr std::uint32_t capacity = 1u << 22; // guards of all modules loaded in this process
unsigned char ran[capacity + 1];
unsigned char hits[capacity + 1];  // since startCountingGuardHits()
std::uint32_t hitGuards[capacity]; // the guards whose count is not 0
std::uint32_t hitGuardCount = 0;

struct GuardModule {
    char path[4096];
    std::uint32_t first; // guards first .. first + count - 1
    std::uint32_t count;
    // The compiler's table of each guard's block address and flags, two words
    // a guard in guard order, in the module's own memory; null without pc-table.
    const std::uintptr_t* pcs;
};
constexpr int maxModules = 64;
GuardModule modules[maxModules];
int moduleCount = 0;
std::uint32_t guardsGiven = 0;

std::string fileName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Constants compared against: a small open-addressed set beside the list, plain
// arrays with no constructor, as the callbacks may run before main.
constexpr std::uint32_t maxCompared = 256;
std::uint32_t compared[maxCompared];
std::uint32_t comparedCount = 0;
std::uint32_t comparedSlots[1024];
bool comparedSlotUsed[1024];

void keepCompared(std::uint64_t value) {
    if (comparedCount >= maxCompared)
        return;
    auto narrow = static_cast<std::uint32_t>(value);
    std::uint32_t slot = (narrow * 2654435761u) >> 22;
    while (comparedSlotUsed[slot]) {
        if (comparedSlots[slot] == narrow)
            return;
        slot = (slot + 1) & 1023;
    }
    comparedSlotUsed[slot] = true;
    comparedSlots[slot] = narrow;
    compared[comparedCount++] = narrow;
}

// Pairs of operands, for the search to put one in the other's place: plain
// arrays again, a pair once (an open-addressed set) and a few a site.
constexpr std::uint32_t maxPairs = 256, pairSlots = 1024, siteSlots = 512, pairsPerSite = 4;
bool pairing = false;
std::int64_t pairs[maxPairs][2];
std::uint32_t pairCount = 0;  // kept since the last take
std::uint32_t pairsKnown = 0; // kept since the last forget
std::uint64_t pairKeys[pairSlots];
bool pairKeyUsed[pairSlots];
std::uintptr_t sites[siteSlots];
std::uint8_t siteCounts[siteSlots];
bool siteUsed[siteSlots];

// The count of pairs kept at `site`, found or made; null when the table is full.
std::uint8_t* siteCount(std::uintptr_t site) {
    std::uint32_t slot = static_cast<std::uint32_t>((site * 0x9E3779B97F4A7C15ULL) >> 55);
    for (std::uint32_t probe = 0; probe < siteSlots; ++probe, slot = (slot + 1) % siteSlots) {
        if (!siteUsed[slot]) {
            siteUsed[slot] = true;
            sites[slot] = site;
            siteCounts[slot] = 0;
        }
        if (sites[slot] == site)
            return &siteCounts[slot];
    }
    return nullptr;
}

bool newPair(std::int64_t left, std::int64_t right) {
    std::uint64_t key =
        static_cast<std::uint64_t>(left) * 0x100000001B3ULL ^ static_cast<std::uint64_t>(right);
    std::uint32_t slot = static_cast<std::uint32_t>((key * 0x9E3779B97F4A7C15ULL) >> 54);
    while (pairKeyUsed[slot]) {
        if (pairKeys[slot] == key)
            return false;
        slot = (slot + 1) % pairSlots;
    }
    pairKeyUsed[slot] = true;
    pairKeys[slot] = key;
    return true;
}

void keepPair(std::uintptr_t site, std::int64_t left, std::int64_t right) {
    if (!pairing || left == right || pairsKnown >= maxPairs)
        return;
    std::uint8_t* count = siteCount(site);
    if (count == nullptr || *count >= pairsPerSite || !newPair(left, right))
        return;
    ++*count;
    ++pairsKnown;
    pairs[pairCount][0] = left;
    pairs[pairCount][1] = right;
    ++pairCount;
}

#define CALLER reinterpret_cast<std::uintptr_t>(__builtin_return_address(0))

} // namespace

#define PANEL_HOST_EXPORT extern "C" __attribute__((visibility("default"))) void
// A compare with a constant: the constant is the first operand.
PANEL_HOST_EXPORT __sanitizer_cov_trace_const_cmp1(std::uint8_t constant, std::uint8_t value) {
    keepCompared(constant);
    keepPair(CALLER, value, constant);
}
PANEL_HOST_EXPORT __sanitizer_cov_trace_const_cmp2(std::uint16_t constant, std::uint16_t value) {
    keepCompared(constant);
    keepPair(CALLER, value, constant);
}
PANEL_HOST_EXPORT __sanitizer_cov_trace_const_cmp4(std::uint32_t constant, std::uint32_t value) {
    keepCompared(constant);
    keepPair(CALLER, static_cast<std::int32_t>(value), static_cast<std::int32_t>(constant));
}
PANEL_HOST_EXPORT __sanitizer_cov_trace_const_cmp8(std::uint64_t constant, std::uint64_t value) {
    keepCompared(constant);
    keepPair(CALLER, static_cast<std::int64_t>(value), static_cast<std::int64_t>(constant));
}
// Compares of two variables give no constant for the dictionary, but either
// side may be the one a value the host sent must become.
PANEL_HOST_EXPORT __sanitizer_cov_trace_cmp1(std::uint8_t left, std::uint8_t right) {
    keepPair(CALLER, left, right);
}
PANEL_HOST_EXPORT __sanitizer_cov_trace_cmp2(std::uint16_t left, std::uint16_t right) {
    keepPair(CALLER, left, right);
}
PANEL_HOST_EXPORT __sanitizer_cov_trace_cmp4(std::uint32_t left, std::uint32_t right) {
    keepPair(CALLER, static_cast<std::int32_t>(left), static_cast<std::int32_t>(right));
}
PANEL_HOST_EXPORT __sanitizer_cov_trace_cmp8(std::uint64_t left, std::uint64_t right) {
    keepPair(CALLER, static_cast<std::int64_t>(left), static_cast<std::int64_t>(right));
}
// cases[0] is their count, cases[1] their width in bits, then the cases.
PANEL_HOST_EXPORT __sanitizer_cov_trace_switch(std::uint64_t, std::uint64_t* cases) {
    for (std::uint64_t i = 0; i < cases[0] && i < maxCompared; ++i)
        keepCompared(cases[2 + i]);
}
#undef PANEL_HOST_EXPORT

std::vector<std::uint32_t> tracedCompares() {
    return std::vector<std::uint32_t>(compared, compared + comparedCount);
}

void startPairingTracedCompares() {
    pairing = true;
}

std::vector<std::pair<std::int64_t, std::int64_t>> takeTracedComparePairs() {
    std::vector<std::pair<std::int64_t, std::int64_t>> taken;
    for (std::uint32_t i = 0; i < pairCount; ++i)
        taken.push_back({pairs[i][0], pairs[i][1]});
    pairCount = 0;
    return taken;
}

void forgetTracedComparePairs() {
    pairCount = 0;
    pairsKnown = 0;
    for (bool& used : pairKeyUsed)
        used = false;
    for (bool& used : siteUsed)
        used = false;
}

extern "C" __attribute__((visibility("default"))) void
__sanitizer_cov_trace_pc_guard_init(std::uint32_t* start, std::uint32_t* stop) {
    if (start == stop || *start != 0 || moduleCount >= maxModules)
        return;
    std::uint64_t count = static_cast<std::uint64_t>(stop - start);
    if (guardsGiven + count > capacity)
        return; // beyond the books: this module's guards stay 0, uncounted
    Dl_info info{};
    GuardModule& module = modules[moduleCount++];
    module.path[0] = '\0';
    if (dladdr(start, &info) != 0 && info.dli_fname != nullptr) {
        size_t i = 0;
        for (; info.dli_fname[i] != '\0' && i + 1 < sizeof module.path; ++i)
            module.path[i] = info.dli_fname[i];
        module.path[i] = '\0';
    }
    module.first = guardsGiven + 1;
    module.count = static_cast<std::uint32_t>(count);
    module.pcs = nullptr;
    for (std::uint32_t* guard = start; guard < stop; ++guard)
        *guard = ++guardsGiven;
}

extern "C" __attribute__((visibility("default"))) void
__sanitizer_cov_trace_pc_guard(std::uint32_t* guard) {
    std::uint32_t number = *guard; // 0 for guards never given a number: a slot of its own
    ran[number] = 1;
    if (hits[number] == 0 && hitGuardCount < capacity)
        hitGuards[hitGuardCount++] = number;
    if (hits[number] != 255)
        ++hits[number];
}

// Called by the same module's constructor right after its guards were numbered.
extern "C" __attribute__((visibility("default"))) void
__sanitizer_cov_pcs_init(const std::uintptr_t* begin, const std::uintptr_t* end) {
    if (moduleCount == 0)
        return;
    GuardModule& module = modules[moduleCount - 1];
    if (static_cast<std::uint64_t>(end - begin) == 2ull * module.count)
        module.pcs = begin;
}

void startCountingGuardHits() {
    for (std::uint32_t i = 0; i < hitGuardCount; ++i)
        hits[hitGuards[i]] = 0;
    hitGuardCount = 0;
}

std::vector<std::pair<std::uint32_t, std::uint8_t>> guardHitCounts() {
    std::vector<std::pair<std::uint32_t, std::uint8_t>> counts;
    counts.reserve(hitGuardCount);
    for (std::uint32_t i = 0; i < hitGuardCount; ++i)
        counts.push_back({hitGuards[i], hits[hitGuards[i]]});
    return counts;
}

std::optional<CodeCoverage> guardCoverage(const std::string& path) {
    // The latest module of that file: a library loaded again gets new guards.
    for (int m = moduleCount - 1; m >= 0; --m) {
        const GuardModule& module = modules[m];
        if (fileName(module.path) != fileName(path))
            continue;
        CodeCoverage coverage;
        std::string name = fileName(path) + guardModuleSuffix;
        coverage.code.push_back({name, 0, module.count});
        for (std::uint32_t i = 0; i < module.count; ++i)
            if (ran[module.first + i])
                coverage.reached.push_back({name, i, 1});
        Dl_info info{};
        if (module.pcs != nullptr && module.count > 0 &&
            dladdr(reinterpret_cast<void*>(module.pcs[0]), &info) != 0) {
            // Each guard's block, as an offset into the file's image.
            auto base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
            SymbolSource source{name, module.path, {}};
            for (std::uint32_t i = 0; i < module.count; ++i)
                source.unitAddresses.push_back(
                    static_cast<std::uint32_t>(module.pcs[2 * i] - base));
            coverage.symbols.push_back(std::move(source));
        }
        return coverage;
    }
    return std::nullopt;
}

#else
std::optional<CodeCoverage> guardCoverage(const std::string&) {
    return std::nullopt;
}
std::vector<std::uint32_t> tracedCompares() {
    return {};
}
void startPairingTracedCompares() {}
std::vector<std::pair<std::int64_t, std::int64_t>> takeTracedComparePairs() {
    return {};
}
void forgetTracedComparePairs() {}
void startCountingGuardHits() {}
std::vector<std::pair<std::uint32_t, std::uint8_t>> guardHitCounts() {
    return {};
}
#endif
