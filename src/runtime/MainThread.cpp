#include "runtime/MainThread.h"

#include "runtime/ThreadSanitizer.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace pellux {

void postToMain(std::function<void()> fn)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, tsan::handOver(std::move(fn)), Qt::QueuedConnection);
}

void postTo(QObject *context, std::function<void()> fn)
{
    QMetaObject::invokeMethod(context, tsan::handOver(std::move(fn)), Qt::QueuedConnection);
}

bool isMainThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace pellux
