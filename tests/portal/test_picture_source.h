#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

// A PipeWire video node of known content for the fake portal: seven colour
// bars across the picture and a small square moving along the bottom edge,
// thirty frames a second in shared memory. It drives its own graph, as a
// screen-cast source of a compositor does.
class TestPictureSource {
public:
    // The colours of the bars, left to right, as 0xRRGGBB.
    static constexpr uint32_t bars[7] = {0xbfbfbf, 0xbfbf00, 0x00bfbf, 0x00bf00, 0xbf00bf, 0xbf0000, 0x0000bf};

    // The fake portal's screenshot, pixel by pixel as 0xffRRGGBB: red and
    // green count the column and row, blue the 256-pixel tile, so any
    // cut-out names its place.
    static constexpr uint32_t screenshotPixel(int x, int y)
    {
        return 0xff000000u | uint32_t(x % 256) << 16 | uint32_t(y % 256) << 8
               | uint32_t((x / 256 + (y / 256) * 8) % 256);
    }

    // Nothing when PipeWire does not take the node.
    static std::unique_ptr<TestPictureSource> start(const QString& nodeName, int width, int height);
    ~TestPictureSource();
    uint32_t nodeId() const;

    struct State;

private:
    explicit TestPictureSource(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};
