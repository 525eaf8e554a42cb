#pragma once

#include "core/pcm_buffer.h"

#include <QString>

#include <memory>
#include <stdexcept>

// Raised by the media layer; what() is the text shown or logged.
class MediaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file was to be created under a name that is already taken.
class FileExistsError : public MediaError {
public:
    using MediaError::MediaError;
};

// An AAC audio file being written (".m4a", mono). Written as it goes in a
// form that survives the process being killed: everything up to about the
// last second decodes without repair. close() completes it as an ordinary
// MPEG-4 file.
class AudioFile {
public:
    virtual ~AudioFile() = default;
    // Encodes float32 mono samples at the file's rate. Throws MediaError.
    virtual void write(const PcmBuffer& mono) = 0;
    // Adds `frames` of silence, as write() of zeros would; an hour of it
    // must not cost an hour's encoding. Throws MediaError.
    virtual void writeSilence(int64_t frames) = 0;
    // Flushes the encoder and completes the file; further writes are ignored.
    // Also done by the destructor. Throws MediaError.
    virtual void close() = 0;
};

// Brings audio of one format to another, keeping its filter state from one
// call to the next so that a stream cut into buffers sounds like one piece.
class AudioResampler {
public:
    virtual ~AudioResampler() = default;
    // Converts all of `input` into `output` (which must be in the target
    // format) and sets its frame length. Throws MediaError.
    virtual void convert(const PcmBuffer& input, PcmBuffer& output) = 0;
};

// Where the audio writers get their files and resamplers from.
class AudioMedia {
public:
    virtual ~AudioMedia() = default;

    struct FileSettings {
        int sampleRate = 44100;
        int bitRate = 24000;
    };
    // Creates the file at `path`, never over an existing one. Throws
    // FileExistsError when the name is taken, MediaError otherwise.
    virtual std::unique_ptr<AudioFile> createFile(const QString& path, const FileSettings& settings) = 0;
    // nullptr when no resampler can be made between the formats. Several
    // channels become one by averaging them.
    virtual std::unique_ptr<AudioResampler> makeResampler(const AudioFormat& from, const AudioFormat& to) = 0;
    // Completes a track or video of ours that was left fragmented (its
    // writer never finished) as an ordinary MPEG-4 file, atomically: the
    // file stays as it was until the rewrite is complete. The file must end
    // after a whole top-level box. Throws MediaError.
    virtual void makePlain(const QString& path) = 0;
};
