// A script that breaks the host's rules on request, so the host's checks can
// be seen to catch each breach. The parameter message names the breach.
#include "vesk_client_callback.h"

#include <cstring>
#include <string>

namespace {

class MisbehavingScript : public vesk_client_callback {
  public:
    explicit MisbehavingScript(vesk_client_callback* host) : host_(host) {}
    ~MisbehavingScript() override {
        host_->callback(const_cast<char*>("AS"), 0);
        if (lateCall_)
            host_->callback(const_cast<char*>("TP 'text=late' '1' 'UMD_1'"), 0);
    }
    void* callback(void* data, int type) override {
        if (type != 3 || data == nullptr)
            return nullptr;
        std::string mode(static_cast<const char*>(data));
        if (mode == "keep-reply")
            host_->callback(const_cast<char*>("SD 'DUD Audio Router'"), 0);
        if (mode == "double-hand-back") {
            void* reply = host_->callback(const_cast<char*>("SD 'DUD Audio Router'"), 0);
            host_->callback(reply, 5);
            host_->callback(reply, 5);
        }
        if (mode == "bad-command")
            host_->callback(const_cast<char*>("RR 7 twelve 21"), 0);
        if (mode == "late-call")
            lateCall_ = true;
        return nullptr;
    }

  private:
    vesk_client_callback* host_;
    bool lateCall_ = false;
};

} // namespace

extern "C" __attribute__((visibility("default"))) vesk_client_callback*
load_vesk_client_script(vesk_client_callback* host, const char*) {
    return new MisbehavingScript(host);
}
