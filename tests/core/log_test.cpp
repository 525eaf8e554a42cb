#include "core/log.h"

#include "core/journal.h"
#include "tests/support/recording_journal.h"
#include "tests/support/stderr_capture.h"

#include <gtest/gtest.h>

#include <QList>

#include <algorithm>
#include <mutex>
#include <thread>

namespace {

struct JournalSwap {
    explicit JournalSwap(std::shared_ptr<Journal> journal) : previous(Log::setJournal(std::move(journal))) {}
    ~JournalSwap() { Log::setJournal(previous); }
    std::shared_ptr<Journal> previous;
};

bool has(const std::vector<std::string>& fields, const std::string& field)
{
    return std::find(fields.begin(), fields.end(), field) != fields.end();
}

} // namespace

TEST(Log, WarningGoesToJournalAtErrorPriorityAndToStandardError)
{
    auto journal = std::make_shared<RecordingJournal>();
    JournalSwap swap(journal);
    StderrCapture capture;
    Log::warn("abc");
    EXPECT_EQ(capture.take(), QByteArray("[korvala] abc\n"));

    ASSERT_EQ(journal->entries.size(), 1u);
    const auto& entry = journal->entries[0];
    EXPECT_TRUE(has(entry, "MESSAGE=abc"));
    EXPECT_TRUE(has(entry, "PRIORITY=3"));
    EXPECT_TRUE(has(entry, "SYSLOG_IDENTIFIER=korvala"));
    EXPECT_TRUE(has(entry, "KORVALA_SUBSYSTEM=app.korvala.Korvala"));
    EXPECT_TRUE(has(entry, "KORVALA_CATEGORY=recorder"));
}

TEST(Log, InformationGoesToJournalOnly)
{
    auto journal = std::make_shared<RecordingJournal>();
    JournalSwap swap(journal);
    StderrCapture capture;
    Log::info(QString::fromUtf8("дорожка пропущена"));
    EXPECT_TRUE(capture.take().isEmpty());
    ASSERT_EQ(journal->entries.size(), 1u);
    EXPECT_TRUE(has(journal->entries[0], "PRIORITY=6"));
    EXPECT_TRUE(has(journal->entries[0], "MESSAGE=дорожка пропущена"));
}

TEST(Log, StandardErrorStillGetsTheLineWhenNoJournalAnswers)
{
    JournalSwap swap(std::make_shared<RecordingJournal>(false));
    StderrCapture capture;
    Log::warn(QString::fromUtf8("звук: нет устройства"));
    EXPECT_EQ(capture.take(), QByteArray("[korvala] звук: нет устройства\n"));
}

TEST(Log, LinesFromManyThreadsNeverInterleave)
{
    auto journal = std::make_shared<RecordingJournal>();
    JournalSwap swap(journal);
    StderrCapture capture;
    const QString long1 = QString(500, QChar('a'));
    const QString long2 = QString(500, QChar(u'ж'));
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i)
                Log::warn(t % 2 ? long1 : long2);
        });
    }
    for (auto& thread : threads)
        thread.join();

    const QList<QByteArray> lines = capture.take().split('\n');
    ASSERT_EQ(lines.size(), 401); // the last one is empty after the final line feed
    const QByteArray a = "[korvala] " + long1.toUtf8();
    const QByteArray z = "[korvala] " + long2.toUtf8();
    for (int i = 0; i < 400; ++i)
        EXPECT_TRUE(lines[i] == a || lines[i] == z) << "line " << i;
    EXPECT_EQ(journal->entries.size(), 400u);
}
