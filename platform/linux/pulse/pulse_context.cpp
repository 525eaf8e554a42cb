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
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
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
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY)
        return true;
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Korvala");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, queueLabel("").c_str());
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Korvala", properties);
    pa_proplist_free(properties);
    pa_context_set_state_callback(
        context_, [](pa_context*, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); },
        loop_);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY)
                return true;
            if (!PA_CONTEXT_IS_GOOD(state))
                break;
            pa_threaded_mainloop_wait(loop_);
        }
    }
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
    return false;
}

void PulseContext::wait(pa_operation* operation)
{
    if (!operation)
        return;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
        pa_threaded_mainloop_wait(loop_);
    pa_operation_unref(operation);
}

namespace {

struct ServerQuery {
    pa_threaded_mainloop* loop;
    std::optional<std::string> source;
    std::optional<std::string> sink;
};

struct SourceQuery {
    pa_threaded_mainloop* loop;
    std::optional<pa_sample_spec> sampleSpec;
};

} // namespace

// The server's default source and sink, asked for in one round trip.
static ServerQuery serverDefaults(PulseContext& pulse, pa_context* context, pa_threaded_mainloop* loop)
{
    ServerQuery query {loop, {}, {}};
    pulse.wait(pa_context_get_server_info(
        context,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* query = static_cast<ServerQuery*>(data);
            if (info && info->default_source_name)
                query->source = info->default_source_name;
            if (info && info->default_sink_name)
                query->sink = info->default_sink_name;
            pa_threaded_mainloop_signal(query->loop, 0);
        },
        &query));
    return query;
}

std::optional<std::string> PulseContext::defaultSourceName()
{
    Lock lock(*this);
    if (!context_)
        return std::nullopt;
    return serverDefaults(*this, context_, loop_).source;
}

std::optional<std::string> PulseContext::defaultSinkName()
{
    Lock lock(*this);
    if (!context_)
        return std::nullopt;
    return serverDefaults(*this, context_, loop_).sink;
}

std::optional<pa_sample_spec> PulseContext::sourceSpec(const std::string& name)
{
    Lock lock(*this);
    if (!context_)
        return std::nullopt;
    SourceQuery query {loop_, {}};
    wait(pa_context_get_source_info_by_name(
        context_, name.c_str(),
        [](pa_context*, const pa_source_info* info, int, void* data) {
            auto* query = static_cast<SourceQuery*>(data);
            if (info)
                query->sampleSpec = info->sample_spec;
            pa_threaded_mainloop_signal(query->loop, 0);
        },
        &query));
    return query.sampleSpec;
}
