// The emulated route: a 32-bit Windows panel script DLL run on the CPU
// emulator. The host's callback object, its records and its reply buffers
// live in emulated memory at the 32-bit layouts a Windows host uses; calls
// follow the Microsoft conventions (cdecl export, thiscall slots).
#ifndef EMULATED_ROUTE_H
#define EMULATED_ROUTE_H

#include "emulated_process.h"
#include "script_route.h"

#include <memory>

class EmulatedRoute : public ScriptRoute {
  public:
    // The DLL's imports of the `runtime` DLLs are served by panel-host.
    explicit EmulatedRoute(RuntimeDlls runtime);
    // Loads the DLL and its imports; false with the reason.
    bool open(const std::string& path, std::string& error);

    const std::string& folder() const override { return folder_; }
    void useEmptyPath() override { emptyPath_ = true; }
    bool limitInstructionsPerCall(std::uint64_t budget) override;
    CallOutcome load(ScriptHostSide& host, bool& created) override;
    CallOutcome revertive(int device, int index, const std::string& text) override;
    CallOutcome controlEvent(const std::string& panel, const std::string& control,
                             const std::string& message) override;
    CallOutcome parameter(const std::optional<std::string>& message,
                          std::optional<ScriptReply>& reply) override;
    CallOutcome tick(int timer) override;
    CallOutcome handBack(ScriptAddress buffer) override;
    CallOutcome notify(int type) override;
    CallOutcome destroy() override;
    bool rewind() override;
    std::optional<CodeCoverage> coverage() const override;
    bool logCompares() override;
    void startCountingHits() override;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> hitCounts() const override;
    std::vector<std::uint32_t> comparedValues() const override;
    std::vector<Comparison> takeComparisons() override;
    void forgetComparisons() override;

    EmulatedProcess& process() { return process_; }

  private:
    // Bump placement of records in the host's area, from its start at each call.
    class RecordArea {
      public:
        explicit RecordArea(X86Machine& machine) : machine_(machine) {}
        void reset() { next_ = first; }
        // The address of a copy of the bytes, or 0 when the area is full.
        std::uint32_t put(const void* bytes, std::size_t size);
        std::uint32_t putText(const std::string& text) {
            return put(text.c_str(), text.size() + 1);
        }
        static constexpr std::uint32_t first = EmulatedProcess::hostBase + 0x20000;

      private:
        X86Machine& machine_;
        std::uint32_t next_ = first;
    };

    std::uint32_t onHostCallback(const StubCall& call);
    std::uint32_t lendReply(const HostReply& reply, std::uint32_t site);
    std::uint32_t putMessage(const std::string& message);
    CallOutcome callScript(std::uint32_t data, std::int32_t type, std::uint32_t* result = nullptr);
    CallOutcome outcomeOf(const EmulatedProcess::CallResult& result);
    void reportLiveBlocks();

    EmulatedProcess process_;
    EmulatedHeap replies_; // the host's reply buffers
    EmulatedHeap::Books savedReplies_;
    RecordArea records_;
    std::string folder_;
    std::uint32_t export_ = 0;
    std::uint32_t hostObject_ = 0;
    std::uint32_t pathText_ = 0;
    std::uint32_t emptyText_ = 0;
    bool emptyPath_ = false;
    std::uint32_t script_ = 0;
    ScriptHostSide* host_ = nullptr;
};

#endif
