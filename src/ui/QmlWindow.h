#pragma once

#include <QPointer>
#include <QQuickWindow>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

class QQmlApplicationEngine;

namespace pellux {

// One top-level window of the QML module "Pellux" with an engine of its own. Closing the window
// only hides it; the scene lives until this object goes. Main thread.
class QmlWindow {
public:
    QmlWindow();
    ~QmlWindow();
    QmlWindow(const QmlWindow &) = delete;
    QmlWindow &operator=(const QmlWindow &) = delete;

    // Loads qrc:/Pellux/<file> (for example "Main.qml") with these initial properties of its root
    // window, after `prepare` has set up the engine (image providers, context properties). Loads
    // once: later calls answer whether the first one succeeded. False, with a log line naming
    // `description`, when the file does not load or its root is not a window.
    bool load(const QString &file, const QString &description, const QVariantMap &initialProperties,
        const std::function<void(QQmlApplicationEngine &)> &prepare = {});

    bool isLoaded() const { return !m_window.isNull(); }
    QQuickWindow *window() const { return m_window; }
    QQmlApplicationEngine *engine() const { return m_engine.get(); }

    // Shows the loaded window, raises it and asks the window manager for the focus.
    void show();

private:
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QPointer<QQuickWindow> m_window;
};

// Makes the module "Pellux" (its QML files and C++ types) known to QML engines; idempotent.
void registerPelluxQmlModule();

} // namespace pellux
