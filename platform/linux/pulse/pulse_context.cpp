#include "platform/linux/pulse/pulse_context.h"

#include "core/serial_queue.h"

PulseContext::PulseContext(const std::string& threadLabel)
    : loop_(pa_threaded_mainloop_new())
{
    pa_threaded_mainloop_set_name(loop_, SerialQueue::threadName(threadLabel).c_str());
}

PulseContext::~PulseContext()
{
    if (running_)
        pa_threaded_mainloop_stop(loop_);
    // The loop thread has ended: nothing runs concurrently any more.
    if (retry_)
        pa_threaded_mainloop_get_api(loop_)->time_free(retry_);
    close();
    pa_threaded_mainloop_free(loop_);
}

bool PulseContext::connect()
{
    if (!running_) {
        if (pa_threaded_mainloop_start(loop_) < 0)
            return false;
        running_ = true;
    }
    Lock lock(*this);
    if (ready())
        return true;
    open();
    while (context_) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY)
            return true;
        if (!PA_CONTEXT_IS_GOOD(state))
            break;
        pa_threaded_mainloop_wait(loop_);
    }
    close();
    return false;
}

void PulseContext::open()
{
    close();
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Korvala");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, queueLabel("").c_str());
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Korvala", properties);
    pa_proplist_free(properties);
    if (!context_)
        return;
    pa_context_set_state_callback(
        context_, [](pa_context*, void* self) { static_cast<PulseContext*>(self)->stateChanged(); }, this);
    pa_context_set_subscribe_callback(
        context_,
        [](pa_context*, pa_subscription_event_type_t event, uint32_t index, void* self) {
            auto* owner = static_cast<PulseContext*>(self);
            const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
            const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
            if (facility == PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT) {
                if (owner->watcher_ && owner->watcher_->recordStreamChanged)
                    owner->watcher_->recordStreamChanged(pa_subscription_event_type_t(type), index);
                return;
            }
            // A sink or a source changes all the time (volume, suspending);
            // only its coming and going matters here, and any change of the
            // server's defaults.
            if (facility != PA_SUBSCRIPTION_EVENT_SERVER && type == PA_SUBSCRIPTION_EVENT_CHANGE)
                return;
            if (owner->watcher_ && owner->watcher_->devicesChanged)
                owner->watcher_->devicesChanged();
        },
        this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        close();
}

void PulseContext::close()
{
    if (!context_)
        return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

void PulseContext::stateChanged()
{
    // A connect() waiting on another thread looks at the state itself.
    pa_threaded_mainloop_signal(loop_, 0);
    const pa_context_state_t state = pa_context_get_state(context_);
    if (state == PA_CONTEXT_READY) {
        subscribe();
        if (broken_ && watcher_) {
            broken_ = false;
            if (watcher_->restored)
                watcher_->restored();
        }
        return;
    }
    if (PA_CONTEXT_IS_GOOD(state) || !watcher_)
        return;
    if (!broken_) {
        broken_ = true;
        if (watcher_->lost)
            watcher_->lost();
    }
    retryLater();
}

void PulseContext::subscribe()
{
    // Unwatched, the server has nothing to wake this loop for.
    int mask = PA_SUBSCRIPTION_MASK_NULL;
    if (watcher_)
        mask = PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE;
    if (watcher_ && watcher_->recordStreamChanged)
        mask |= PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT;
    pa_operation* subscribing = pa_context_subscribe(context_, pa_subscription_mask_t(mask), nullptr, nullptr);
    if (subscribing)
        pa_operation_unref(subscribing);
}

void PulseContext::retryLater()
{
    if (retry_)
        return;
    timeval when {};
    pa_timeval_add(pa_gettimeofday(&when), retryInterval);
    retry_ = pa_threaded_mainloop_get_api(loop_)->time_new(
        pa_threaded_mainloop_get_api(loop_), &when,
        [](pa_mainloop_api* api, pa_time_event* event, const timeval*, void* self) {
            auto* owner = static_cast<PulseContext*>(self);
            api->time_free(event);
            owner->retry_ = nullptr;
            if (!owner->watcher_)
                return;
            // The broken context is dropped here rather than in its own
            // state callback; a failed try comes back through stateChanged()
            // or right here.
            owner->open();
            if (!owner->context_)
                owner->retryLater();
        },
        this);
}

void PulseContext::watch(Watcher watcher)
{
    watcher_ = std::move(watcher);
    broken_ = false;
    if (ready()) {
        // Connected before this watcher: it wants the server's events now.
        subscribe();
    } else {
        broken_ = true;
        if (watcher_->lost)
            watcher_->lost();
        retryLater();
    }
}

void PulseContext::unwatch()
{
    watcher_.reset();
    broken_ = false;
    if (ready())
        subscribe();
    if (retry_) {
        pa_threaded_mainloop_get_api(loop_)->time_free(retry_);
        retry_ = nullptr;
    }
}
