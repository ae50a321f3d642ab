// One Pellux per user (the instance socket and its lock) and one capturing process per Pellux
// folder (the capture lock), with real sockets and lock files in a private runtime folder.
#include "app/CaptureLock.h"
#include "app/SingleInstance.h"
#include "support/TestFiles.h"

#include <QLocalSocket>

#include <future>

#include <sys/socket.h>
#include <sys/un.h>

namespace pellux {
namespace {

using namespace pellux::test;

// Runs `work` on its own thread (a later instance blocks while it waits for the answer) and keeps
// this thread's event loop turning, so that the running instance can answer.
template <typename T> T whileServing(const std::function<T()> &work)
{
    std::future<T> result = std::async(std::launch::async, work);
    while (result.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return result.get();
}

// A socket file with nobody listening, as an instance that crashed leaves it.
bool makeStaleSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(folder)); }

    TempHome home;
    QString folder = home.path() + QStringLiteral("/runtime");
};

TEST_F(SingleInstanceTest, ALaterStartHandsItsRequestToTheRunningOneAndGarbageIsIgnored)
{
    // What a crashed instance left is taken over: its socket (nobody listening) and its lock file
    // naming a process long gone.
    ASSERT_TRUE(makeStaleSocket(folder + QStringLiteral("/pellux.socket")));
    ASSERT_TRUE(test::writeAll(folder + QStringLiteral("/pellux.lock"), "999999\n"));

    SingleInstance first(folder);
    ASSERT_EQ(first.start(), SingleInstance::Outcome::running) << first.errorString().toStdString();
    EXPECT_EQ(modeOf(first.socketPath()), 0600);
    int shows = 0;
    QObject::connect(&first, &SingleInstance::showRequested, [&] { ++shows; });

    // Garbage gets no answer and shows nothing; then show still brings the window forward (the
    // answer is written after the signal: it has been delivered by now).
    for (const QByteArray &garbage : { QByteArray("quit\n"), QByteArray(200, 'x'), QByteArray("show") }) {
        const QByteArray answer = whileServing<QByteArray>([&] {
            QLocalSocket socket;
            socket.connectToServer(first.socketPath());
            if (!socket.waitForConnected(2000))
                return QByteArray("not connected");
            socket.write(garbage);
            socket.waitForBytesWritten(2000);
            // An unfinished line ("show" without its newline) gets no answer either.
            socket.waitForReadyRead(500);
            return socket.readAll();
        });
        EXPECT_TRUE(answer.isEmpty()) << garbage.left(20).toStdString() << ": " << answer.toStdString();
    }
    EXPECT_EQ(shows, 0);
    EXPECT_EQ(whileServing<SingleInstance::Outcome>(
                  [&] { return SingleInstance(folder).start(SingleInstance::Request::show); }),
        SingleInstance::Outcome::handedOver);
    EXPECT_EQ(shows, 1);
}

TEST_F(SingleInstanceTest, AnInstanceThatHoldsTheLockButDoesNotAnswerIsReported)
{
    // Holding the lock without ever listening: a running instance that hangs.
    FileLock hung(folder + QStringLiteral("/pellux.lock"));
    ASSERT_EQ(hung.tryLock(), FileLock::Result::acquired);
    SingleInstance later(folder);
    EXPECT_EQ(later.start(), SingleInstance::Outcome::noAnswer);
    EXPECT_EQ(std::pair(later.errorString().isEmpty(), later.runningPid()), std::pair(false, ::getpid()));
    // Once it is gone, the next start runs.
    hung.release();
    EXPECT_EQ(later.start(), SingleInstance::Outcome::running) << later.errorString().toStdString();
}

TEST(CaptureLock, OneHolderAtATimeAndTheNextOnceReleased)
{
    TempHome home;
    CaptureLock tray, command;
    EXPECT_EQ(tray.folder(), home.pelluxFolder());
    ASSERT_TRUE(tray.tryAcquire()) << tray.refusal().toStdString();
    EXPECT_TRUE(tray.tryAcquire()); // taking it again is harmless
    EXPECT_FALSE(command.tryAcquire());
    EXPECT_EQ(std::pair(command.heldElsewhere(), command.isHeld()), std::pair(true, false));
    for (const QString &part : { QStringLiteral("pid %1").arg(::getpid()), home.pelluxFolder() })
        EXPECT_TRUE(command.refusal().contains(part)) << command.refusal().toStdString();

    tray.release();
    EXPECT_TRUE(command.tryAcquire()) << command.refusal().toStdString();
    EXPECT_FALSE(command.heldElsewhere());
    EXPECT_FALSE(tray.tryAcquire());
}

TEST(CaptureLock, TheFolderAndTheLockFileArePrivateAndAFolderThatCannotBeMadeIsAnError)
{
    TempHome home;
    const QString lockPath = home.pelluxFolder() + QStringLiteral("/.capture.lock");
    for (const bool existedBefore : { false, true }) {
        // A lock file left readable by everyone is tightened.
        if (existedBefore) {
            ASSERT_TRUE(QFile::setPermissions(lockPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        }
        CaptureLock lock;
        ASSERT_TRUE(lock.tryAcquire()) << lock.refusal().toStdString();
        EXPECT_EQ(modeOf(home.pelluxFolder()), 0700);
        EXPECT_EQ(modeOf(lockPath), 0600) << existedBefore;
    }
    // A folder that cannot be made (Documents/Pellux is a plain file) is an error, not another holder.
    TempHome blocked;
    ASSERT_TRUE(test::writeAll(blocked.pelluxFolder(), {}));
    CaptureLock lock;
    EXPECT_FALSE(lock.tryAcquire());
    EXPECT_EQ(std::pair(lock.heldElsewhere(), lock.refusal().isEmpty()), std::pair(false, false));
}

} // namespace
} // namespace pellux
