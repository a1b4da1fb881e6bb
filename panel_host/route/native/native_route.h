// The native route: a script library of this machine's own kind, loaded with
// the system loader and called directly. Its records are the C++ structs of
// the boundary headers, so host and script share one layout by construction.
#ifndef NATIVE_ROUTE_H
#define NATIVE_ROUTE_H

#include "comparison_log.h"
#include "script_abi.h"
#include "script_library.h"
#include "script_route.h"

#include <deque>
#include <memory>
#include <set>
#include <vector>

class NativeRoute : public ScriptRoute {
  public:
    // Takes a loaded library (check library->loaded() first).
    explicit NativeRoute(std::unique_ptr<ScriptLibrary> library);
    ~NativeRoute() override;

    const std::string& folder() const override { return library_->folder(); }
    void useEmptyPath() override { emptyPath_ = true; }
    std::optional<std::pair<long long, long long>> heldBlocks() const override;
    // The library's guards, when it was built with them (the guards preset).
    std::optional<CodeCoverage> coverage() const override;
    bool logCompares() override;
    void startCountingHits() override;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> hitCounts() const override;
    std::vector<std::uint32_t> comparedValues() const override;
    std::vector<Comparison> takeComparisons() override;
    void forgetComparisons() override;
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

  private:
    // The host's callback object as the script holds it.
    class Endpoint : public HostCallbackBase {
      public:
        explicit Endpoint(NativeRoute& route) : route_(route) {}
        void* callback(void* data, int type) override { return route_.fromScript(data, type); }

      private:
        NativeRoute& route_;
    };

    void* fromScript(void* data, int type);
    void* serveScript(void* data, int type);
    // Reports a breach when the bytes at `record` differ from `before`.
    void checkUnchanged(const void* record, const std::vector<char>& before, const char* what);
    void* replyBuffer(const HostReply& reply);
    CallOutcome deliver(void* data, int type, void** result = nullptr);

    // Told by our string library of each comparison, for the route watching.
    static void onStringCompare(int kind, const char* left, const char* right);
    using WatchFunction = void (*)(void (*)(int, const char*, const char*));
    WatchFunction watchStrings_ = nullptr;
    ComparisonLog comparisons_;

    std::unique_ptr<ScriptLibrary> library_;
    Endpoint endpoint_;
    ScriptHostSide* host_ = nullptr;
    ScriptObject* script_ = nullptr;
    bool emptyPath_ = false;
    std::set<void*> lent_;                // handed-back replies not yet back; freed at the end
    std::deque<std::string> keptReplies_; // replies the host keeps; a deque keeps them in place
};

#endif
