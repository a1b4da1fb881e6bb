// Builds the records a host delivers with its notifications.
#ifndef HOST_EVENTS_H
#define HOST_EVENTS_H

#include "dotted_message.h"
#include "host_records.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A control event as the host delivers it: panel, control id and a message
// ("name=value") describing what happened. Valid while it lives.
class ControlEvent {
  public:
    ControlEvent(std::string panel, std::string control, const std::string& message)
        : panel_(std::move(panel)), control_(std::move(control)),
          message_(new dottedMessage(message.c_str())) {
        record_.panel = panel_.c_str();
        record_.controlId = control_.c_str();
        record_.message = message_.get();
    }
    void* data() { return &record_; }

  private:
    std::string panel_;
    std::string control_;
    std::unique_ptr<dottedMessage> message_;
    controlEventRecord record_{};
};

// A revertive record with its text stored in the record itself.
class Revertive {
  public:
    Revertive(int device, int index, const std::string& text)
        : bytes_(sizeof(revertiveRecord) + text.size() + 1, 0) {
        auto* record = reinterpret_cast<revertiveRecord*>(bytes_.data());
        record->device = device;
        record->index = index;
        std::copy(text.begin(), text.end(), record->text);
    }
    void* data() { return bytes_.data(); }

  private:
    std::vector<char> bytes_;
};

inline void* timerData(int id) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(id));
}

#endif
