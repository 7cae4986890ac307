#pragma once
// IEventLoop: an event loop that a window backend without a thread of its own runs on. On Linux it
// is the VST3 host's run loop (adapted by the VST3 view); tools and tests bring their own. The loop
// calls its clients on its own thread, which becomes the window's (and the editor's) GUI thread.
//
//   loop.watchFile(ConnectionNumber(display), this);   // onFileReady when the X connection is readable
//   loop.startTimer(15, this);                         // onTimer about every 15 ms
//   ...
//   loop.stopTimer(this); loop.unwatchFile(this);      // before the client goes away
//
// Thread contract: [main-thread] (the loop's thread) for every operation of both interfaces. A
// client is called only between its registration and its unregistration.

#include <cstdint>

namespace korvo {

class IEventLoopClient {
public:
    virtual ~IEventLoopClient() = default;
    // The watched descriptor is readable.
    virtual void onFileReady(int fd) = 0;
    // The timer fired.
    virtual void onTimer() = 0;
};

class IEventLoop {
public:
    virtual ~IEventLoop() = default;
    // Watches fd for reading on behalf of client (one descriptor per client). False on failure.
    virtual bool watchFile(int fd, IEventLoopClient* client) = 0;
    virtual void unwatchFile(IEventLoopClient* client) = 0;
    // Calls client->onTimer every periodMs milliseconds (one timer per client). False on failure.
    virtual bool startTimer(std::uint32_t periodMs, IEventLoopClient* client) = 0;
    virtual void stopTimer(IEventLoopClient* client) = 0;
};

}  // namespace korvo
