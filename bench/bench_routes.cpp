// Each notification path through the real PELDAN.dll on the emulated route,
// timed beside the same path through PELDAN.so on the native route, both
// reached through the one route interface panel-host uses; and whole validate
// sessions on both. Each iteration times a batch on both routes, so the ratio
// is measured in the same run. Counters: emulated_ns and native_ns (per
// notification or session), ratio (emulated / native), per_second (emulated),
// and instructions (x86 instructions the DLL and its imports run per
// notification, counted on a separate pass; deterministic).
#include "emulated_route.h"
#include "open_script_route.h"
#include "panel_layout.h"
#include "runtime_dlls.h"
#include "session_generator.h"
#include "session_runner.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <dlfcn.h>
#include <functional>

namespace {

// Answers the start-up lookups; every other command gets no reply.
class QuietHost : public ScriptHostSide {
  public:
    std::optional<HostReply> onCommand(const std::optional<std::string>& text) override {
        if (text && text->compare(0, 3, "SD ") == 0)
            return HostReply{text->find("Packager") != std::string::npos ? "5" : "7", true};
        return std::nullopt;
    }
    void onReplyLent(ScriptAddress, const std::string&) override {}
    bool onHandBack(ScriptAddress) override { return true; }
    void onOtherType(int) override {}
    void onDebugOutput(const std::string&) override {}
    void onRouteBreach(const std::string& what) override { breaches.push_back(what); }
    std::vector<std::string> breaches;
};

struct OpenScript {
    std::unique_ptr<ScriptRoute> route;
    QuietHost host;
};

std::unique_ptr<OpenScript> open(const std::string& path) {
    auto script = std::make_unique<OpenScript>();
    std::string error;
    script->route = openScriptRoute(path, error);
    bool created = false;
    if (!script->route || !script->route->load(script->host, created).ok() || !created)
        return nullptr;
    return script;
}

// One notification path: a few notifications that leave the panel as they found it.
struct Path {
    const char* name;
    int notifications;
    std::function<void(ScriptRoute&)> run;
};

void take(ScriptRoute& r) {
    r.controlEvent("1", "OS_3", "button=pressed");
    r.controlEvent("1", "SourceSel", "index=17");
    r.controlEvent("1", "Take", "button=pressed");
}

void parameter(ScriptRoute& r) {
    std::optional<ScriptReply> reply;
    r.parameter(std::string("return=all"), reply);
    if (reply)
        r.handBack(reply->at);
}

const Path paths[] = {
    {"label revertive (type 1)", 1, [](ScriptRoute& r) { r.revertive(7, 12, "MIC 1"); }},
    {"feed button and Clear (type 2)", 2,
     [](ScriptRoute& r) {
         r.controlEvent("1", "OS_3", "button=pressed");
         r.controlEvent("1", "Clear", "button=pressed");
     }},
    {"feed, source and Take (type 2)", 3, take},
    {"other timer's tick (type 4)", 1, [](ScriptRoute& r) { r.tick(4); }},
    {"parameter reply and hand-back (types 3, 5)", 2, parameter},
};

using Clock = std::chrono::steady_clock;

void report(benchmark::State& state, double emulatedNs, double nativeNs, double count) {
    state.counters["emulated_ns"] = emulatedNs / count;
    state.counters["native_ns"] = nativeNs / count;
    state.counters["ratio"] = emulatedNs / nativeNs;
    state.counters["per_second"] = count / (emulatedNs / 1e9);
}

double timeBatch(ScriptRoute& route, const Path& path, int batch) {
    Clock::time_point start = Clock::now();
    for (int i = 0; i < batch; ++i)
        path.run(route);
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

std::uint64_t instructionsPerNotification(const Path& path) {
    EmulatedRoute route(servedRuntimeDlls());
    QuietHost host;
    std::string error;
    bool created = false;
    if (!route.open(PELDAN_DLL_FOLDER "/PELDAN.dll", error) || !route.load(host, created).ok())
        return 0;
    path.run(route); // the first run may allocate what later runs reuse
    route.process().machine().countInstructions(true);
    std::uint64_t before = route.process().machine().instructionsCounted();
    path.run(route);
    return (route.process().machine().instructionsCounted() - before) / path.notifications;
}

void routes(benchmark::State& state, const Path& path) {
    auto emulated = open(PELDAN_DLL_FOLDER "/PELDAN.dll");
    auto native = open(PELDAN_SO_PATH);
    if (!emulated || !native) {
        state.SkipWithError("cannot open PELDAN.dll or PELDAN.so");
        return;
    }
    const int batch = 50;
    double emulatedNs = 0, nativeNs = 0;
    for (auto _ : state) {
        double elapsed = timeBatch(*emulated->route, path, batch);
        nativeNs += timeBatch(*native->route, path, batch);
        emulatedNs += elapsed;
        state.SetIterationTime(elapsed / 1e9); // the batch: a few hundred iterations fill the time
    }
    report(state, emulatedNs, nativeNs,
           static_cast<double>(state.iterations()) * batch * path.notifications);
    state.counters["instructions"] = static_cast<double>(instructionsPerNotification(path));
    if (!emulated->host.breaches.empty())
        state.SkipWithError(emulated->host.breaches.front().c_str());
}

// Whole validate sessions (level 1, 100 steps each, from seed 4), played in
// this process as a validate worker plays them: the library stays loaded
// (the DLL rewound between sessions), each session gets a new script.
double timeSessions(const std::string& library, const PanelLayout& layout, int first, int count,
                    bool& failed) {
    ResidentRoute resident;
    ChildProgress progress;
    Clock::time_point start = Clock::now();
    for (int i = first; i < first + count; ++i) {
        GeneratedSession generated = generateSession({4, i, 100, 1}, layout, 7);
        std::vector<std::string> lines = generated.startup;
        lines.push_back("startup level 1");
        lines.insert(lines.end(), generated.steps.begin(), generated.steps.end());
        failed = failed || runSession({library, false}, lines, progress, i, &resident).failed;
    }
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

void sessions(benchmark::State& state) {
    PanelLayout layout;
    std::string error;
    if (!readPanelLayout(PELDAN_LAYOUT_PATH, layout, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    // As in a validate worker, the native library stays loaded between sessions.
    void* resident = dlopen(PELDAN_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    const int batch = 10;
    double emulatedNs = 0, nativeNs = 0;
    bool failed = false;
    int first = 0;
    for (auto _ : state) {
        double elapsed =
            timeSessions(PELDAN_DLL_FOLDER "/PELDAN.dll", layout, first, batch, failed);
        nativeNs += timeSessions(PELDAN_SO_PATH, layout, first, batch, failed);
        emulatedNs += elapsed;
        first += batch;
        state.SetIterationTime(elapsed / 1e9);
    }
    report(state, emulatedNs, nativeNs, static_cast<double>(state.iterations()) * batch);
    if (resident != nullptr)
        dlclose(resident);
    if (failed)
        state.SkipWithError("a session failed");
}

int registerAll() {
    for (const Path& path : paths)
        benchmark::RegisterBenchmark((std::string("emulated/") + path.name).c_str(),
                                     [&path](benchmark::State& s) { routes(s, path); })
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("validate/sessions of 100 steps", sessions)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    return 0;
}

const int registered = registerAll();

} // namespace

BENCHMARK_MAIN();
