// The Studio A outside-source panel: the operator picks an audio outside-source
// feed (OS_1, OS_2, ...) and a source from the paged list, and Take routes the
// source to the feed's packager destination; ten labels show what the audio
// router reports for destinations 12 to 21.
#ifndef PELDAN_H
#define PELDAN_H

#include "vesk_script_helper.h"

class PELDAN : public vesk_script_helper {
  public:
    // Shows the panel, disables Take, looks up the two devices and
    // subscribes to the ten label destinations.
    PELDAN(vesk_client_callback* host, const char* path);
    // Unregisters from the audio router; the base then says "AS".
    virtual ~PELDAN();

    virtual void controlCallback(controlEventView& event);
    virtual int revertiveCallback(revertiveView& revertive);
    virtual vesk_string parameterCallback(messageView& message);
    virtual void timerCallback(int timerId);

  private:
    friend class PeldanProbe; // test-only read access to the selection state

    void updateTake();
    void clearSelection();
    void chooseFeed(const vesk_string& controlId);
    void chooseSource(const vesk_string& value);
    void changePage(const vesk_string& page);
    void take();
    void showLook(const char* statesheet, const vesk_string& control);
    vesk_string feedButton() const;
    vesk_string parameterReply(const vesk_string& name, const vesk_string& value);

    vesk_string myParam;
    vesk_string instanceName;
    int sourceIndex;
    int destinationIndex;
    int flashCount;
    int packagerDevice;
    int audioRouterDevice;
    int osNumber;
    bool sourceChosen;
    bool osChosen;
    bool takeEnabled;
};

#endif
