#pragma once

#include <pulse/pulseaudio.h>

#include <functional>
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

    // Holds the loop's lock for its life. Another thread may take it again
    // while holding it; on the loop thread, whose callbacks run with the lock
    // held already, it is not taken at all.
    class Lock {
    public:
        explicit Lock(PulseContext& owner)
            : loop_(pa_threaded_mainloop_in_thread(owner.loop_) ? nullptr : owner.loop_)
        {
            if (loop_)
                pa_threaded_mainloop_lock(loop_);
        }
        ~Lock()
        {
            if (loop_)
                pa_threaded_mainloop_unlock(loop_);
        }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    pa_threaded_mainloop* loop() const { return loop_; }
    // nullptr until connected.
    pa_context* context() const { return context_; }
    // Connected and usable now; with the lock held.
    bool ready() const { return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY; }

    // What the owner of a watched context hears, on the loop thread with
    // the lock held.
    struct Watcher {
        // The connection broke: the server died or is restarting.
        std::function<void()> lost;
        // Connected again after `lost`.
        std::function<void()> restored;
        // The default devices changed, or a sink or a source came or went.
        std::function<void()> devicesChanged;
        // A program's record stream opened, changed or closed: the event's
        // type (PA_SUBSCRIPTION_EVENT_NEW, _CHANGE, _REMOVE) and the
        // stream's index. Only a watcher that sets it subscribes to them.
        std::function<void(pa_subscription_event_type_t type, uint32_t index)> recordStreamChanged;
    };
    // From here on a broken connection is tried again every second until
    // unwatch(). With the lock held.
    void watch(Watcher watcher);
    // With the lock held; nothing of the watcher runs after it.
    void unwatch();

    // The pause between two tries to reach a server that went away: a
    // PipeWire restart takes about one.
    static constexpr pa_usec_t retryInterval = PA_USEC_PER_SEC;

private:
    void open();
    void close();
    void stateChanged();
    void retryLater();
    void subscribe();

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool running_ = false;
    std::optional<Watcher> watcher_;
    // Set between `lost` and `restored`.
    bool broken_ = false;
    pa_time_event* retry_ = nullptr;
};
