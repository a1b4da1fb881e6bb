// The base of every panel script: stores the host and the script's path,
// dispatches the host's notifications to the handler slots, and builds every
// command the script sends to the host.
//
// Virtual slot order is part of the binary interface and stays fixed:
//   0 destructor, 1 callback, 2 controlCallback, 3 revertiveCallback,
//   4 parameterCallback, 5 notify7Callback, 6 timerCallback, 7 notify6Callback.
// Everything runs on the host's thread, one call at a time; nothing is locked.
#ifndef VESK_SCRIPT_HELPER_H
#define VESK_SCRIPT_HELPER_H

#include "vesk_client_callback.h"
#include "vesk_string.h"
#include "views.h"

#include <stddef.h>

class vesk_script_helper : public vesk_client_callback {
  public:
    // Sends nothing; host may be null, and then nothing is ever sent.
    vesk_script_helper(vesk_client_callback* host, const char* path);
    // Sends "AS" to the host (when there is one) after the script's own teardown.
    virtual ~vesk_script_helper();

    // The dispatcher; only the host calls it.
    virtual void* callback(void* data, int type);

    // Handlers; the records behind the views are valid for the call only.
    virtual void controlCallback(controlEventView& event) = 0;
    virtual int revertiveCallback(revertiveView& revertive) = 0;
    // The reply to a parameter message; empty for none.
    virtual vesk_string parameterCallback(messageView& message) = 0;
    virtual void notify7Callback(notificationView& notification);
    virtual void timerCallback(int timerId) = 0;
    virtual void notify6Callback(notificationView& notification);

    // Commands to the host. Each sends one text with callback(text, 0), or
    // nothing when there is no host; a reply that is read goes back with type 5.
    bool panelShow(const vesk_string& panel, const vesk_string& layoutFile,
                   const vesk_string& third);
    void textPut(const vesk_string& property, const vesk_string& value, const vesk_string& panel,
                 const vesk_string& control);
    void textPut(const vesk_string& propertyAndValue, const vesk_string& panel,
                 const vesk_string& control);
    void textGet(const vesk_string& property, const vesk_string& panel,
                 const vesk_string& control, vesk_string& result);
    void controlEnable(const vesk_string& panel, const vesk_string& control);
    void controlDisable(const vesk_string& panel, const vesk_string& control);
    bool getDev(vesk_string instrument, int* first, int* second);
    vesk_stringlist getIdList(const vesk_string& panel, const vesk_string& prefix);
    void routerCrosspoint(int device, int source, int destination, const vesk_string& extra,
                          bool flag);
    void routerRegister(int device, int first, int last, bool add);
    void routerPoll(int device, int first, int last);
    void routerUnregister(int device);
    void timerStart(int timerId, int period);
    void timerStop(int timerId);

    // Fills format's placeholders with the nine texts in turn and writes the
    // result to the debug output, as it is.
    void debug(const vesk_string& format, const vesk_string& a1, const vesk_string& a2,
               const vesk_string& a3, const vesk_string& a4, const vesk_string& a5,
               const vesk_string& a6, const vesk_string& a7, const vesk_string& a8,
               const vesk_string& a9);

    // Applies an alarm action to every control of panel 1 whose id starts "alm_".
    void alarmAction(const vesk_string& action);

    // Scripts live on the script allocator; a failed allocation yields null
    // and no constructor runs.
    static void* operator new(size_t bytes) noexcept;
    static void operator delete(void* memory);

  protected:
    vesk_client_callback* host;
    vesk_string scriptPath;
    bool alarmHandling;

  private:
    vesk_script_helper(const vesk_script_helper&) = delete;
    vesk_script_helper& operator=(const vesk_script_helper&) = delete;

    void* dispatchParameter(const char* text);
    void dispatchControlEvent(controlEventView& event);
    bool filterAlarmEvent(controlEventView& event);
    // Sends a command; returns the host's reply (null without a host).
    void* send(const char* command);
    void handBack(void* reply);
};

#endif
