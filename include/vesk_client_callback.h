// The one interface between a panel host and a panel script.
//
// Both sides implement it: the host's object receives the script's commands
// and hand-backs, the script's object receives the host's notifications.
// Slot order is part of the binary interface and never changes:
//   slot 0: the virtual destructor (the host deletes the script through it;
//           the script never deletes the host's object);
//   slot 1: callback.
// Every call runs on the host's thread, one call at a time.
#ifndef VESK_CLIENT_CALLBACK_H
#define VESK_CLIENT_CALLBACK_H

// The meaning of callback's type argument; one numbering serves both sides.
enum vesk_callback_type {
    vesk_command = 0,       // script to host: a command text; returns the host's reply or null
    vesk_revertive = 1,     // host to script: a revertiveRecord, valid for the call only
    vesk_control_event = 2, // host to script: a controlEventRecord, valid for the call only
    vesk_parameter = 3,     // host to script: a message text or null; returns a reply buffer or null
    vesk_timer_tick = 4,    // host to script: the timer id carried as the pointer's integer value
    vesk_hand_back = 5,     // either side: a buffer the receiver returned earlier, to be released
    vesk_notify6 = 6,       // host to script: opaque data, not read
    vesk_notify7 = 7        // host to script: opaque data, not read
};

class vesk_client_callback {
  public:
    virtual ~vesk_client_callback() {}
    // data and result by type as above; a non-null result is the callee's
    // buffer and goes back to it with type 5 once the caller has copied it.
    virtual void* callback(void* data, int type) = 0;
};

#endif
