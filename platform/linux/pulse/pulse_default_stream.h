#pragma once

#include "platform/linux/pulse/pulse_context.h"
#include "platform/linux/pulse/pulse_record_stream.h"

#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Records the server's default device of one kind and stays with the user:
// when another device becomes the default, or the recorded one goes away,
// the recording moves to the then-default device; when the server goes
// away it waits for it to come back and goes on there. Buffers of every
// device reach one consumer in the format fixed at the start (the server
// converts), so they join into one track.
//
// The microphone is never a monitor, and the computer's sound is only ever
// the monitor of a sink: a server whose default source is the monitor of
// the speakers (a machine without a microphone) must not put the other
// participants into the user's track, nor the user's voice into theirs.
class PulseDefaultStream {
public:
    enum class Device { input, outputMonitor };
    using Consumer = PulseRecordStream::Consumer;
    // A short Russian reason when the device stopped recording and no other
    // took its place yet; nullopt once buffers come again. Runs on the loop
    // thread with the lock held.
    using Trouble = std::function<void(const std::optional<QString>& trouble)>;

    struct Source {
        std::string name;
        pa_sample_spec sampleSpec;
    };

    PulseDefaultStream(PulseContext& context, Device device, Consumer consumer, Trouble trouble);
    ~PulseDefaultStream();

    PulseDefaultStream(const PulseDefaultStream&) = delete;
    PulseDefaultStream& operator=(const PulseDefaultStream&) = delete;

    // The source it would record now; nullopt when there is none or no
    // server. Connects when needed and blocks: call without the lock, away
    // from the loop thread.
    std::optional<Source> current();
    // Records `source` in `format`, handing on buffers of `framesPerBuffer`
    // frames, and follows the defaults from there. Throws
    // std::runtime_error. Call without the lock.
    void start(const std::string& source, const AudioFormat& format, uint32_t framesPerBuffer);
    // Once it returns neither the consumer nor `trouble` is called again.
    // Call without the lock.
    void stop();

    // Tries to record a device that ended at once before waiting for the
    // next change of devices, so a broken device cannot keep the loop busy.
    static constexpr int triesWithoutSound = 3;

private:
    void look();
    void serverAnswered(const pa_server_info* info);
    void sourceListed(const pa_source_info* info, int end);
    void sinkListed(const pa_sink_info* info, int end);
    void looked(std::optional<Source> found);
    void moveTo(const std::optional<Source>& found);
    void ended(PulseRecordStream* stream);
    void lost();
    void report(const QString& trouble);
    void cancelLook();
    void deliver(const PcmBuffer& buffer);

    PulseContext& context_;
    const Device device_;
    const Consumer consumer_;
    const Trouble trouble_;

    // All of the following under the loop's lock.
    AudioFormat format_;
    uint32_t framesPerBuffer_ = 0;
    bool following_ = false;
    std::unique_ptr<PulseRecordStream> stream_;
    // A stream that ended by itself, freed outside its own callback.
    std::unique_ptr<PulseRecordStream> ended_;
    std::optional<QString> reported_;
    int tries_ = 0;

    // The look at the server's devices under way.
    pa_operation* looking_ = nullptr;
    bool lookAgain_ = false;
    bool looked_ = false;
    std::string defaultName_;
    std::vector<Source> sources_;
    std::optional<Source> found_;
};
