#include "runtime/MainThread.h"
#include "runtime/SerialQueue.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <qcorofuture.h>
#include <qcorotask.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace pellux;

TEST(SerialQueue, RunsTasksOneAtATimeInSubmissionOrderFromManyThreads)
{
    SerialQueue queue(QStringLiteral("com.pellux.test"));
    std::vector<int> seen; // touched only on the queue
    std::atomic<int> inside { 0 };
    bool overlapped = false;
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < 200; ++i) {
                queue.async([&, value = p * 1000 + i] {
                    if (inside.fetch_add(1) != 0)
                        overlapped = true;
                    seen.push_back(value);
                    inside.fetch_sub(1);
                });
            }
        });
    }
    for (std::thread &t : producers)
        t.join();
    queue.drain();
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(seen.size(), 800u);
    // Each producer's tasks keep their relative order.
    for (int p = 0; p < 4; ++p) {
        int last = -1;
        for (int v : seen) {
            if (v / 1000 == p) {
                EXPECT_GT(v, last);
                last = v;
            }
        }
    }
    EXPECT_EQ(queue.pendingCount(), 0u);
}

TEST(SerialQueue, SyncFromItsOwnThreadDoesNotDeadlockAndRunsOnTheNamedThread)
{
    SerialQueue queue(QStringLiteral("com.pellux.database"));
    std::thread::id worker;
    bool nested = false;
    queue.sync([&] {
        worker = std::this_thread::get_id();
        EXPECT_TRUE(queue.isCurrent());
        queue.sync([&] { nested = true; });
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        EXPECT_STREQ(name, "pellux.database");
    });
    EXPECT_TRUE(nested);
    EXPECT_NE(worker, std::this_thread::get_id());
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, DestructionRunsEverythingAlreadySubmittedAndSurvivesThrowingTasks)
{
    std::atomic<int> count { 0 };
    {
        SerialQueue queue(QStringLiteral("q"));
        queue.async([] { throw std::runtime_error("boom"); });
        for (int i = 0; i < 50; ++i)
            queue.async([&] {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                ++count;
            });
    }
    EXPECT_EQ(count.load(), 50);
}

TEST(SerialQueue, AThrowingTaskReachesItsWaiterInsteadOfLeavingItWaiting)
{
    SerialQueue queue(QStringLiteral("q"));
    EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
    QFuture<int> failed = queue.future([]() -> int { throw std::runtime_error("boom"); });
    EXPECT_THROW(failed.result(), std::runtime_error);
    EXPECT_TRUE(failed.isFinished());
    // The queue goes on as before.
    int value = 0;
    queue.sync([&] { value = 7; });
    EXPECT_EQ(value, 7);
}

namespace {
QCoro::Task<int> awaitOnQueue(SerialQueue &queue, std::thread::id *resumedOn)
{
    const int value = co_await queue.future([] { return 41 + 1; });
    *resumedOn = std::this_thread::get_id();
    co_return value;
}
} // namespace

TEST(SerialQueue, AFutureAwaitedOnTheMainThreadResumesThere)
{
    SerialQueue queue(QStringLiteral("q"));
    std::thread::id resumedOn;
    int result = 0;
    QEventLoop loop;
    auto task = [&]() -> QCoro::Task<> {
        result = co_await awaitOnQueue(queue, &resumedOn);
        loop.quit();
    };
    QTimer::singleShot(0, [&] { task(); });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(result, 42);
    EXPECT_EQ(resumedOn, std::this_thread::get_id());
}

TEST(MainThread, PostToMainRunsOnTheMainThreadFromTheEventLoop)
{
    ASSERT_TRUE(isMainThread());
    SerialQueue queue(QStringLiteral("q"));
    std::atomic<bool> ranOnMain { false };
    bool offMain = true;
    QEventLoop loop;
    queue.async([&] {
        offMain = !isMainThread();
        postToMain([&] {
            ranOnMain = isMainThread();
            loop.quit();
        });
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(offMain);
    EXPECT_TRUE(ranOnMain.load());
}
