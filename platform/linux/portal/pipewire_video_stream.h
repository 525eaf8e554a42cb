#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

// The frames of one PipeWire video node, read from the remote that the
// portal opened for us (its file descriptor and the node it may see). Only
// frames in memory the process can map are taken (shared memory; a dmabuf
// offer is declined in the negotiation).
class PipeWireVideoStream {
public:
    struct Frame {
        const uint8_t* pixels = nullptr;
        int stride = 0;
        int width = 0;
        int height = 0;
        // Bytes in R, G, B order rather than B, G, R.
        bool rgbOrder = false;
        // Seconds on the steady clock when the frame arrived.
        double arrival = 0;
    };

    struct Shared;

    // A frame the stream lends out: its buffer goes back to PipeWire when the
    // lease is read or dropped, whichever comes first. Leases may travel to
    // other threads and outlive the stream; reading one then does nothing.
    class Lease {
    public:
        Lease(std::shared_ptr<Shared> shared, void* buffer, Frame frame);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

        double arrival() const { return frame_.arrival; }
        // Calls `use` with the frame's pixels, unless the stream or the frame
        // is gone; returns whether it did.
        bool read(const std::function<void(const Frame&)>& use);

    private:
        void giveBack();
        std::shared_ptr<Shared> shared_;
        void* buffer_;
        Frame frame_;
    };

    // Called on PipeWire's thread. While a lease is out no further frame is
    // lent: newer frames go back to the producer unseen.
    using OnFrame = std::function<void(std::shared_ptr<Lease>)>;
    // Called once, on PipeWire's thread, when the node goes away or the
    // stream fails.
    using OnEnd = std::function<void(const QString& reason)>;

    // Takes `fd` in every case. Returns nothing and sets `error` when the
    // remote cannot be used.
    static std::unique_ptr<PipeWireVideoStream> open(int fd, uint32_t node, OnFrame onFrame, OnEnd onEnd,
                                                     QString* error);
    // Stops the stream; frames being read elsewhere are waited for.
    ~PipeWireVideoStream();

private:
    explicit PipeWireVideoStream(std::shared_ptr<Shared> shared);
    std::shared_ptr<Shared> shared_;
};
