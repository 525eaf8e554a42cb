#pragma once

#include "core/clock.h"
#include "core/shell.h"
#include "core/store.h"
#include "platform/call_streams.h"
#include "platform/desktop_notifications.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

// Offers to record when another program opens the microphone for a call,
// and to stop once the call is over. It only offers: the desktop's
// notification (or the status line where the desktop has none) asks, and
// nothing is recorded or stopped but by the user's answer. Main thread only.
class CallWatch final : public QObject {
public:
    // The menu's commands that the offers' buttons run, as the menu runs them.
    struct Commands {
        // "Начать аудиозапись", the consent warning included.
        std::function<void()> record;
        // "Остановить и отправить".
        std::function<void()> stop;
    };

    CallWatch(const Store& store, CallStreams& streams, DesktopNotifications& notifications, StatusSink& status,
              Clock& clock, Commands commands);
    ~CallWatch() override;

    // Starts watching unless the user turned the offers off.
    void start();
    bool enabled() const { return store_.callWatch(); }
    // Keeps the choice and starts or ends the watching.
    void setEnabled(bool on);

    // Told by the recording flow: a recording began, or its stop began.
    void recordingStarted();
    void recordingStopped();

    // A microphone held this long is taken for a call, not a passing sound.
    static constexpr double offerAfterSeconds = 5;
    // A call whose microphone stayed closed this long has ended: a program
    // that changes devices or reconnects opens it again well within it.
    static constexpr double endAfterSeconds = 15;

private:
    struct Call {
        CallStreams::Stream stream;
        // Tells this opening from an earlier stream of the same number.
        unsigned serial = 0;
        // The offer for this stream was made or passed up; once per stream.
        bool decided = false;
    };

    void opened(const CallStreams::Stream& stream);
    void closed(uint32_t id);
    void consider(uint32_t id, unsigned serial);
    QCoro::Task<> offerToRecord(CallStreams::Stream stream);
    void answerRecordOffer(const CallStreams::Stream& stream, int action);
    // The calls a running recording follows: the one it was offered for, or
    // for a recording started by hand every program's.
    bool followed(const CallStreams::Stream& stream) const;
    int followedOpen() const;
    void checkEnd();
    QCoro::Task<> offerToStop(unsigned recording);

    static QString program(const CallStreams::Stream& stream);
    static QString programName(const CallStreams::Stream& stream);

    Store store_;
    CallStreams& streams_;
    DesktopNotifications& notifications_;
    StatusSink& status_;
    Clock& clock_;
    Commands commands_;

    bool watching_ = false;
    // The open streams of other programs on a real input.
    std::map<uint32_t, Call> calls_;
    unsigned serials_ = 0;
    // The call whose offer the user accepted, for the recording it starts.
    std::optional<CallStreams::Stream> accepted_;

    bool recording_ = false;
    unsigned recordingSerial_ = 0;
    // The call being recorded; none when started by hand.
    std::optional<CallStreams::Stream> recordedCall_;
    // A followed call was open at some time during the recording: a
    // recording of a meeting in the room has no call to end.
    bool callSeen_ = false;
    bool endPending_ = false;
    bool endOffered_ = false;
    unsigned endSerial_ = 0;
};
