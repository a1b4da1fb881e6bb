// A test script of the same base as PELDAN with alarm handling switched on,
// so the Windows checks can reach textGet and its debug line.
#include "vesk_script_helper.h"

class AlarmProbe : public vesk_script_helper {
  public:
    AlarmProbe(vesk_client_callback* host, const char* path) : vesk_script_helper(host, path) {
        alarmHandling = true;
    }
    void controlCallback(controlEventView&) override {}
    int revertiveCallback(revertiveView&) override { return 0; }
    vesk_string parameterCallback(messageView&) override { return vesk_string(); }
    void timerCallback(int) override {}
};

extern "C" __declspec(dllexport) vesk_client_callback* load_vesk_client_script(
    vesk_client_callback* host, const char* path) {
    return new AlarmProbe(host, path);
}
