#include "service/api.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

using namespace std::chrono_literals;

// The whole answer path of the service client under libFuzzer: a server on
// 127.0.0.1 answers every request with the input's bytes (status line,
// headers, body, redirects included) and closes, and one call of Api takes it
// through perform and its decoder. The input's first byte picks the call. A
// crash, hang or sanitizer report is a finding; a Failure is not.
namespace {

QByteArray answer;

QCoro::Task<void> call(const Api& api, unsigned char which)
{
    try {
        switch (which % 4) {
        case 0:
            co_await api.checkVersion();
            break;
        case 1:
            co_await api.recording(7);
            break;
        case 2:
            co_await api.speechLimit();
            break;
        default:
            co_await api.signIn(QStringLiteral("a@b"), QStringLiteral("p"));
            break;
        }
    } catch (const Api::Failure&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    answer = QByteArray(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 0;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            // Answer once the request's head has arrived, then hang up.
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, received = QByteArray()]() mutable {
                received += socket->readAll();
                if (!received.contains("\r\n\r\n") || socket->property("answered").toBool())
                    return;
                socket->setProperty("answered", true);
                socket->write(answer);
                socket->disconnectFromHost();
            });
        }
    });

    Api api(QUrl(QStringLiteral("http://127.0.0.1:%1/base").arg(server.serverPort())), QStringLiteral("token"));
    // An answer that stops short and keeps the connection open ends here.
    api.transferTimeout = 2s;
    api.callDeadline = 3s;
    QCoro::waitFor(call(api, data[0]));
    return 0;
}
