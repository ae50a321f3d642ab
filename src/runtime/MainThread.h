#pragma once

#include <functional>

class QObject;

namespace pellux {

// Runs the function on the application's main thread, later, from its event loop. Without a
// Qt application (a bare tool or a test without one) it runs at once on the calling thread, so
// a completion is never lost.
void postToMain(std::function<void()> fn);

// Same, but dropped if the context object is destroyed first.
void postTo(QObject *context, std::function<void()> fn);

bool isMainThread();

} // namespace pellux
