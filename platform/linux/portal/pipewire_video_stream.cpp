#include "platform/linux/portal/pipewire_video_stream.h"

#include <pipewire/pipewire.h>
#include <spa/debug/types.h>
#include <spa/param/video/format-utils.h>
#include <spa/param/video/type-info.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

struct PipeWireVideoStream::Shared {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_registry* registry = nullptr;
    pw_stream* stream = nullptr;
    spa_hook coreListener{};
    spa_hook registryListener{};
    spa_hook streamListener{};
    uint32_t node = 0;
    // Leases keep the state alive past the stream's end.
    std::weak_ptr<Shared> self;

    spa_video_info_raw format{};
    bool formatKnown = false;

    OnFrame onFrame;
    OnEnd onEnd;
    bool ended = false;

    // Guards `closed` (and with it the loop's existence) for leases that
    // give their buffer back; taken before the loop's lock, never after it.
    std::mutex readMutex;
    bool closed = false;
    // The buffer a lease holds. PipeWire may take it back (the producer went
    // away): then this is cleared first, and its memory is released only
    // once no lease is reading it.
    std::atomic<pw_buffer*> lentBuffer{nullptr};
    std::atomic<bool> reading{false};

    void end(const QString& reason)
    {
        if (ended)
            return;
        ended = true;
        if (onEnd)
            onEnd(reason);
    }
};

namespace {

using Shared = PipeWireVideoStream::Shared;

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void onStreamStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error)
{
    auto* shared = static_cast<Shared*>(data);
    if (state == PW_STREAM_STATE_ERROR)
        shared->end(QString::fromUtf8(error ? error : "stream error"));
    else if (state == PW_STREAM_STATE_UNCONNECTED)
        shared->end(QStringLiteral("the stream was disconnected"));
}

void onStreamParamChanged(void* data, uint32_t id, const spa_pod* param)
{
    auto* shared = static_cast<Shared*>(data);
    if (!param || id != SPA_PARAM_Format)
        return;
    uint32_t mediaType = 0;
    uint32_t mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video
        || mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
        return;
    spa_video_info_raw format{};
    if (spa_format_video_raw_parse(param, &format) < 0)
        return;
    shared->format = format;
    shared->formatKnown = true;

    // Mappable memory only: a dmabuf would need a GPU to read it back.
    uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    pw_stream_update_params(shared->stream, params, 1);
}

void onStreamProcess(void* data)
{
    auto* shared = static_cast<Shared*>(data);
    // Only the newest waiting frame matters.
    pw_buffer* newest = nullptr;
    while (pw_buffer* buffer = pw_stream_dequeue_buffer(shared->stream)) {
        if (newest)
            pw_stream_queue_buffer(shared->stream, newest);
        newest = buffer;
    }
    if (!newest)
        return;

    const spa_data& plane = newest->buffer->datas[0];
    const bool usable = shared->formatKnown && plane.data && plane.chunk && plane.chunk->size > 0
                        && !(plane.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) && !shared->lentBuffer.load() && shared->onFrame;
    const uint32_t format = shared->format.format;
    if (!usable
        || (format != SPA_VIDEO_FORMAT_BGRx && format != SPA_VIDEO_FORMAT_BGRA && format != SPA_VIDEO_FORMAT_RGBx
            && format != SPA_VIDEO_FORMAT_RGBA)) {
        pw_stream_queue_buffer(shared->stream, newest);
        return;
    }
    PipeWireVideoStream::Frame frame;
    frame.width = int(shared->format.size.width);
    frame.height = int(shared->format.size.height);
    frame.stride = plane.chunk->stride > 0 ? plane.chunk->stride : frame.width * 4;
    if (uint64_t(frame.stride) * frame.height > uint64_t(plane.maxsize) - plane.chunk->offset) {
        pw_stream_queue_buffer(shared->stream, newest);
        return;
    }
    frame.pixels = static_cast<const uint8_t*>(plane.data) + plane.chunk->offset;
    frame.rgbOrder = format == SPA_VIDEO_FORMAT_RGBx || format == SPA_VIDEO_FORMAT_RGBA;
    frame.arrival = steadySeconds();
    shared->lentBuffer = newest;
    shared->onFrame(std::make_shared<PipeWireVideoStream::Lease>(shared->self.lock(), newest, frame));
}

// The producer's buffers go away with it: a lease may not read one after.
void onStreamRemoveBuffer(void* data, pw_buffer* buffer)
{
    auto* shared = static_cast<Shared*>(data);
    pw_buffer* expected = buffer;
    if (!shared->lentBuffer.compare_exchange_strong(expected, nullptr))
        return;
    while (shared->reading.load())
        std::this_thread::yield();
}

const pw_stream_events streamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = onStreamStateChanged;
    events.param_changed = onStreamParamChanged;
    events.process = onStreamProcess;
    events.remove_buffer = onStreamRemoveBuffer;
    return events;
}();

void onGlobalRemove(void* data, uint32_t id)
{
    auto* shared = static_cast<Shared*>(data);
    if (id == shared->node)
        shared->end(QStringLiteral("the shared picture went away"));
}

const pw_registry_events registryEvents = [] {
    pw_registry_events events{};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global_remove = onGlobalRemove;
    return events;
}();

void onCoreError(void* data, uint32_t id, int, int, const char* message)
{
    if (id == PW_ID_CORE)
        static_cast<Shared*>(data)->end(QString::fromUtf8(message ? message : "PipeWire error"));
}

