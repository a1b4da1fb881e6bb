// How long a client may take and how much of the server it may hold. The
// defaults are what `panel-host serve` uses unless told otherwise.
#ifndef SERVER_LIMITS_H
#define SERVER_LIMITS_H

#include <cstddef>

struct ServerLimits {
    int headerSeconds = 5;    // request line to the end of the headers
    int bodySeconds = 10;     // end of the headers to the end of the answer
    int keepAliveSeconds = 5; // idle between requests
    int perAddress = 16;      // connections at once from one address, event streams aside
    int eventStreams = 64;    // event streams at once, from anywhere
    std::size_t bodyBytes = 64 * 1024;
};

#endif
