// Each notification path of the panel, the parser, the decoder and the
// numeric commands, timed side by side with a baseline that builds the same
// command texts with snprintf into a stack buffer and makes one host call per
// text. Counters: baseline_ns (the baseline per operation), ratio (path time /
// baseline time, same iterations), allocs (allocations per operation).
#include "PELDAN.h"
#include "counting_allocator.h"
#include "decode_vesk_string.h"
#include "dotted_message.h"
#include "host_events.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

extern "C" vesk_client_callback* load_vesk_client_script(vesk_client_callback* host,
                                                        const char* path);

namespace {

// Answers the start-up lookups from static texts; everything else is null.
class BenchHost : public vesk_client_callback {
  public:
    void* callback(void* data, int type) override {
        if (type != 0)
            return nullptr;
        const char* text = static_cast<const char*>(data);
        benchmark::DoNotOptimize(text[0]);
        if (std::strncmp(text, "SD ", 3) == 0)
            return const_cast<char*>(std::strstr(text, "Packager") ? "5" : "7");
        return nullptr;
    }
};

BenchHost benchHost;

// The baseline's one host call per command text.
void baselineSend(const char* text) { benchHost.callback(const_cast<char*>(text), 0); }

using Clock = std::chrono::steady_clock;
double since(Clock::time_point start) {
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

// Times `batch` runs of path, then `batch` runs of baseline, per iteration;
// reset runs untimed before each batch.
void sideBySide(benchmark::State& state, int batch, const std::function<void()>& reset,
                const std::function<void()>& path, const std::function<void()>& baseline) {
    double pathNs = 0, baseNs = 0;
    size_t allocations = 0;
    for (auto _ : state) {
        reset();
        size_t before = allocationCount();
        Clock::time_point start = Clock::now();
        for (int i = 0; i < batch; ++i)
            path();
        double elapsed = since(start);
        allocations += allocationCount() - before;
        start = Clock::now();
        for (int i = 0; i < batch; ++i)
            baseline();
        baseNs += since(start);
        pathNs += elapsed;
        state.SetIterationTime(elapsed / 1e9 / batch);
    }
    double ops = static_cast<double>(state.iterations()) * batch;
    state.counters["baseline_ns"] = baseNs / ops;
    state.counters["ratio"] = pathNs / baseNs;
    state.counters["allocs"] = static_cast<double>(allocations) / ops;
}

void nothing() {}

// A panel in a chosen state, with the events that move it.
struct Panel {
    Panel() : script(load_vesk_client_script(&benchHost, "")) {}
    ~Panel() { delete script; }
    void event(ControlEvent& e) { script->callback(e.data(), 2); }
    vesk_client_callback* script;
    ControlEvent feed{"1", "OS_3", "button=pressed"};
    ControlEvent source{"1", "SourceSel", "index=17"};
    ControlEvent noSource{"1", "SourceSel", "index=-1"};
    ControlEvent take{"1", "Take", "button=pressed"};
    ControlEvent clear{"1", "Clear", "button=pressed"};
};

void statesheet(const char* look, const char* control) {
    char text[96];
    std::snprintf(text, sizeof text, "TP 'statesheet=%s' '%d' '%s'", look, 1, control);
    baselineSend(text);
}

void BM_LabelRevertive(benchmark::State& state) {
    Panel panel;
    Revertive record(7, 15, "OS 3");
    sideBySide(
        state, 64, nothing, [&] { panel.script->callback(record.data(), 1); },
        [&] {
            char text[96];
            const revertiveRecord* r = static_cast<const revertiveRecord*>(record.data());
            std::snprintf(text, sizeof text, "TP 'text=%s' '%d' 'UMD_%d'", r->text, 1,
                          r->index - 11);
            baselineSend(text);
        });
}

void BM_FeedButton(benchmark::State& state) {
    Panel panel;
    sideBySide(
        state, 1, [&] { panel.event(panel.clear); }, [&] { panel.event(panel.feed); },
        [] { statesheet("KTSourceSelected", "OS_3"); });
}

void BM_SourcePickArms(benchmark::State& state) {
    Panel panel;
    panel.event(panel.feed);
    sideBySide(
        state, 1, [&] { panel.event(panel.noSource); }, [&] { panel.event(panel.source); },
        [] {
            char text[32];
            statesheet("KT_TakeHigh", "Take");
            std::snprintf(text, sizeof text, "ET %d %d", 1, 1000);
            baselineSend(text);
            std::snprintf(text, sizeof text, "CE '%d' '%s'", 1, "Take");
            baselineSend(text);
        });
}

void BM_TakeRoutes(benchmark::State& state) {
    Panel panel;
    sideBySide(
        state, 1,
        [&] {
            panel.event(panel.feed);
            panel.event(panel.source);
        },
        [&] { panel.event(panel.take); },
        [] {
            char text[64];
            std::snprintf(text, sizeof text, "RC %d %d %d ',%s' %d", 5, 17, 193, "2", 0);
            baselineSend(text);
            std::snprintf(text, sizeof text, "TP '%s' '%d' '%s'", "index=0", 1, "SourceSel");
            baselineSend(text);
            statesheet("KTSourceDeselected", "OS_3");
            std::snprintf(text, sizeof text, "ET %d", 1);
            baselineSend(text);
            std::snprintf(text, sizeof text, "CD '%d' '%s'", 1, "Take");
            baselineSend(text);
        });
}

void BM_FlashTick(benchmark::State& state) {
    Panel panel;
    sideBySide(
        state, 14,
        [&] {
            panel.event(panel.feed);
            panel.event(panel.source); // re-arms: fifteen ticks to go
        },
        [&] { panel.script->callback(timerData(1), 4); },
        [] { statesheet("KT_TakeLow", "Take"); });
}

void BM_ParameterMessage(benchmark::State& state) {
    Panel panel;
    panel.script->callback(const_cast<char*>("myParam=abc"), 3);
    std::vector<void*> replies;
    replies.reserve(64);
    sideBySide(
        state, 64,
        [&] {
            for (void* r : replies)
                panel.script->callback(r, 5);
            replies.clear();
        },
        [&] { replies.push_back(panel.script->callback(const_cast<char*>("return=all"), 3)); },
        [] {
            char text[64];
            std::snprintf(text, sizeof text, "myParam=%s", "abc");
            baselineSend(text);
        });
    for (void* r : replies)
        panel.script->callback(r, 5);
}

void BM_HandBack(benchmark::State& state) {
    Panel panel;
    panel.script->callback(const_cast<char*>("myParam=abc"), 3);
    std::vector<void*> replies;
    size_t next = 0;
    sideBySide(
        state, 64,
        [&] {
            replies.clear();
            next = 0;
            for (int i = 0; i < 64; ++i)
                replies.push_back(panel.script->callback(const_cast<char*>("return=all"), 3));
        },
        [&] { panel.script->callback(replies[next++], 5); },
        [] { baselineSend(""); });
}

std::string thirtyTwoParts() {
    std::string text = "name";
    for (int i = 0; i < 32; ++i)
        text += "." + std::to_string(i);
    return text + "=value";
}

void BM_Parse32Parts(benchmark::State& state) {
    std::string text = thirtyTwoParts();
    sideBySide(
        state, 64, nothing,
        [&] {
            dottedMessage m(text.c_str());
            benchmark::DoNotOptimize(m.partCount);
        },
        [&] {
            char copy[256];
            std::snprintf(copy, sizeof copy, "%s", text.c_str());
            baselineSend(copy);
        });
}

void BM_Decode40Words(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += (i % 5 == 0 ? "'quoted word' " : "word ");
    sideBySide(
        state, 64, nothing,
        [&] {
            decodeVESKString d(text.c_str(), '\'');
            benchmark::DoNotOptimize(d.tokenCount);
        },
        [&] {
            char copy[512];
            std::snprintf(copy, sizeof copy, "%s", text.c_str());
            baselineSend(copy);
        });
}

// The numeric commands, through a script of the same base.
class BaseOnly : public vesk_script_helper {
  public:
    BaseOnly() : vesk_script_helper(&benchHost, "") {}
    void controlCallback(controlEventView&) override {}
    int revertiveCallback(revertiveView&) override { return 0; }
    vesk_string parameterCallback(messageView&) override { return vesk_string(); }
    void timerCallback(int) override {}
};

void numeric(benchmark::State& state, const std::function<void(BaseOnly&)>& command,
             const char* format, int a, int b, int c) {
    BaseOnly script;
    sideBySide(
        state, 64, nothing, [&] { command(script); },
        [&] {
            char text[48];
            std::snprintf(text, sizeof text, format, a, b, c);
            baselineSend(text);
        });
}

void BM_RouterRegister(benchmark::State& s) {
    numeric(s, [](BaseOnly& b) { b.routerRegister(7, 12, 21, false); }, "RR %d %d %d", 7, 12, 21);
}
void BM_RouterPoll(benchmark::State& s) {
    numeric(s, [](BaseOnly& b) { b.routerPoll(7, 12, 21); }, "RP %d %d %d", 7, 12, 21);
}
void BM_RouterUnregister(benchmark::State& s) {
    numeric(s, [](BaseOnly& b) { b.routerUnregister(7); }, "RU %d", 7, 0, 0);
}
void BM_TimerStart(benchmark::State& s) {
    numeric(s, [](BaseOnly& b) { b.timerStart(1, 1000); }, "ET %d %d", 1, 1000, 0);
}
void BM_TimerStop(benchmark::State& s) {
    numeric(s, [](BaseOnly& b) { b.timerStop(1); }, "ET %d", 1, 0, 0);
}

} // namespace

BENCHMARK(BM_LabelRevertive)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_FeedButton)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_SourcePickArms)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_TakeRoutes)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_FlashTick)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_ParameterMessage)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_HandBack)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_Parse32Parts)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_Decode40Words)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_RouterRegister)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_RouterPoll)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_RouterUnregister)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_TimerStart)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_TimerStop)->UseManualTime()->Iterations(20000);

BENCHMARK_MAIN();
