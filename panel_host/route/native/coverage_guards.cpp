#include "coverage_guards.h"

#if !defined(_WIN32)
#include <cstdint>
#include <dlfcn.h>

namespace {

constexpr std::uint32_t capacity = 1u << 22; // guards of all modules loaded in this process
unsigned char ran[capacity + 1];

struct GuardModule {
    char path[4096];
    std::uint32_t first; // guards first .. first + count - 1
    std::uint32_t count;
};
constexpr int maxModules = 64;
GuardModule modules[maxModules];
int moduleCount = 0;
std::uint32_t guardsGiven = 0;

std::string fileName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

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
    for (std::uint32_t* guard = start; guard < stop; ++guard)
        *guard = ++guardsGiven;
}

extern "C" __attribute__((visibility("default"))) void
__sanitizer_cov_trace_pc_guard(std::uint32_t* guard) {
    ran[*guard] = 1; // 0 for guards never given a number: a slot of its own
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
        return coverage;
    }
    return std::nullopt;
}

#else
std::optional<CodeCoverage> guardCoverage(const std::string&) {
    return std::nullopt;
}
#endif
