#include "platform/linux/pulse/pulse_call_streams.h"

#include "core/main_thread.h"
#include "core/serial_queue.h"
#include "platform/linux/linux_platform.h"

#include <unistd.h>

#include <cstring>

namespace {

QString property(const pa_proplist* properties, const char* key)
{
    const char* value = properties ? pa_proplist_gets(properties, key) : nullptr;
    return value ? QString::fromUtf8(value) : QString();
}

// The events are posted to the main thread held weakly: once unwatch()
// dropped them, what was on its way is not heard.
template <class Work>
void post(const std::shared_ptr<CallStreams::Events>& events, Work work)
{
    postToMain(std::weak_ptr<CallStreams::Events>(events), std::move(work));
}

} // namespace

PulseCallStreams::PulseCallStreams() : context_(queueLabel(".calls")) {}

PulseCallStreams::~PulseCallStreams()
{
    unwatch();
}

void PulseCallStreams::watch(Events events)
{
    unwatch();
    // When no server answers now, the context keeps trying and tells us.
    context_.connect();
    PulseContext::Lock lock(context_);
    events_ = std::make_shared<Events>(std::move(events));
    context_.watch({
        [this] { forgetAll(); },
        [this] { askAll(); },
        nullptr,
        [this](pa_subscription_event_type_t type, uint32_t index) { changed(type, index); },
    });
    if (context_.ready())
        askAll();
}

void PulseCallStreams::unwatch()
{
    PulseContext::Lock lock(context_);
    if (!events_)
        return;
    context_.unwatch();
    cancelQuestions();
    open_.clear();
    events_.reset();
}

PulseCallStreams::Question& PulseCallStreams::ask()
{
    return questions_.emplace_back(Question {this, nullptr, {}});
}

void PulseCallStreams::answered(Question* question)
{
    pa_operation_unref(question->operation);
    questions_.remove_if([question](const Question& asked) { return &asked == question; });
}

void PulseCallStreams::cancelQuestions()
{
    // A cancelled operation calls nothing back.
    for (Question& question : questions_) {
        pa_operation_cancel(question.operation);
        pa_operation_unref(question.operation);
    }
    questions_.clear();
}

void PulseCallStreams::askAll()
{
    Question& question = ask();
    question.operation = pa_context_get_source_output_info_list(
        context_.context(),
        [](pa_context*, const pa_source_output_info* info, int end, void* asked) {
            auto* question = static_cast<Question*>(asked);
            if (info) {
                question->owner->open_.insert(info->index);
                question->owner->described(*info);
            }
            if (end != 0)
                question->owner->answered(question);
        },
        &question);
    if (!question.operation)
        questions_.pop_back();
}

void PulseCallStreams::changed(pa_subscription_event_type_t type, uint32_t index)
{
    if (type == PA_SUBSCRIPTION_EVENT_REMOVE) {
        tellClosed(index);
        return;
    }
    open_.insert(index);
    Question& question = ask();
    question.operation = pa_context_get_source_output_info(
        context_.context(), index,
        [](pa_context*, const pa_source_output_info* info, int end, void* asked) {
            auto* question = static_cast<Question*>(asked);
            if (info)
                question->owner->described(*info);
            if (end != 0)
                question->owner->answered(question);
        },
        &question);
    if (!question.operation)
        questions_.pop_back();
}

void PulseCallStreams::described(const pa_source_output_info& info)
{
    // A level meter (a volume control's bar, asked of the server as peaks)
    // is no program listening.
    if (info.resample_method && std::strcmp(info.resample_method, "peaks") == 0)
        return;
    Stream stream;
    stream.id = info.index;
    stream.application = property(info.proplist, PA_PROP_APPLICATION_NAME);
    stream.binary = property(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
    // Our streams carry the process number and the application id of our
    // connections; either tells them apart, the id also for another
    // Korvala whose numbers a sandbox hides.
    stream.own = property(info.proplist, PA_PROP_APPLICATION_PROCESS_ID) == QString::number(getpid())
        || property(info.proplist, PA_PROP_APPLICATION_ID) == QString::fromStdString(queueLabel(""));
    // Whether its device is a monitor is a fact of the device.
    Question& question = ask();
    question.stream = std::move(stream);
    question.operation = pa_context_get_source_info_by_index(
        context_.context(), info.source,
        [](pa_context*, const pa_source_info* source, int end, void* asked) {
            auto* question = static_cast<Question*>(asked);
            if (source)
                question->owner->told(question, source);
            if (end != 0)
                question->owner->answered(question);
        },
        &question);
    if (!question.operation)
        questions_.pop_back();
}

void PulseCallStreams::told(Question* question, const pa_source_info* source)
{
    question->stream.monitor = source->monitor_of_sink != PA_INVALID_INDEX;
    tellOpened(question->stream);
}

void PulseCallStreams::tellOpened(const Stream& stream)
{
    // The server may have told of its end while we asked about it.
    if (!open_.count(stream.id))
        return;
    post(events_, [stream](Events& events) {
        if (events.opened)
            events.opened(stream);
    });
}

void PulseCallStreams::tellClosed(uint32_t id)
{
    if (open_.erase(id) == 0)
        return;
    post(events_, [id](Events& events) {
        if (events.closed)
            events.closed(id);
    });
}

void PulseCallStreams::forgetAll()
{
    // The server went away with its streams; a new one numbers them anew.
    cancelQuestions();
    const std::set<uint32_t> open = std::move(open_);
    open_.clear();
    for (uint32_t id : open)
        post(events_, [id](Events& events) {
            if (events.closed)
                events.closed(id);
        });
}

std::unique_ptr<CallStreams> LinuxPlatform::callStreams()
{
    return std::make_unique<PulseCallStreams>();
}
