// The text table a recording streams into a file of the user's: how often it
// reaches the disk, and a write that fails.
#include "core/recording/DataFiles.h"
#include "core/recording/TextTableFile.h"
#include "support/Wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <unistd.h>

using namespace voltaro;
using namespace std::chrono_literals;
using voltaro::testing::waitUntil;

namespace {

QByteArray line(int no) {
    return QStringLiteral("%1\t10:00:00\tDC\t1.5\tV\tPass\r\n").arg(no).toLatin1();
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(TextTableFile, RowsReachTheDiskOnceAPeriodAtMostAndAllOfThemWhenFinished) {
    QTemporaryDir dir;
    const QString path = dir.filePath("rows.txt");
    std::atomic<int> syncs{0};
    TextTableFile file(
        [&](int fd) {
            ++syncs;
            return ::fdatasync(fd);
        },
        100ms);
    QString error;
    ASSERT_TRUE(file.open(path, false, &error)) << error.toStdString();
    EXPECT_EQ(contents(path), datafiles::textHeader()) << "the header is on disk at once";
    QByteArray all = datafiles::textHeader();
    QElapsedTimer appending;
    appending.start();
    for (int n = 1; n <= 60; ++n) {
        file.append(line(n));
        all += line(n);
        QThread::msleep(5);
    }
    const qint64 took = appending.elapsed();
    ASSERT_TRUE(waitUntil([&] { return file.rowsWritten() == 60; }));
    // The header's sync, then one for each period the rows came in (and one more at the end).
    EXPECT_LE(syncs.load(), 1 + took / 100 + 2) << took << " ms";
    EXPECT_GE(syncs.load(), 2);
    file.append(line(61));
    all += line(61);
    EXPECT_TRUE(file.finish());
    EXPECT_EQ(contents(path), all);
    EXPECT_EQ(file.rowsPending(), 0);

    QString refused;
    TextTableFile again;
    EXPECT_FALSE(again.open(path, false, &refused));
    EXPECT_TRUE(refused.contains("exists")) << refused.toStdString();
    EXPECT_EQ(contents(path), all);
}

TEST(TextTableFile, AFailedSyncIsTakenBackAndTheRowsFollowOnceWhenItWorks) {
    QTemporaryDir dir;
    const QString path = dir.filePath("rows.txt");
    std::atomic<bool> broken{false};
    TextTableFile file(
        [&](int fd) {
            if (broken) {
                errno = EIO;
                return -1;
            }
            return ::fdatasync(fd);
        },
        10ms);
    QString error;
    ASSERT_TRUE(file.open(path, false, &error)) << error.toStdString();
    broken = true;
    file.append(line(1));
    file.append(line(2));
    ASSERT_TRUE(waitUntil([&] { return file.health() == TextTableFile::Health::Failing; }));
    EXPECT_TRUE(file.lastError().contains(path)) << file.lastError().toStdString();
    EXPECT_EQ(contents(path), datafiles::textHeader());
    EXPECT_EQ(file.rowsPending(), 2);
    file.append(line(3));
    broken = false;
    ASSERT_TRUE(waitUntil([&] { return file.health() == TextTableFile::Health::Writing; }));
    EXPECT_TRUE(file.finish());
    EXPECT_EQ(contents(path), datafiles::textHeader() + line(1) + line(2) + line(3));
    EXPECT_EQ(file.rowsWritten(), 3);
}

// The file gets its name only with its header on disk, so a program killed
// while making it leaves nothing that does not load; a file it was to replace
// stays whole until then, and one it may not replace is left alone.
TEST(TextTableFile, AFileIsNamedOnlyOnceItsHeaderIsOnDisk) {
    QTemporaryDir dir;
    const QString path = dir.filePath("rows.txt");
    const QByteArray before = "No\tTime\r\n1\t10:00:00\r\n";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    QString error;
    TextTableFile refused;
    EXPECT_FALSE(refused.open(path, false, &error));
    EXPECT_EQ(error, path + " exists already");

    // A header that cannot reach the disk: the old file stays as it was.
    TextTableFile failing([](int) {
        errno = EIO;
        return -1;
    });
    EXPECT_FALSE(failing.open(path, true, &error));
    EXPECT_TRUE(error.startsWith(path + ": ")) << error.toStdString();
    EXPECT_EQ(contents(path), before);

    TextTableFile replacing;
    ASSERT_TRUE(replacing.open(path, true, &error)) << error.toStdString();
    EXPECT_EQ(contents(path), datafiles::textHeader());
    TextTableFile made;
    ASSERT_TRUE(made.open(dir.filePath("new.txt"), false, &error)) << error.toStdString();
    EXPECT_EQ(contents(dir.filePath("new.txt")), datafiles::textHeader());
    // Nothing else is left in the folder.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"new.txt", "rows.txt"}));
}
