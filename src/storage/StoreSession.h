#pragma once

#include <QString>

namespace pellux {

// How the last process that captured into the store ended. A capturing process marks the store as
// in use when it starts, and as left in order when it ends with every save and every recognition
// finished; a store still marked in use at the next start was left by a crash, a kill or a power
// loss, and only then does it need healing, which reads the whole history. The mark is the private
// file Recordings/.capture-session.
class StoreSession {
public:
    enum class LastEnd {
        inOrder, // ended cleanly, or was healed since
        interrupted, // a crash, a kill, recognition that did not finish, or healing still owed
        unknown, // no mark: never captured, or captured by a version that kept none
    };

    explicit StoreSession(QString recordingsDirectory);

    // Reads how the last session ended and marks the store as in use.
    LastEnd begin();
    // Marks the store as left in order when this session leaves it so: nothing was left half-done
    // and either the last session had left it in order or this one healed it. Otherwise the mark
    // stays, and the next capturing process heals.
    void end(bool leftInOrder, bool healed);

    LastEnd lastEnd() const { return m_lastEnd; }
    QString markPath() const;

private:
    QString m_recordingsDirectory;
    LastEnd m_lastEnd = LastEnd::unknown;
};

} // namespace pellux
