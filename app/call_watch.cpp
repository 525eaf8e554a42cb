// The offers around a call: to record it once a program has held the
// microphone for a while, and to stop once the microphone is let go.

#include "app/call_watch.h"

#include "core/log.h"

#include <QPointer>

#include <algorithm>

namespace {

enum RecordOfferAction { recordAction, notNowAction, turnOffAction };

} // namespace

CallWatch::CallWatch(const Store& store, CallStreams& streams, DesktopNotifications& notifications,
                     StatusSink& status, Clock& clock, Commands commands)
    : store_(store)
    , streams_(streams)
    , notifications_(notifications)
    , status_(status)
    , clock_(clock)
    , commands_(std::move(commands))
{
}

CallWatch::~CallWatch()
{
    if (watching_)
        streams_.unwatch();
}

void CallWatch::start()
{
    if (watching_ || !enabled())
        return;
    watching_ = true;
    QPointer<CallWatch> self(this);
    streams_.watch({
        [self](const CallStreams::Stream& stream) {
            if (self)
                self->opened(stream);
        },
        [self](uint32_t id) {
            if (self)
                self->closed(id);
        },
    });
}

void CallWatch::setEnabled(bool on)
{
    store_.setCallWatch(on);
    if (on) {
        start();
        return;
    }
    if (watching_)
        streams_.unwatch();
    watching_ = false;
    calls_.clear();
    accepted_.reset();
    ++endSerial_;
    endPending_ = false;
}

QString CallWatch::program(const CallStreams::Stream& stream)
{
    return stream.application + QChar('\n') + stream.binary;
}

QString CallWatch::programName(const CallStreams::Stream& stream)
{
    return stream.application.isEmpty() ? stream.binary : stream.application;
}

void CallWatch::opened(const CallStreams::Stream& stream)
{
    // Our own recording, and what an output plays, are no call; a stream
    // that moved onto a monitor has stopped being one.
    if (stream.own || stream.monitor) {
        closed(stream.id);
        return;
    }
    const auto known = calls_.find(stream.id);
    if (known != calls_.end()) {
        known->second.stream = stream;
    } else {
        const unsigned serial = ++serials_;
        calls_[stream.id] = {stream, serial, false};
        const uint32_t id = stream.id;
        clock_.after(offerAfterSeconds, this, [this, id, serial] { consider(id, serial); });
    }
    if (recording_ && followed(stream)) {
        callSeen_ = true;
        endOffered_ = false;
    }
    checkEnd();
}

void CallWatch::closed(uint32_t id)
{
    const auto found = calls_.find(id);
    if (found == calls_.end())
        return;
    const QString ended = program(found->second.stream);
    calls_.erase(found);
    // An accepted offer whose call is over before the recording began (the
    // consent warning still open) leaves nothing to follow: that recording
    // is one started by hand.
    if (accepted_ && program(*accepted_) == ended
        && std::none_of(calls_.begin(), calls_.end(), [&](const auto& call) { return program(call.second.stream) == ended; }))
        accepted_.reset();
    checkEnd();
}

void CallWatch::consider(uint32_t id, unsigned serial)
{
    const auto found = calls_.find(id);
    if (found == calls_.end() || found->second.serial != serial || found->second.decided)
        return;
    found->second.decided = true;
    // A program that opens the microphone again within the same call (a
    // device switched) was asked already.
    const QString key = program(found->second.stream);
    const bool asked = std::any_of(calls_.begin(), calls_.end(), [&](const auto& call) {
        return call.first != id && call.second.decided && program(call.second.stream) == key;
    });
    if (asked || recording_ || !store_.token())
        return;
    offerToRecord(found->second.stream);
}

QCoro::Task<> CallWatch::offerToRecord(CallStreams::Stream stream)
{
    QPointer<CallWatch> self(this);
    const QString name = programName(stream);
    const QString text = name.isEmpty()
        ? QStringLiteral("Какая-то программа слушает микрофон — похоже, начался звонок.")
        : QStringLiteral("Микрофон слушает «%1» — похоже, начался звонок.").arg(name);
    auto showing = notifications_.show(
        {QStringLiteral("Записать звонок?"), text,
         {QStringLiteral("Записать"), QStringLiteral("Не сейчас"), QStringLiteral("Больше не предлагать")}},
        [self, stream](int action) {
            if (self)
                self->answerRecordOffer(stream, action);
        });
    const bool shown = co_await std::move(showing);
    if (!self || shown)
        co_return;
    // No notification server: the offer waits in the status line, where the
    // menu's own command is one click away.
    self->status_.showStatus(name.isEmpty()
                                 ? QStringLiteral("Похоже, начался звонок — записать: «Начать аудиозапись»")
                                 : QStringLiteral("Похоже, начался звонок в «%1» — записать: «Начать аудиозапись»")
                                       .arg(name));
}

void CallWatch::answerRecordOffer(const CallStreams::Stream& stream, int action)
{
    switch (action) {
    case recordAction:
        accepted_ = stream;
        if (commands_.record)
            commands_.record();
        return;
    case turnOffAction:
        setEnabled(false);
        status_.showStatus(QStringLiteral("Korvala больше не предлагает записать звонок. Включить снова: korvala call-watch on"));
        return;
    default:
        return;
    }
}

void CallWatch::recordingStarted()
{
    recording_ = true;
    ++recordingSerial_;
    recordedCall_ = accepted_;
    accepted_.reset();
    callSeen_ = followedOpen() > 0;
    endOffered_ = false;
    checkEnd();
}

void CallWatch::recordingStopped()
{
    recording_ = false;
    recordedCall_.reset();
    callSeen_ = false;
    endPending_ = false;
    ++endSerial_;
}

bool CallWatch::followed(const CallStreams::Stream& stream) const
{
    return !recordedCall_ || program(stream) == program(*recordedCall_);
}

int CallWatch::followedOpen() const
{
    return int(std::count_if(calls_.begin(), calls_.end(), [this](const auto& call) { return followed(call.second.stream); }));
}

void CallWatch::checkEnd()
{
    if (!recording_ || !callSeen_ || endOffered_ || followedOpen() > 0) {
        // The call came back, or there is none to end: a countdown stops.
        if (endPending_) {
            endPending_ = false;
            ++endSerial_;
        }
        return;
    }
    if (endPending_)
        return;
    endPending_ = true;
    const unsigned serial = ++endSerial_;
    const unsigned recording = recordingSerial_;
    clock_.after(endAfterSeconds, this, [this, serial, recording] {
        if (serial != endSerial_)
            return;
        endPending_ = false;
        endOffered_ = true;
        offerToStop(recording);
    });
}

QCoro::Task<> CallWatch::offerToStop(unsigned recording)
{
    QPointer<CallWatch> self(this);
    const QString name = recordedCall_ ? programName(*recordedCall_) : QString();
    const QString text = !name.isEmpty()
        ? QStringLiteral("«%1» больше не слушает микрофон. Запись идёт, пока вы её не остановите.").arg(name)
        : QStringLiteral("Ни одна программа больше не слушает микрофон. Запись идёт, пока вы её не остановите.");
    auto showing = notifications_.show({QStringLiteral("Звонок закончился?"), text, {QStringLiteral("Остановить и отправить")}},
                                       [self, recording](int) {
                                           // Only the recording it was offered for.
                                           if (self && self->recording_ && self->recordingSerial_ == recording
                                               && self->commands_.stop)
                                               self->commands_.stop();
                                       });
    if (!co_await std::move(showing))
        Log::info("звонок закончился, а предложить остановить запись негде: нет сервера уведомлений");
}
