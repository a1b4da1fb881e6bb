// A 32-bit Windows host that loads PELDAN.dll as the panel host does and
// checks every command text through start-up, each notification type, a
// parameter message with its reply buffer, and teardown.
#include "check_report.h"
#include "host_records_layout.h"
#include "vesk_client_callback.h"
#include "win32_api.h"

#include <stdlib.h>
#include <string.h>

namespace {

// The host lives on the heap: its log is too big for a stack without __chkstk.
enum { maxCommands = 64, commandBytes = 160, maxReplies = 8, maxLive = 16 };

class CheckHost : public vesk_client_callback {
  public:
    CheckHost() : count(0), replyCount(0), liveCount(0), breaches(0), given(0) {}
    void* callback(void* data, int type) override {
        if (type == 5)
            return handBack(data);
        if (type != 0) {
            ++breaches;
            return 0;
        }
        const char* command = static_cast<const char*>(data);
        if (count < maxCommands) {
            strncpy(log[count], command, commandBytes - 1);
            log[count][commandBytes - 1] = '\0';
            ++count;
        }
        for (int i = 0; i < replyCount; ++i) {
            if (strcmp(command, replyFor[i]) == 0)
                return giveOut(replies[i]);
        }
        return 0;
    }
    void reply(const char* command, const char* text) {
        replyFor[replyCount] = command;
        replies[replyCount] = text;
        ++replyCount;
    }
    void forget() { count = 0; }

    char log[maxCommands][commandBytes];
    int count;
    const char* replyFor[maxReplies];
    const char* replies[maxReplies];
    int replyCount;
    void* live[maxLive];
    int liveCount;
    int breaches;
    int given;

