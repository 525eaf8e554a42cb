#include "tests/support/fault_injecting_audio_media.h"
#include "platform/linux/linux_platform.h"

#include <QFile>

namespace {

class FaultyFile final : public AudioFile {
public:
    FaultyFile(std::unique_ptr<AudioFile> inner, FaultInjectingAudioMedia& media)
        : inner_(std::move(inner))
        , media_(media)
    {
    }
    void write(const PcmBuffer& mono) override
    {
        if (media_.failWrites > 0) {
            --media_.failWrites;
            throw MediaError("диск переполнен");
        }
        inner_->write(mono);
    }
    void writeSilence(int64_t frames) override { inner_->writeSilence(frames); }
    void close() override { inner_->close(); }

private:
    std::unique_ptr<AudioFile> inner_;
    FaultInjectingAudioMedia& media_;
};

} // namespace

std::unique_ptr<AudioFile> FaultInjectingAudioMedia::createFile(const QString& path, const FileSettings& settings)
{
    if (failOpen)
        throw MediaError("нет прав на запись");
    if (takeFirst > 0) {
        --takeFirst;
        QFile other(path);
        if (other.open(QIODevice::WriteOnly))
            other.write("taken");
    }
    return std::make_unique<FaultyFile>(LinuxPlatform::audioMedia()->createFile(path, settings), *this);
}

std::unique_ptr<AudioResampler> FaultInjectingAudioMedia::makeResampler(const AudioFormat& from, const AudioFormat& to)
{
    if (failResamplers > 0) {
        --failResamplers;
        return nullptr;
    }
    ++resamplersMade;
    return LinuxPlatform::audioMedia()->makeResampler(from, to);
}

void FaultInjectingAudioMedia::makePlain(const QString& path)
{
    LinuxPlatform::audioMedia()->makePlain(path);
}
