#pragma once

// A child program started with posix_spawn, its standard output on a pipe;
// standard error stays the test's.
//
// QProcess starts children through a clone() of its own that the thread
// sanitizer does not see; after one such start it loses track of the test's
// locks and reports races everywhere. posix_spawn goes through the C library,
// which it follows.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

extern char** environ;

class SpawnedChild {
public:
    SpawnedChild(const QString& program, const QStringList& arguments)
    {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        std::vector<std::string> words {program.toStdString()};
        for (const QString& argument : arguments)
            words.push_back(argument.toStdString());
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(ends[1]);
        output_ = ends[0];
        fcntl(output_, F_SETFL, O_NONBLOCK);
    }
    ~SpawnedChild()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0)
            close(output_);
    }
    SpawnedChild(const SpawnedChild&) = delete;
    SpawnedChild& operator=(const SpawnedChild&) = delete;

    bool started() const { return pid_ > 0; }

    // Whatever the child wrote since the last call; never waits.
    QByteArray readOutput()
    {
        QByteArray read;
        char chunk[4096];
        ssize_t got;
        while ((got = ::read(output_, chunk, sizeof chunk)) > 0)
            read.append(chunk, got);
        return read;
    }

    // Waits up to `timeoutMs` for the child to end by itself; true when it
    // exited with status 0. A child still running is killed.
    bool finished(int timeoutMs)
    {
        if (pid_ <= 0)
            return false;
        for (int waited = 0; waited <= timeoutMs; waited += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) && WEXITSTATUS(status) == 0;
            }
            usleep(10'000);
        }
        killWith(SIGKILL);
        return false;
    }

    // Asks the child to end (SIGTERM) and waits up to `graceMs` before
    // killing it.
    void terminate(int graceMs)
    {
        if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0)
            finished(graceMs);
    }

    // Kills the child with `signal` and waits for it; true when that signal
    // is what ended it.
    bool killWith(int signal)
    {
        if (pid_ <= 0)
            return false;
        ::kill(pid_, signal);
        int status = 0;
        const bool reaped = waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        return reaped && WIFSIGNALED(status) && WTERMSIG(status) == signal;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
};
