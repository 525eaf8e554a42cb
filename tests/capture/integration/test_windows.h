#pragma once

// Helpers of the capture integration tests: commands of the test desktop and
// windows of another program.

#include "tests/support/qt_wait.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

inline QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Another program's windows, given as "title|#rrggbb|x|y|width|height".
class TestWindows {
public:
    explicit TestWindows(const QStringList& descriptions, const QString& program = {})
    {
        if (!program.isEmpty()) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("KORVALA_TEST_APP", program);
            process_.setProcessEnvironment(environment);
        }
        process_.start(QStringLiteral(CAPTURE_TEST_WINDOWS), descriptions);
        waitUntil([&] {
            process_.waitForReadyRead(50);
            while (process_.canReadLine()) {
                const QStringList words = QString::fromUtf8(process_.readLine()).split(u' ');
                if (words.size() == 3)
                    ids_.push_back(words[2].trimmed().toUInt());
            }
            return ids_.size() == size_t(descriptions.size());
        }, 10000);
    }
    ~TestWindows() { close(); }

    uint32_t id(size_t index) const { return index < ids_.size() ? ids_[index] : 0; }
    bool started() const { return !ids_.empty(); }
    void close()
    {
        process_.kill();
        process_.waitForFinished();
    }

private:
    QProcess process_;
    std::vector<uint32_t> ids_;
};

