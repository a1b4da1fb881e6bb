// What an event stream sends. The server asks whenever the stream may have
// something to say (after wake(), and a few times a second); answers come on
// a server thread and must not block. The server owns the source and drops it
// when the stream ends.
#ifndef EVENT_SOURCE_H
#define EVENT_SOURCE_H

#include <string>

class EventSource {
  public:
    virtual ~EventSource() = default;
    // What to send now; empty when there is nothing.
    virtual std::string next() = 0;
    // The last text a stream gets when the server stops.
    virtual std::string farewell() = 0;
};

#endif
