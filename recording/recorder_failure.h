#pragma once

#include "core/described_error.h"

#include <QString>

// The errors of a recording. The recorder calls them Recorder::Failure; the
// writers and the microphone raise them too.
class RecorderFailure : public DescribedError {
public:
    enum class Case { writerFailed, microphoneDenied, screenRecordingDenied, noAudioDevice };

    static RecorderFailure writerFailed(const QString& message) { return {Case::writerFailed, message}; }
    static RecorderFailure microphoneDenied() { return {Case::microphoneDenied, {}}; }
    static RecorderFailure screenRecordingDenied() { return {Case::screenRecordingDenied, {}}; }
    static RecorderFailure noAudioDevice() { return {Case::noAudioDevice, {}}; }

    Case kind() const { return case_; }
    // The payload of writerFailed; empty for the other cases.
    const QString& message() const { return message_; }

    QString description() const override;
    QString debugName() const override;

    bool operator==(const RecorderFailure& other) const
    {
        return case_ == other.case_ && message_ == other.message_;
    }

private:
    RecorderFailure(Case kind, QString message)
        : case_(kind)
        , message_(std::move(message))
    {
    }

    Case case_;
    QString message_;
};
