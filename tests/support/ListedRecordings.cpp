#include "support/ListedRecordings.h"

#include "runtime/ThreadSanitizer.h"
#include "storage/RecordingsFile.h"

namespace pellux::test {

std::vector<Recording> listedRecordings(StorageManager &storage)
{
    std::vector<Recording> out;
    QFuture<void> read = storage.withListFile([&out](const QString &path) {
        recordings_file::Reader reader(path);
        if (!reader.open())
            return;
        while (!reader.atEnd())
            for (Recording &r : reader.next(1000))
                out.push_back(std::move(r));
    });
    read.waitForFinished();
    tsan::acquire(tsan::futureToken(read)); // the queue's writes to `out` come before
    std::stable_sort(
        out.begin(), out.end(), [](const Recording &a, const Recording &b) { return a.timestamp > b.timestamp; });
    return out;
}

} // namespace pellux::test
