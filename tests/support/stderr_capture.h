#pragma once

#include <QByteArray>
#include <QTemporaryFile>

#include <unistd.h>

// Sends standard error to a temporary file for the life of the object.
class StderrCapture {
public:
    StderrCapture()
    {
        file_.open();
        saved_ = ::dup(STDERR_FILENO);
        ::dup2(file_.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }

    // Everything written so far; standard error goes back to where it was.
    QByteArray take()
    {
        restore();
        file_.seek(0);
        return file_.readAll();
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }

    QTemporaryFile file_;
    int saved_ = -1;
};
