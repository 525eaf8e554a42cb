#include "core/store.h"

#include "core/log.h"
#include "tests/support/documents_folder.h"
#include "tests/support/recording_journal.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { previous = Log::setJournal(journal); }
    void TearDown() override { Log::setJournal(previous); }

    QTemporaryDir folder;
    std::unique_ptr<QSettings> settings = Store::openAt(folder.filePath("korvala/korvala.conf"));
    Store store {*settings};
    std::shared_ptr<RecordingJournal> journal = std::make_shared<RecordingJournal>();
    std::shared_ptr<Journal> previous;
};

} // namespace

TEST_F(StoreTest, AnEmptyTokenStillCountsAsSignedIn)
{
    EXPECT_FALSE(store.token().has_value());
    settings->setValue("token", "");
    EXPECT_EQ(store.token(), QString(""));
}

TEST_F(StoreTest, BaseUrlOverrideIsUsedOnlyWhenItIsAnHttpAddressAndABadOneIsLoggedOnce)
{
    settings->setValue("baseURL", "http://127.0.0.1:8080/service");
    EXPECT_EQ(store.baseURL(), QUrl("http://127.0.0.1:8080/service"));
    for (const char* bad : {"not a url", "ftp://example.org", "file:///etc/passwd", "/relative/path", "https://"}) {
        settings->setValue("baseURL", bad);
        EXPECT_EQ(store.baseURL(), Store::builtInBaseURL()) << bad;
    }
    EXPECT_EQ(journal->messages(errorPriority).size(), 5);
    settings->setValue("baseURL", "not a url");
    store.baseURL();
    EXPECT_EQ(journal->messages(errorPriority).size(), 5) << "not again at every request";
}

TEST_F(StoreTest, ReminderIsReadOnlyWhenItReallyIsADate)
{
    const QDateTime when(QDate(2026, 12, 24), QTime(9, 30));
    settings->setValue("updateRemindAfter", when);
    settings->sync();
    // Read back through a fresh object, as the next launch would.
    auto reopened = Store::openAt(settings->fileName());
    EXPECT_EQ(Store(*reopened).updateRemindAfter(), when);
    for (const QVariant& wrong : {QVariant("2026-12-24"), QVariant(42), QVariant(true), QVariant(QDateTime())}) {
        settings->setValue("updateRemindAfter", wrong);
        EXPECT_FALSE(store.updateRemindAfter().has_value()) << wrong.toString().toStdString();
    }
}

TEST_F(StoreTest, RecordingsFolderIsInDocumentsAndIsNotCreatedByReading)
{
    DocumentsFolder documents;
    ASSERT_TRUE(documents.place(folder.filePath("config"), folder.filePath("Documents")));
    const QFileInfo recordings(store.recordingsDirectory());
    EXPECT_EQ(recordings.path(), folder.filePath("Documents"));
    EXPECT_FALSE(recordings.exists());
}

TEST_F(StoreTest, SettingsFileIsPrivateAndStaysPrivateAfterSaving)
{
    for (const char* key : {"token", "warnedAboutConsent"}) {
        settings->setValue(key, "secret");
        settings->sync();
        struct stat info {};
        ASSERT_EQ(stat(settings->fileName().toLocal8Bit().constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << key;
    }
}
