#pragma once

#include <QString>

#include <cstdint>
#include <functional>

// The record streams that programs hold open on the sound server: how a
// call announces itself, since a calling program opens the microphone for
// as long as the call lasts.
class CallStreams {
public:
    struct Stream {
        // The server's number for the stream, not reused while it runs.
        uint32_t id = 0;
        // The program as it names itself; empty when it does not.
        QString application;
        // The program's executable file name; empty when unknown.
        QString binary;
        // It records what an output plays, not a microphone.
        bool monitor = false;
        // It is one of this program's own streams.
        bool own = false;
    };
    struct Events {
        // A stream opened, or what is known of it changed (it moved to
        // another device): the same id again with the new facts.
        std::function<void(const Stream& stream)> opened;
        std::function<void(uint32_t id)> closed;
    };

    virtual ~CallStreams() = default;

    // From now on `events` hear of every record stream on the main thread,
    // beginning with those open already. When the server goes away its
    // streams count as closed; once it is back they are told again.
    virtual void watch(Events events) = 0;
    // Once it returns nothing more is heard.
    virtual void unwatch() = 0;
};
