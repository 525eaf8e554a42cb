#include "test_picture_source.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>

#include <QThread>

struct TestPictureSource::State {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    spa_source* timer = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    uint64_t frame = 0;
};

namespace {

using State = TestPictureSource::State;

void draw(const State& state, uint8_t* pixels)
{
    const int square = state.height / 10;
    const int squareX = int((state.frame * 8) % uint64_t(std::max(1, state.width - square)));
    for (int y = 0; y < state.height; ++y) {
        auto* line = reinterpret_cast<uint32_t*>(pixels + size_t(y) * state.stride);
        const bool bottom = y >= state.height - square;
        for (int x = 0; x < state.width; ++x) {
            uint32_t rgb = TestPictureSource::bars[std::min(6, x * 7 / state.width)];
            if (bottom)
                rgb = x >= squareX && x < squareX + square ? 0xffffff : 0x000000;
            // BGRx in memory is 0xxxRRGGBB read as a little-endian word.
            line[x] = rgb;
        }
    }
}

void onProcess(void* data)
{
    auto* state = static_cast<State*>(data);
    pw_buffer* buffer = pw_stream_dequeue_buffer(state->stream);
    if (!buffer)
        return;
    spa_data& plane = buffer->buffer->datas[0];
    if (plane.data && plane.maxsize >= uint32_t(state->stride * state->height)) {
        draw(*state, static_cast<uint8_t*>(plane.data));
        plane.chunk->offset = 0;
        plane.chunk->stride = state->stride;
        plane.chunk->size = state->stride * state->height;
        ++state->frame;
    }
    pw_stream_queue_buffer(state->stream, buffer);
}

void onParamChanged(void* data, uint32_t id, const spa_pod* param)
{
    auto* state = static_cast<State*>(data);
    if (!param || id != SPA_PARAM_Format)
        return;
    uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(state->stride * state->height), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(state->stride),
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd)));
    pw_stream_update_params(state->stream, params, 1);
}

const pw_stream_events events = [] {
    pw_stream_events result{};
    result.version = PW_VERSION_STREAM_EVENTS;
    result.process = onProcess;
    result.param_changed = onParamChanged;
    return result;
}();

// The source is the driver of its graph: a frame every 1/30 s.
void onTimer(void* data, uint64_t)
{
    auto* state = static_cast<State*>(data);
    pw_stream_trigger_process(state->stream);
}

} // namespace

TestPictureSource::TestPictureSource(std::unique_ptr<State> state) : state_(std::move(state)) {}

TestPictureSource::~TestPictureSource()
{
    State& state = *state_;
    if (state.loop)
        pw_thread_loop_stop(state.loop);
    if (state.timer)
        pw_loop_destroy_source(pw_thread_loop_get_loop(state.loop), state.timer);
    if (state.stream)
        pw_stream_destroy(state.stream);
    if (state.core)
        pw_core_disconnect(state.core);
    if (state.context)
        pw_context_destroy(state.context);
    if (state.loop)
        pw_thread_loop_destroy(state.loop);
}

std::unique_ptr<TestPictureSource> TestPictureSource::start(const QString& nodeName, int width, int height)
{
    pw_init(nullptr, nullptr);
    // The source owns what is made from here on, and its end undoes it.
    std::unique_ptr<TestPictureSource> source(new TestPictureSource(std::make_unique<State>()));
    State& state = *source->state_;
    state.width = width;
    state.height = height;
    state.stride = width * 4;
    state.loop = pw_thread_loop_new("fake-screen", nullptr);
    pw_thread_loop_lock(state.loop);
    state.context = pw_context_new(pw_thread_loop_get_loop(state.loop), nullptr, 0);
    state.core = state.context ? pw_context_connect(state.context, nullptr, 0) : nullptr;
    if (!state.core) {
        pw_thread_loop_unlock(state.loop);
        return nullptr;
    }
    state.stream = pw_stream_new(state.core, nodeName.toUtf8().constData(),
                                 pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME,
                                                   nodeName.toUtf8().constData(), nullptr));
    pw_stream_add_listener(state.stream, &state.listener, &events, &state);

    uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    spa_rectangle size = SPA_RECTANGLE(uint32_t(width), uint32_t(height));
    spa_fraction rate = SPA_FRACTION(30, 1);
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
        SPA_FORMAT_VIDEO_format, SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS);
    if (pw_stream_connect(state.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0) {
        pw_thread_loop_unlock(state.loop);
        return nullptr;
    }
    state.timer = pw_loop_add_timer(pw_thread_loop_get_loop(state.loop), onTimer, &state);
    timespec first{0, 1};
    timespec interval{0, 1000000000 / 30};
    pw_loop_update_timer(pw_thread_loop_get_loop(state.loop), state.timer, &first, &interval, false);
    pw_thread_loop_start(state.loop);
    pw_thread_loop_unlock(state.loop);

    for (int attempt = 0; attempt < 100 && source->nodeId() == SPA_ID_INVALID; ++attempt)
        QThread::msleep(20);
    return source->nodeId() == SPA_ID_INVALID ? nullptr : std::move(source);
}

uint32_t TestPictureSource::nodeId() const
{
    pw_thread_loop_lock(state_->loop);
    const uint32_t id = pw_stream_get_node_id(state_->stream);
    pw_thread_loop_unlock(state_->loop);
    return id;
}
