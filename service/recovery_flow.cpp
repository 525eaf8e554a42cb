#include "service/recovery_flow.h"

#include "core/log.h"
#include "recording/recorder.h"
#include "service/upload_flow.h"

#include <QLocale>
#include <QPointer>

#include <qcoro/qcorofuture.h>

RecoveryFlow::RecoveryFlow(const Store& store, Recorder& recorder, Alerts& alerts, StatusSink& status,
                           ErrorReporter& errors, UploadFlow& upload)
    : store_(store)
    , recorder_(recorder)
    , alerts_(alerts)
    , status_(status)
    , errors_(errors)
    , upload_(upload)
    , queue_(queueLabel(".recovery"))
{
}

Alerts::Alert RecoveryFlow::alertFor(const std::vector<UnfinishedRecordings::Recovered>& recovered, bool canSend)
{
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    QStringList names;
    for (const UnfinishedRecordings::Recovered& recording : recovered)
        names.append(QStringLiteral("• ") + russian.toString(recording.startedAt, QStringLiteral("d MMMM yyyy, HH:mm"))
                     + QStringLiteral(" — ") + recording.base);
    const bool one = recovered.size() == 1;
    Alerts::Alert alert;
    alert.message = one ? QStringLiteral("Запись не была завершена") : QStringLiteral("Записи не были завершены");
    alert.informativeText = (one ? QStringLiteral("Korvala закрылась посреди записи. Всё, что успело записаться, "
                                                  "сохранено в папке с записями:\n\n")
                                 : QStringLiteral("Korvala закрылась посреди записей. Всё, что успело записаться, "
                                                  "сохранено в папке с записями:\n\n"))
        + names.join('\n');
    if (canSend) {
        alert.informativeText += QStringLiteral("\n\nОтправить на расшифровку сейчас?");
        alert.buttons = {QStringLiteral("Отправить на расшифровку"), QStringLiteral("Не сейчас")};
    } else {
        alert.informativeText += QStringLiteral("\n\nЧтобы отправить на расшифровку, войдите.");
        alert.buttons = {QStringLiteral("Понятно")};
    }
    return alert;
}

QCoro::Task<void> RecoveryFlow::recover()
{
    const QPointer<RecoveryFlow> self(this);
    const QString directory = recorder_.directory();
    const QStringList inUse = recorder_.filesInUse();
    const std::shared_ptr<AudioMedia> media = recorder_.audioMedia();
    // Rewriting an hour of video takes a while; the tray answers meanwhile.
    auto finishing = queue_.run([directory, inUse, media] {
        return UnfinishedRecordings::finish(directory, *media, inUse);
    });
    const std::vector<UnfinishedRecordings::Recovered> recovered = co_await finishing;
    if (!self || recovered.empty())
        co_return;
    const bool canSend = store_.token().has_value();
    const int answer = alerts_.run(alertFor(recovered, canSend));
    if (!self || !canSend || answer != Alerts::firstButton)
        co_return;
    for (const UnfinishedRecordings::Recovered& recording : recovered) {
        status_.showStatus(QStringLiteral("Отправляем…"));
        try {
            auto sending = upload_.upload(recording.files);
            co_await std::move(sending);
        } catch (const std::exception& error) {
            if (self)
                self->errors_.report(error);
        }
        if (!self)
            co_return;
    }
}
