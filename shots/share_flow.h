#pragma once

#include "core/shell.h"
#include "core/store.h"
#include "platform/workspace.h"
#include "service/api_factory.h"

#include <QImage>
#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

// Sharing an annotated shot as a link: the upload, the clipboard, the browser
// and the notices that tell the user how it went.
class ShareFlow final : public QObject {
public:
    ShareFlow(const Store& store, ApiFactory api, Workspace& workspace, StatusSink& status, ErrorReporter& errors,
              NoticeSink& notices);

    // Uploads the picture and puts its link on the clipboard; returns at
    // once, the upload goes on in a task.
    void share(const QImage& bitmap);

private:
    static QCoro::Task<void> upload(QPointer<ShareFlow> self, QByteArray png);

    Store store_;
    ApiFactory api_;
    Workspace& workspace_;
    StatusSink& status_;
    ErrorReporter& errors_;
    NoticeSink& notices_;
};
