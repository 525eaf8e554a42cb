#include "platform/screen_capture.h"


ContentFilter ContentFilter::ofDisplay(const ShareableDisplay& display, std::vector<ShareableWindow> excluding)
{
    ContentFilter filter;
    filter.kind = Kind::Display;
    filter.display = display;
    filter.excludedWindows = std::move(excluding);
    return filter;
}

ContentFilter ContentFilter::ofApplications(const ShareableDisplay& display,
                                            std::vector<ShareableApplication> including)
{
    ContentFilter filter;
    filter.kind = Kind::Applications;
    filter.display = display;
    filter.includedApplications = std::move(including);
    return filter;
}

ContentFilter ContentFilter::ofWindow(const ShareableWindow& window)
{
    ContentFilter filter;
    filter.kind = Kind::Window;
    filter.window = window;
    return filter;
}

ContentFilter ContentFilter::ofDesktopChoice(const ShareableDisplay& display)
{
    ContentFilter filter;
    filter.kind = Kind::DesktopChoice;
    filter.display = display;
    return filter;
}

QRectF ContentFilter::contentRect() const
{
    if (kind == Kind::Window)
        return QRectF(QPointF(0, 0), window.frame.size());
    return QRectF(0, 0, display.width, display.height);
}

const PcmBuffer* asPcmBuffer(const SampleBuffer& sample)
{
    if (sample.type != StreamOutputType::Audio || !sample.audio)
        return nullptr;
    const PcmBuffer& buffer = *sample.audio;
    if (buffer.frameLength() == 0 || buffer.format().channelCount < 1 || !(buffer.format().sampleRate > 0))
        return nullptr;
    return &buffer;
}

