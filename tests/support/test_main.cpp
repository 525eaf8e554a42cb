#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

// Runs GoogleTest inside a QApplication: the offscreen platform unless the
// environment chose one (integration tests run on the test X server).
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // Qt wants a private runtime folder; a test run may not have one.
    QTemporaryDir runtime;
    const QByteArray existing = qgetenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (existing.isEmpty() || stat(existing.constData(), &info) != 0 || (info.st_mode & 0077) != 0) {
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                  | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    }

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
