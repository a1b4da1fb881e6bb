#include "vesk_script_helper.h"

#include "dotted_message.h"
#include "script_memory.h"

#include <stdint.h>
#include <string.h>

vesk_script_helper::vesk_script_helper(vesk_client_callback* hostCallback, const char* path)
    : host(hostCallback), scriptPath(), alarmHandling(false) {
    scriptPath = path;
}

vesk_script_helper::~vesk_script_helper() {
    if (host != 0)
        host->callback(const_cast<char*>("AS"), vesk_command);
}

void* vesk_script_helper::operator new(size_t bytes) noexcept { return scriptAlloc(bytes); }

void vesk_script_helper::operator delete(void* memory) { scriptFree(memory); }

void vesk_script_helper::notify7Callback(notificationView&) {}

void vesk_script_helper::notify6Callback(notificationView&) {}

void* vesk_script_helper::callback(void* data, int type) {
    switch (type) {
    case vesk_revertive: {
        revertiveView revertive(static_cast<const revertiveRecord*>(data));
        revertiveCallback(revertive);
        return 0;
    }
    case vesk_control_event: {
        controlEventView event(static_cast<const controlEventRecord*>(data));
        dispatchControlEvent(event);
        return 0;
    }
    case vesk_parameter:
        return dispatchParameter(static_cast<const char*>(data));
    case vesk_timer_tick:
        timerCallback(static_cast<int>(reinterpret_cast<intptr_t>(data)));
        return 0;
    case vesk_hand_back:
        scriptFree(data);
        return 0;
    case vesk_notify6: {
        notificationView notification(data);
        notify6Callback(notification);
        return 0;
    }
    case vesk_notify7: {
        notificationView notification(data);
        notify7Callback(notification);
        return 0;
    }
    default:
        return 0;
    }
}

void vesk_script_helper::dispatchControlEvent(controlEventView& event) {
    if (alarmHandling && filterAlarmEvent(event))
        return;
    controlCallback(event);
}

void* vesk_script_helper::dispatchParameter(const char* text) {
    dottedMessage message(text);
    // A message whose copy could not be made is dropped rather than handled
    // as an empty one, which would wrongly clear a parameter.
    if (message.buffer == 0 && text != 0 && *text != '\0')
        return 0;
    messageView view(&message);
    vesk_string reply = parameterCallback(view);
    unsigned int length = reply.length();
    if (length == 0)
        return 0;
    char* buffer = static_cast<char*>(scriptAlloc(length + 1));
    if (buffer != 0)
        memcpy(buffer, static_cast<const char*>(reply), length + 1);
    return buffer;
}
