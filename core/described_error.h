#pragma once

#include <QString>

#include <exception>
#include <string>

// The base of every error a flow may show the user: the failure types of the
// recorder, the service client and the screenshot tool derive from it and
// give their Russian description. Thrown as exceptions up to the controller,
// which shows description() in its one alert.
class DescribedError : public std::exception {
public:
    // The text the user reads.
    virtual QString description() const = 0;
    // The error's own name for the log, such as "Recorder.Failure.noAudioDevice".
    virtual QString debugName() const = 0;

    const char* what() const noexcept override
    {
        what_ = description().toStdString();
        return what_.c_str();
    }

private:
    mutable std::string what_;
};
