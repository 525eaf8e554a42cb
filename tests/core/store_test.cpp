#include "core/store.h"

#include "core/log.h"
#include "tests/support/recording_journal.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        settings = Store::openAt(folder.filePath("korvala/korvala.conf"));
        journal = std::make_shared<RecordingJournal>();
        previous = Log::setJournal(journal);
    }
    void TearDown() override { Log::setJournal(previous); }

    QTemporaryDir folder;
    std::unique_ptr<QSettings> settings;
    std::shared_ptr<RecordingJournal> journal;
    std::shared_ptr<Journal> previous;
};

} // namespace

TEST_F(StoreTest, EmptySettingsMeanSignedOutDefaultOriginNoReminderNoConsent)
{
    Store store(*settings);
    EXPECT_FALSE(store.token().has_value());
    EXPECT_EQ(store.baseURL(), QUrl("https://korvala.app"));
    EXPECT_FALSE(store.updateRemindAfter().has_value());
    EXPECT_FALSE(store.warnedAboutConsent());
}

TEST_F(StoreTest, EmptyTokenStillCountsAsSignedIn)
{
    settings->setValue("token", "");
    EXPECT_EQ(Store(*settings).token(), QString(""));
}

TEST_F(StoreTest, BaseUrlOverrideIsUsedOnlyWhenItIsAnHttpAddress)
{
    Store store(*settings);
    settings->setValue("baseURL", "http://127.0.0.1:8080/service");
    EXPECT_EQ(store.baseURL(), QUrl("http://127.0.0.1:8080/service"));
    EXPECT_TRUE(journal->messages(errorPriority).isEmpty());

    settings->remove("baseURL");
    EXPECT_EQ(store.baseURL(), QUrl("https://korvala.app"));

    for (const char* bad : {"not a url", "ftp://example.org", "file:///etc/passwd", "/relative/path", "https://"}) {
        settings->setValue("baseURL", bad);
        EXPECT_EQ(store.baseURL(), QUrl("https://korvala.app")) << bad;
    }
    EXPECT_EQ(journal->messages(errorPriority).size(), 5);

    // The same bad value is reported once, not at every request.
    settings->setValue("baseURL", "not a url");
    store.baseURL();
    store.baseURL();
    EXPECT_EQ(journal->messages(errorPriority).size(), 5);
}

TEST_F(StoreTest, ReminderIsReadOnlyWhenItReallyIsADate)
{
    Store store(*settings);
    const QDateTime when(QDate(2026, 12, 24), QTime(9, 30));
    settings->setValue("updateRemindAfter", when);
    settings->sync();
    // Read back through a fresh object, as the next launch would.
    auto reopened = Store::openAt(settings->fileName());
    ASSERT_TRUE(Store(*reopened).updateRemindAfter().has_value());
    EXPECT_EQ(*Store(*reopened).updateRemindAfter(), when);

    for (const QVariant& wrong : {QVariant("2026-12-24"), QVariant(42), QVariant(true), QVariant(QDateTime())}) {
        settings->setValue("updateRemindAfter", wrong);
        EXPECT_FALSE(store.updateRemindAfter().has_value()) << wrong.toString().toStdString();
    }
}

TEST_F(StoreTest, RecordingsFolderIsInDocumentsAndIsNotCreatedByReading)
{
    QStandardPaths::setTestModeEnabled(false);
    Store store(*settings);
    const QString path = store.recordingsDirectory();
    const QStringList documents = QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation);
    const QString base = documents.isEmpty() ? QDir::tempPath() : documents.first();
    EXPECT_EQ(path, base + QString::fromUtf8("/Корвала — записи встреч"));
    if (!QFileInfo::exists(path)) {
        store.recordingsDirectory();
        EXPECT_FALSE(QFileInfo::exists(path));
    }
}

TEST_F(StoreTest, SettingsFileIsPrivateAndStaysPrivateAfterSaving)
{
    settings->setValue("token", "secret");
    settings->sync();
    struct stat info {};
    ASSERT_EQ(stat(settings->fileName().toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    settings->setValue("warnedAboutConsent", true);
    settings->sync();
    ASSERT_EQ(stat(settings->fileName().toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(Store(*settings).warnedAboutConsent());
}
