#include "runtime/MainThread.h"
#include "runtime/SerialQueue.h"

#include "support/TestFiles.h"

#include <qcorofuture.h>
#include <qcorotask.h>

#include <array>

using namespace pellux;

TEST(SerialQueue, RunsTasksInOrderOneAtATimeSyncsFromItsOwnThreadSurvivesThrowsAndHandsWorkBackToTheMainThread)
{
    SerialQueue queue(QStringLiteral("com.pellux.test"));
    std::vector<int> seen; // touched only on the queue
    std::atomic<int> inside { 0 };
    bool overlapped = false;
    {
        std::vector<std::jthread> producers;
        for (int p = 0; p < 4; ++p)
            producers.emplace_back([&, p] {
                for (int i = 0; i < 200; ++i)
                    queue.async([&, value = p * 1000 + i] {
                        overlapped |= inside.fetch_add(1) != 0;
                        seen.push_back(value);
                        inside.fetch_sub(1);
                    });
            });
    }
    queue.drain();
    EXPECT_TRUE(!overlapped && queue.pendingCount() == 0u);
    ASSERT_EQ(seen.size(), 800u);
    // Each producer's tasks keep their relative order.
    std::array<int, 4> last { -1, -1, -1, -1 };
    for (int v : seen) {
        EXPECT_GT(v, last[v / 1000]);
        last[v / 1000] = v;
    }

    SerialQueue database(QStringLiteral("com.pellux.database"));
    std::thread::id worker;
    bool nested = false;
    database.sync([&] {
        worker = std::this_thread::get_id();
        EXPECT_TRUE(database.isCurrent());
        database.sync([&] { nested = true; });
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        EXPECT_STREQ(name, "pellux.database");
        EXPECT_EQ(currentThreadPriority(), ThreadPriority::normal);
    });
    EXPECT_TRUE(nested && worker != std::this_thread::get_id() && !database.isCurrent());
    // An idle queue runs its tasks at idle priority, and leaves its caller's alone.
    SerialQueue idle(QStringLiteral("com.pellux.idle"), ThreadPriority::idle);
    ThreadPriority idleSeen = ThreadPriority::normal;
    idle.sync([&] { idleSeen = currentThreadPriority(); });
    EXPECT_EQ(std::pair(idleSeen, currentThreadPriority()), std::pair(ThreadPriority::idle, ThreadPriority::normal));

    // A throwing task reaches its waiter instead of leaving it waiting, and the queue goes on; its
    // destruction runs everything already submitted.
    std::atomic<int> count { 0 };
    {
        SerialQueue database("q");
        EXPECT_THROW(database.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
        QFuture<int> failed = database.future([]() -> int { throw std::runtime_error("boom"); });
        EXPECT_THROW(failed.result(), std::runtime_error);
        database.async([] { throw std::runtime_error("boom"); });
        for (int i = 0; i < 50; ++i)
            database.async([&] {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                ++count;
            });
    }
    EXPECT_EQ(count.load(), 50);

    // An awaited future resumes on the main thread, and postToMain runs there from the event loop.
    ASSERT_TRUE(isMainThread());
    std::optional<std::tuple<int, bool, bool>> awaited; // the result, run off the main thread, resumed on it
    std::atomic<bool> posted { false }, postedOnMain { false };
    auto task = [&]() -> QCoro::Task<> {
        bool ranOffMain = false;
        const int result = co_await database.future([&] {
            ranOffMain = !isMainThread();
            return 42;
        });
        awaited = std::tuple(result, ranOffMain, isMainThread());
        database.async([&] { postToMain([&] { postedOnMain = isMainThread(), posted = true; }); });
    };
    QTimer::singleShot(0, [&] { task(); });
    ASSERT_TRUE(test::runEventsUntil([&] { return posted.load(); }));
    EXPECT_EQ(awaited, std::tuple(42, true, true));
    EXPECT_TRUE(postedOnMain.load());
}