const pw_core_events coreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = onCoreError;
    return events;
}();

void initPipeWire()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

void teardown(Shared& shared)
{
    if (shared.loop)
        pw_thread_loop_stop(shared.loop);
    if (shared.stream)
        pw_stream_destroy(shared.stream);
    if (shared.registry)
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(shared.registry));
    if (shared.core)
        pw_core_disconnect(shared.core);
    if (shared.context)
        pw_context_destroy(shared.context);
    if (shared.loop)
        pw_thread_loop_destroy(shared.loop);
    shared.stream = nullptr;
    shared.registry = nullptr;
    shared.core = nullptr;
    shared.context = nullptr;
    shared.loop = nullptr;
}

} // namespace

PipeWireVideoStream::Lease::Lease(std::shared_ptr<Shared> shared, void* buffer, Frame frame)
    : shared_(std::move(shared)), buffer_(buffer), frame_(frame)
{
}

PipeWireVideoStream::Lease::~Lease()
{
    giveBack();
}

bool PipeWireVideoStream::Lease::read(const std::function<void(const Frame&)>& use)
{
    if (!buffer_)
        return false;
    shared_->reading = true;
    const bool valid = shared_->lentBuffer.load() == buffer_;
    if (valid)
        use(frame_);
    shared_->reading = false;
    giveBack();
    return valid;
}

void PipeWireVideoStream::Lease::giveBack()
{
    if (!buffer_)
        return;
    std::lock_guard lock(shared_->readMutex);
    if (!shared_->closed) {
        pw_thread_loop_lock(shared_->loop);
        pw_buffer* expected = static_cast<pw_buffer*>(buffer_);
        if (shared_->lentBuffer.compare_exchange_strong(expected, nullptr))
            pw_stream_queue_buffer(shared_->stream, static_cast<pw_buffer*>(buffer_));
        pw_thread_loop_unlock(shared_->loop);
    }
    buffer_ = nullptr;
}

PipeWireVideoStream::PipeWireVideoStream(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

std::unique_ptr<PipeWireVideoStream> PipeWireVideoStream::open(int fd, uint32_t node, OnFrame onFrame, OnEnd onEnd,
                                                               QString* error)
{
    initPipeWire();
    auto shared = std::make_shared<Shared>();
    shared->self = shared;
    shared->node = node;
    shared->onFrame = std::move(onFrame);
    shared->onEnd = std::move(onEnd);
    auto fail = [&](const char* why) -> std::unique_ptr<PipeWireVideoStream> {
        if (error)
            *error = QString::fromUtf8(why);
        if (shared->loop)
            pw_thread_loop_unlock(shared->loop);
        teardown(*shared);
        return nullptr;
    };

    shared->loop = pw_thread_loop_new("korvala-screen", nullptr);
    if (!shared->loop) {
        close(fd);
        return fail("cannot make a PipeWire loop");
    }
    pw_thread_loop_lock(shared->loop);
    shared->context = pw_context_new(pw_thread_loop_get_loop(shared->loop), nullptr, 0);
    if (!shared->context) {
        close(fd);
        return fail("cannot make a PipeWire context");
    }
    // The core owns the descriptor from here, also when it fails.
    shared->core = pw_context_connect_fd(shared->context, fd, nullptr, 0);
    if (!shared->core)
        return fail("cannot connect to the PipeWire remote");
    pw_core_add_listener(shared->core, &shared->coreListener, &coreEvents, shared.get());
    shared->registry = pw_core_get_registry(shared->core, PW_VERSION_REGISTRY, 0);
    if (shared->registry)
        pw_registry_add_listener(shared->registry, &shared->registryListener, &registryEvents, shared.get());

    shared->stream = pw_stream_new(shared->core, "korvala-screen",
                                   pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                     PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!shared->stream)
        return fail("cannot make a PipeWire stream");
    pw_stream_add_listener(shared->stream, &shared->streamListener, &streamEvents, shared.get());

    uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    spa_rectangle defaultSize = SPA_RECTANGLE(1920, 1080);
    spa_rectangle minSize = SPA_RECTANGLE(1, 1);
    spa_rectangle maxSize = SPA_RECTANGLE(16384, 16384);
    spa_fraction defaultRate = SPA_FRACTION(30, 1);
    spa_fraction minRate = SPA_FRACTION(0, 1);
    spa_fraction maxRate = SPA_FRACTION(240, 1);
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
        SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)));
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS);
    if (pw_stream_connect(shared->stream, PW_DIRECTION_INPUT, node, flags, params, 1) < 0)
        return fail("cannot connect the PipeWire stream");
    if (pw_thread_loop_start(shared->loop) < 0)
        return fail("cannot start the PipeWire loop");
    pw_thread_loop_unlock(shared->loop);
    return std::unique_ptr<PipeWireVideoStream>(new PipeWireVideoStream(std::move(shared)));
}

PipeWireVideoStream::~PipeWireVideoStream()
{
    {
        std::lock_guard lock(shared_->readMutex);
        shared_->closed = true;
    }
    // A lease being read finishes before the memory goes.
    shared_->lentBuffer = nullptr;
    while (shared_->reading.load())
        std::this_thread::yield();
    pw_thread_loop_lock(shared_->loop);
    shared_->ended = true;
    shared_->onFrame = nullptr;
    shared_->onEnd = nullptr;
    pw_stream_disconnect(shared_->stream);
    pw_thread_loop_unlock(shared_->loop);
    teardown(*shared_);
}
