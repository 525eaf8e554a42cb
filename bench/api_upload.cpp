// Uploads a 20 MB track to the stand-in service on loopback with Api::upload
// and, for reference, with `curl -F file=@track.m4a` to the same endpoint.
// Prints the median wall time of each and the peak memory growth: for the
// client the rise of this process's peak resident set during the upload,
// for curl its whole-process peak.
//   bench_api_upload [runs] [megabytes]
#include "bench/bench_support.h"
#include "service/api.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

long statusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::string(field).size()));
    }
    return -1;
}

// Resets VmHWM to the current resident set.
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct CurlRun {
    double seconds;
    long peakKb;
};

CurlRun runCurl(const QStringList& arguments)
{
    QElapsedTimer timer;
    timer.start();
    const pid_t child = fork();
    if (child == 0) {
        std::vector<std::string> args{"curl"};
        for (const QString& a : arguments)
            args.push_back(a.toStdString());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp("curl", argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {timer.nsecsElapsed() / 1e9, usage.ru_maxrss};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const int megabytes = argc > 2 ? std::atoi(argv[2]) : 20;

    const QString program = qEnvironmentVariableIsSet("KORVALA_DEVSERVICE")
                                ? qEnvironmentVariable("KORVALA_DEVSERVICE")
                                : QDir(QCoreApplication::applicationDirPath()).filePath("../tools/devservice/korvala-devservice");
    QProcess service;
    service.start(program, {"--port", "0", "--hours", "1000000"});
    if (!service.waitForStarted() || !service.waitForReadyRead(10'000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(program));
        return 1;
    }
    const QUrl base(QString::fromUtf8(service.readLine()).trimmed());

    QTemporaryDir dir;
    const QString path = dir.filePath("track.m4a");
    {
        QFile track(path);
        track.open(QIODevice::WriteOnly);
        QByteArray chunk(1 << 20, '\0');
        for (int i = 0; i < megabytes; ++i) {
            for (int j = 0; j < chunk.size(); ++j)
                chunk[j] = char((i * 131 + j * 7) & 0xff);
            if (i == 0)
                chunk.replace(4, 4, "ftyp");
            track.write(chunk);
        }
    }
    const qint64 fileKb = QFileInfo(path).size() / 1024;

    const QString token = QCoro::waitFor(Api(base, std::nullopt).signIn("demo@korvala.local", "demo"));
    const Api api(base, token);
    const QString endpoint = base.toString() + "/api/v1/rasshifrovka";

    std::vector<double> clientSeconds, curlSeconds;
    long clientGrowthKb = 0, curlPeakKb = 0;
    for (int i = 0; i < runs; ++i) {
        resetPeak();
        const long before = statusKb("VmRSS:");
        QElapsedTimer timer;
        timer.start();
        const Api::Recording job = QCoro::waitFor(api.upload(path));
        clientSeconds.push_back(timer.nsecsElapsed() / 1e9);
        clientGrowthKb = std::max(clientGrowthKb, statusKb("VmHWM:") - before);
        if (job.status.isEmpty())
            return 1;

        const CurlRun curl = runCurl({"-sS", "-o", "/dev/null", "-H", "Authorization: Bearer " + token, "-F",
                                      "file=@" + path, endpoint});
        curlSeconds.push_back(curl.seconds);
        curlPeakKb = std::max(curlPeakKb, curl.peakKb);
    }
    service.terminate();
    service.waitForFinished();

    std::printf("track: %lld KiB, %d runs each\n", fileKb, runs);
    std::printf("Api::upload   median %.3f s   peak RSS growth %ld KiB (%.2f x file)\n", median(clientSeconds),
                clientGrowthKb, double(clientGrowthKb) / fileKb);
    std::printf("curl -F       median %.3f s   peak RSS (whole process) %ld KiB\n", median(curlSeconds), curlPeakKb);
    std::printf("time ratio Api/curl: %.2f\n", median(clientSeconds) / median(curlSeconds));
    return 0;
}
