#pragma once

#include <pulse/pulseaudio.h>

#include <optional>
#include <string>

// A connection to the sound server on a main loop thread of its own. The
// thread is named after `threadLabel`; stream callbacks run there with the
// loop's lock held.
class PulseContext {
public:
    explicit PulseContext(const std::string& threadLabel);
    ~PulseContext();

    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    // Connects unless already connected; false when no server answers.
    // Call without the lock.
    bool connect();

    // Holds the loop's lock for its life.
    class Lock {
    public:
        explicit Lock(PulseContext& owner)
            : loop_(owner.loop_)
        {
            pa_threaded_mainloop_lock(loop_);
        }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    pa_threaded_mainloop* loop() const { return loop_; }
    // nullptr until connected.
    pa_context* context() const { return context_; }

    // The server's default source and its sample format ("@DEFAULT_MONITOR@"
    // style names are not resolved here). Call connected, without the lock.
    std::optional<std::string> defaultSourceName();
    std::optional<std::string> defaultSinkName();
    std::optional<pa_sample_spec> sourceSpec(const std::string& name);

    // Waits for `operation` to finish; with the lock held.
    void wait(pa_operation* operation);

private:
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool running_ = false;
};
