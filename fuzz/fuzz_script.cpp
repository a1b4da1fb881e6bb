// Fuzzes the whole panel: the input is decoded into the host's replies and a
// run of notifications of every type number with arbitrary records and texts,
// delivered through load_vesk_client_script and ended by the delete.
// Invariants: Take is enabled only while both choices are made (in the panel
// and as the host last saw it), every reply is handed back exactly once, and
// nothing leaks (LeakSanitizer at exit).
#include "PELDAN.h"
#include "host_records.h"

#include "fuzz_require.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

class PeldanProbe {
  public:
    static bool consistent(vesk_client_callback* script, bool hostSeesEnabled) {
        const PELDAN& p = *static_cast<PELDAN*>(script);
        if (p.takeEnabled && !(p.sourceChosen && p.osChosen))
            return false;
        return p.takeEnabled == hostSeesEnabled;
    }
};

namespace {


class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    uint8_t byte() { return empty() ? 0 : data_[at_++]; }
    int number() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | byte();
        return static_cast<int>(v);
    }
    // A text of up to 255 bytes; byte 0 ends it early.
    std::string text() {
        size_t length = byte();
        std::string t;
        for (size_t i = 0; i < length && !empty(); ++i) {
            char c = static_cast<char>(byte());
            if (c == '\0')
                break;
            t += c;
        }
        return t;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

const char* const controlIds[] = {"OS_3", "OS_03", "OS_", "SourceSel", "GrpSelect",
                                  "Take", "Clear", "UMD_1", "ActionAll", "AckAll"};

class FuzzHost : public vesk_client_callback {
  public:
    explicit FuzzHost(Input& input) : input_(input) {}
    ~FuzzHost() override {
        for (void* reply : live_)
            std::free(reply);
    }
    void* callback(void* data, int type) override {
        if (type == 5) {
            require(live_.erase(data) == 1); // handed back exactly once
            std::free(data);
            return nullptr;
        }
        require(type == 0 && data != nullptr && !closed_);
        std::string command(static_cast<const char*>(data));
        if (command == "AS")
            closed_ = true;
        if (command == "CE '1' 'Take'")
            takeEnabled = true;
        if (command == "CD '1' 'Take'")
            takeEnabled = false;
        std::string keyword = command.substr(0, 3);
        if (keyword == "SD " || keyword == "XI " || keyword == "TG ")
            return reply();
        // Replies to other commands are not read: they stay the host's.
        return input_.byte() % 2 ? const_cast<char*>("OK") : nullptr;
    }
    size_t outstanding() const { return live_.size(); }
    bool takeEnabled = false;

  private:
    // none, empty, huge, an unterminated quote, or fuzzed text
    void* reply() {
        std::string text;
        switch (input_.byte() % 6) {
        case 0:
            return nullptr;
        case 1:
            break;
        case 2:
            text.assign(70000, '7');
            break;
        case 3:
            text = "'unterminated 5 7";
            break;
        default:
            text = input_.text();
        }
        char* buffer = static_cast<char*>(std::malloc(text.size() + 1));
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        live_.insert(buffer);
        return buffer;
    }
    Input& input_;
    std::set<void*> live_;
    bool closed_ = false;
};

void deliverOne(vesk_client_callback* script, Input& in) {
    int type = static_cast<int>(in.byte() % 10) - 1; // -1 to 8
    switch (type) {
    case 1: {
        std::string text = in.text();
        std::vector<char> bytes(sizeof(revertiveRecord) + text.size() + 1, 0);
        auto* record = reinterpret_cast<revertiveRecord*>(bytes.data());
        record->device = in.byte() % 2 ? 7 : in.number();
        record->index = in.byte() % 2 ? 12 + in.byte() % 10 : in.number();
        std::memcpy(record->text, text.c_str(), text.size() + 1);
        script->callback(record, 1);
        break;
    }
    case 2: {
        std::string panel = in.byte() % 4 ? "1" : in.text();
        uint8_t pick = in.byte();
        std::string control = pick < 200 ? controlIds[pick % 10] : in.text();
        std::string message = in.text();
        dottedMessage parsed(message.c_str());
        controlEventRecord record{};
        record.panel = panel.c_str();
        record.controlId = control.c_str();
        record.message = &parsed;
        script->callback(&record, 2);
        break;
    }
    case 3: {
        bool null = in.byte() % 8 == 0;
        std::string text = in.text();
        void* reply = script->callback(null ? nullptr : const_cast<char*>(text.c_str()), 3);
        if (reply != nullptr) {
            require(std::strlen(static_cast<char*>(reply)) > 0);
            script->callback(reply, 5);
        }
        break;
    }
    case 4:
        script->callback(reinterpret_cast<void*>(static_cast<intptr_t>(
                             in.byte() % 4 ? 1 : in.number())),
                         4);
        break;
    case 5:
        script->callback(nullptr, 5);
        break;
    default: { // 0, 6, 7, 8 and -1: opaque data the script must not read
        int opaque = 0;
        require(script->callback(&opaque, type) == nullptr);
    }
    }
}

} // namespace

extern "C" vesk_client_callback* load_vesk_client_script(vesk_client_callback*, const char*);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    FuzzHost host(in);
    std::string path = in.text();
    vesk_client_callback* script = load_vesk_client_script(&host, path.c_str());
    require(script != nullptr);
    require(host.outstanding() == 0);
    for (int steps = 0; steps < 256 && !in.empty(); ++steps) {
        deliverOne(script, in);
        require(PeldanProbe::consistent(script, host.takeEnabled));
        require(host.outstanding() == 0);
    }
    delete script;
    require(host.outstanding() == 0);
    return 0;
}
