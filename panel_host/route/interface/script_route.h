// The one way panel-host reaches a panel script, whatever the script is: a
// native shared object called directly, or a 32-bit Windows DLL run on a CPU
// emulator. PanelHost and the studio see only these two interfaces; each
// route keeps its own record layouts and buffer handling behind them.
//
// Threads: a route is used from one thread at a time; it calls its
// ScriptHostSide only from inside one of its own calls, on that thread.
#ifndef SCRIPT_ROUTE_H
#define SCRIPT_ROUTE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A buffer's address as the script sees it (a host pointer natively, a
// 32-bit address when emulated). Only the route that gave it out reads it.
using ScriptAddress = std::uint64_t;

// The host's answer to a command.
struct HostReply {
    std::string text;
    bool handedBack = true; // the script must return it with type 5; false: the host keeps it
};

// What the script asks of the host, decoded by the route. Implemented by PanelHost.
class ScriptHostSide {
  public:
    virtual ~ScriptHostSide() = default;
    // Type 0. A null text arrives as nothing. Returns the reply, if any.
    virtual std::optional<HostReply> onCommand(const std::optional<std::string>& text) = 0;
    // The route gave the script a handed-back reply at this address.
    virtual void onReplyLent(ScriptAddress at, const std::string& text) = 0;
    // Type 5: true when `at` is a lent reply not yet back; the route then releases it.
    virtual bool onHandBack(ScriptAddress at) = 0;
    // Any type other than 0 and 5 that the script sent.
    virtual void onOtherType(int type) = 0;
    // A line the script wrote to the system debug output.
    virtual void onDebugOutput(const std::string& text) = 0;
    // A breach the route saw that does not end the session (a heap error, say).
    virtual void onRouteBreach(const std::string& what) = 0;
};

// The outcome of one call into the script: no fault, or why the script can
// no longer be called (a fault in its code, a broken calling convention, a
// call that never returned). After a fault only the route's destructor runs.
struct CallOutcome {
    std::optional<std::string> fault;
    bool ok() const { return !fault; }
};

// Code of the script's modules: a module (its file name), an offset in it, a size.
struct CodeRange {
    std::string module;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

// What of the script's code has run, where the route can see it (the
// emulated route watches every block it runs): the executable bytes of each
// module, the blocks reached since the library was opened, and the exports.
// A module whose name ends so counts compiler guards (one unit each) where
// others count bytes: a native library built with coverage guards.
constexpr const char* guardModuleSuffix = " [guards]";

// A module whose source lines can be read: its file (a DLL whose own PDB lies
// beside it, or a library with debug information) and, for a guards module,
// the address of each guard's block in that file (unit i at unitAddresses[i]);
// a module that counts bytes has none: its offsets are its addresses.
struct SymbolSource {
    std::string module;
    std::string path;
    std::vector<std::uint32_t> unitAddresses;
};

struct CodeCoverage {
    std::vector<CodeRange> code;
    std::vector<CodeRange> reached;
    std::vector<std::pair<CodeRange, std::string>> exports; // at offset, size 0
    std::vector<SymbolSource> symbols;
};

// One comparison the script made through the string library, the C runtime
// or its own code, both operands as texts (numbers in signed decimal), each
// cut to maxOperand bytes: what the search puts in place of a value it sent.
struct Comparison {
    enum Kind : std::uint8_t {
        equal,      // texts compared for equality or order
        prefix,     // left tested for beginning with right
        number,     // numbers compared (for order too, so right + 1 and right - 1 count)
        conversion, // the text left read as the number right (not a comparison: a link)
    };
    static constexpr std::size_t maxOperand = 64;
    Kind kind = equal;
    std::string left, right;
    int step = -1; // the session's step it was made in, where its caller tells
};

// The script's reply buffer to a parameter message.
struct ScriptReply {
    ScriptAddress at = 0;
    std::string text;
};

// One loaded panel script library, reached through its typed notifications.
class ScriptRoute {
  public:
    virtual ~ScriptRoute() = default;
    // The folder the library lives in, as the host passes it to the script.
    virtual const std::string& folder() const = 0;
    // From now on load passes an empty path instead of the folder.
    virtual void useEmptyPath() = 0;
    // A route that counts instructions faults any later call that runs more
    // than `budget` of them; false when it cannot count (native code).
    virtual bool limitInstructionsPerCall(std::uint64_t budget) {
        (void)budget;
        return false;
    }
    // Blocks and bytes the script holds on a heap the host cannot see into,
    // where the route can count them (native code); the emulated route keeps
    // books of its own heap and reports leaks itself.
    virtual std::optional<std::pair<long long, long long>> heldBlocks() const {
        return std::nullopt;
    }
    // Calls load_vesk_client_script(host, folder); `created` is false when it returned null.
    virtual CallOutcome load(ScriptHostSide& host, bool& created) = 0;
    virtual CallOutcome revertive(int device, int index, const std::string& text) = 0;
    virtual CallOutcome controlEvent(const std::string& panel, const std::string& control,
                                     const std::string& message) = 0;
    // Type 3 with a text (nothing: null); `reply` receives the script's buffer, if any.
    virtual CallOutcome parameter(const std::optional<std::string>& message,
                                  std::optional<ScriptReply>& reply) = 0;
    virtual CallOutcome tick(int timer) = 0;
    // Type 5 with a buffer the script gave out.
    virtual CallOutcome handBack(ScriptAddress buffer) = 0;
    // A notification with null data and no meaning here (types 6 and 7, or 0, 8, -1).
    virtual CallOutcome notify(int type) = 0;
    // Deletes the script through slot 0.
    virtual CallOutcome destroy() = 0;
    // The script's code reached so far; nothing where the route cannot see it.
    virtual std::optional<CodeCoverage> coverage() const { return std::nullopt; }
    // How often each piece of the script's code ran since the last
    // startCountingHits(): a block's address (emulated) or a guard's number
    // (native, built with guards), with its count, 255 at most; nothing
    // where the route cannot see the code run.
    virtual void startCountingHits() {}
    virtual std::vector<std::pair<std::uint32_t, std::uint8_t>> hitCounts() const { return {}; }
    // From now on, remember the values the script's code compares against,
    // where the route sees its compares (the emulated route's `cmp`s; a
    // native library built with compare tracing); false when it cannot.
    virtual bool logCompares() { return false; }
    // Those values so far, at most a few hundred, in the order first seen.
    virtual std::vector<std::uint32_t> comparedValues() const { return {}; }
    // The comparisons seen since the last call (both operands), once
    // logCompares() was called; each once until forgetComparisons(), at most
    // a few hundred, in the order first seen; nothing where the route cannot
    // see them.
    virtual std::vector<Comparison> takeComparisons() { return {}; }
    // A new session: comparisons seen before count again.
    virtual void forgetComparisons() {}
    // After a delete: back to the state right after the library was opened
    // (memory, heap, settings), for another session without loading it again.
    // False when it cannot; the caller then opens the library anew.
    virtual bool rewind() { return false; }
};

#endif
