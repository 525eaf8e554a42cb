#include "core/log.h"

#include "core/journal.h"
#include "tests/support/recording_journal.h"
#include "tests/support/stderr_capture.h"

#include <gtest/gtest.h>

#include <QList>

#include <algorithm>
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

TEST(Log, WarningsGoToTheJournalAndStandardErrorInformationToTheJournalOnly)
{
    struct Case {
        void (*log)(const QString&);
        bool journalAnswers;
        const char* priority;
        QByteArray standardError;
    } cases[] = {
        {Log::warn, true, "PRIORITY=3", "[korvala] звук: нет устройства\n"},
        {Log::info, true, "PRIORITY=6", ""},
        {Log::warn, false, "PRIORITY=3", "[korvala] звук: нет устройства\n"}, // stderr still gets it
    };
    for (const Case& c : cases) {
        auto journal = std::make_shared<RecordingJournal>(c.journalAnswers);
        JournalSwap swap(journal);
        StderrCapture capture;
        c.log(QString::fromUtf8("звук: нет устройства"));
        EXPECT_EQ(capture.take(), c.standardError);
        ASSERT_EQ(journal->entries.size(), 1u);
        for (const char* field : {"MESSAGE=звук: нет устройства", c.priority, "SYSLOG_IDENTIFIER=korvala",
                                  "KORVALA_SUBSYSTEM=app.korvala.Korvala", "KORVALA_CATEGORY=recorder"})
            EXPECT_TRUE(has(journal->entries[0], field)) << field;
    }
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