  private:
    void* giveOut(const char* text) {
        size_t bytes = strlen(text) + 1;
        void* buffer = malloc(bytes);
        memcpy(buffer, text, bytes);
        live[liveCount++] = buffer;
        ++given;
        return buffer;
    }
    void* handBack(void* buffer) {
        for (int i = 0; i < liveCount; ++i) {
            if (live[i] == buffer) {
                free(buffer);
                live[i] = live[--liveCount];
                return 0;
            }
        }
        ++breaches;
        return 0;
    }
};

void expectCommands(CheckReport& report, CheckHost& host, const char* const* expected, int n,
                    const char* what) {
    char label[160];
    for (int i = 0; i < n; ++i) {
        snprintf(label, sizeof label, "%s, command %d", what, i + 1);
        checkText(report, i < host.count ? host.log[i] : 0, expected[i], label);
    }
    snprintf(label, sizeof label, "%s: %d commands sent, %d expected", what, host.count, n);
    check(report, host.count == n, label);
    host.forget();
}

// A control event whose message is "name=value", as the host parses it.
struct ControlEvent {
    ControlEvent(const char* panel, const char* id, const char* name, const char* value) {
        memset(&message, 0, sizeof message);
        message.name = name;
        for (int i = 0; i < 32; ++i)
            message.parts[i] = "";
        message.value = value;
        message.hasValue = 1;
        memset(&record, 0, sizeof record);
        record.panel = panel;
        record.controlId = id;
        record.message = &message;
    }
    HostMessage message;
    HostControlEvent record;
};

void* deliver(vesk_client_callback* script, ControlEvent& event) {
    return script->callback(&event.record, 2);
}

typedef vesk_client_callback*(__cdecl* LoadScript)(vesk_client_callback*, const char*);

LoadScript findExport(CheckReport& report, const char* file) {
    void* library = LoadLibraryA(file);
    check(report, library != 0, "LoadLibraryA finds the script library");
    if (library == 0)
        return 0;
    LoadScript load = reinterpret_cast<LoadScript>(GetProcAddress(library, "load_vesk_client_script"));
    check(report, load != 0, "GetProcAddress finds load_vesk_client_script");
    return load;
}

void checkPanel(CheckReport& report) {
    LoadScript load = findExport(report, "PELDAN.dll");
    if (load == 0)
        return;
    CheckHost& host = *new CheckHost;
    host.reply("SD 'DUD VESK Packager'", "5");
    host.reply("SD 'DUD Audio Router'", "7");
    vesk_client_callback* panel = load(&host, "C:\\panels");
    check(report, panel != 0, "the export returns the panel");
    const char* const startup[] = {"PS '1' 'C:\\panels/PELDAN.vesk_ui'",
                                   "CD '1' 'Take'",
                                   "TP 'button.001=released' '1' 'GrpSelect'",
                                   "SD 'DUD VESK Packager'",
                                   "SD 'DUD Audio Router'",
                                   "RR 7 12 21",
                                   "RP 7 12 21"};
    expectCommands(report, host, startup, 7, "start-up");

    HostRevertive revertive;
    memset(&revertive, 0, sizeof revertive);
    revertive.device = 7;
    revertive.index = 12;
    strcpy(revertive.text, "MIC 1");
    check(report, panel->callback(&revertive, 1) == 0, "type 1 yields null");
    const char* const label[] = {"TP 'text=MIC 1' '1' 'UMD_1'"};
    expectCommands(report, host, label, 1, "revertive");

    ControlEvent feed("1", "OS_3", "button", "pressed");
    ControlEvent source("1", "SourceSel", "index", "17");
    ControlEvent take("1", "Take", "button", "pressed");
    check(report, deliver(panel, feed) == 0, "type 2 yields null");
    deliver(panel, source);
    panel->callback(reinterpret_cast<void*>(1), 4);
    panel->callback(reinterpret_cast<void*>(4), 4);
    deliver(panel, take);
    const char* const typicalTake[] = {"TP 'statesheet=KTSourceSelected' '1' 'OS_3'",
                                       "TP 'statesheet=KT_TakeHigh' '1' 'Take'",
                                       "ET 1 1000",
                                       "CE '1' 'Take'",
                                       "TP 'statesheet=KT_TakeLow' '1' 'Take'",
                                       "ET 4",
                                       "RC 5 17 193 ',2' 0",
                                       "TP 'index=0' '1' 'SourceSel'",
                                       "TP 'statesheet=KTSourceDeselected' '1' 'OS_3'",
                                       "ET 1",
                                       "CD '1' 'Take'"};
    expectCommands(report, host, typicalTake, 11, "typical take");

    check(report, panel->callback(const_cast<char*>("myParam=abc"), 3) == 0,
          "setting myParam yields null");
    char* reply = static_cast<char*>(panel->callback(const_cast<char*>("return=all"), 3));
    checkText(report, reply, "myParam=abc", "type-3 reply buffer");
    if (reply != 0)
        check(report, panel->callback(reply, 5) == 0, "type 5 hands the reply back");
    int opaque = 0;
    check(report, panel->callback(&opaque, 6) == 0 && panel->callback(&opaque, 7) == 0,
          "types 6 and 7 yield null");
    check(report, panel->callback(&opaque, 0) == 0 && panel->callback(&opaque, 8) == 0 &&
                      panel->callback(&opaque, -1) == 0,
          "types 0, 8 and -1 are ignored");
    check(report, panel->callback(0, 5) == 0, "type 5 with null does nothing");
    check(report, host.count == 0, "parameters and ignored types send nothing");

    delete panel;
    const char* const teardown[] = {"RU 7", "AS"};
    expectCommands(report, host, teardown, 2, "teardown");
    check(report, host.given == 2 && host.liveCount == 0, "every SD reply came back by type 5");
    check(report, host.breaches == 0, "no unknown hand-back or type");
    delete &host;
}

// A script of the same base with alarm handling on reaches textGet, whose
// mismatch line must reach OutputDebugStringA.
void checkAlarmProbe(CheckReport& report) {
    LoadScript load = findExport(report, "alarm_probe.dll");
    if (load == 0)
        return;
    CheckHost& host = *new CheckHost;
    host.reply("XI '1' 'alm_'", "alm_1");
    host.reply("TG '1' 'alm_1' 'value'", "colour=red");
    vesk_client_callback* script = load(&host, "");
    ControlEvent ackAll("1", "AckAll", "button", "pressed");
    deliver(script, ackAll);
    const char* const sent[] = {"XI '1' 'alm_'", "TP 'alarm=4' '1' 'alm_1'",
                                "TG '1' 'alm_1' 'value'"};
    expectCommands(report, host, sent, 3, "alarm action");
    delete script;
    const char* const teardown[] = {"AS"};
    expectCommands(report, host, teardown, 1, "alarm probe teardown");
    check(report, host.given == 2 && host.liveCount == 0, "XI and TG replies came back");
    delete &host;
}

} // namespace

int main() {
    CheckReport report = {0, 0};
    checkPanel(report);
    checkAlarmProbe(report);
    return finish(report, "host_check");
}
