#pragma once

#include "platform/call_streams.h"
#include "platform/linux/pulse/pulse_context.h"

#include <list>
#include <memory>
#include <set>

// The record streams of the sound server, heard through its subscription:
// nothing is asked of the server but when it tells of a change, so watching
// costs nothing while no program opens or closes a stream. A connection of
// its own, on a loop thread labelled ".calls", that follows the server
// across restarts as the recording's connections do.
class PulseCallStreams final : public CallStreams {
public:
    PulseCallStreams();
    ~PulseCallStreams() override;

    void watch(Events events) override;
    void unwatch() override;

private:
    // A question to the server under way; its answer finds its stream here.
    struct Question {
        PulseCallStreams* owner;
        pa_operation* operation = nullptr;
        Stream stream;
    };

    // All of the following on the loop thread or with the lock held.
    void askAll();
    void changed(pa_subscription_event_type_t type, uint32_t index);
    void described(const pa_source_output_info& info);
    void told(Question* question, const pa_source_info* source);
    void tellOpened(const Stream& stream);
    void tellClosed(uint32_t id);
    void forgetAll();
    Question& ask();
    void answered(Question* question);
    void cancelQuestions();

    std::shared_ptr<Events> events_;
    // Streams that are open as far as the server last told.
    std::set<uint32_t> open_;
    std::list<Question> questions_;
    // Last, so that its loop thread ends before anything it calls is gone.
    PulseContext context_;
};
