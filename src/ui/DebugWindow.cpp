#include "ui/DebugWindow.h"

#include "diagnostics/DebugManager.h"
#include "runtime/Log.h"
#include "storage/StorageManager.h"
#include "ui/DebugCaptureImageProvider.h"
#include "ui/DebugViewModel.h"
#include "ui/ImageProviders.h"
#include "ui/MainViewModel.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>

namespace pellux {

DebugWindow::DebugWindow(Components components, QObject *parent)
    : QObject(parent)
    , m_components(components)
{
}

DebugWindow::~DebugWindow() = default;

bool DebugWindow::build()
{
    if (m_scene.isLoaded())
        return true;
    if (!m_components.debug || !m_components.storage) {
        log::failure(QStringLiteral("ERROR DebugWindow: The debug window needs the debug manager and the store"));
        return false;
    }
    if (!m_model) {
        ScreenshotService *service = m_components.viewModel ? &m_components.viewModel->screenshotService() : nullptr;
        m_model = std::make_unique<DebugViewModel>(*m_components.debug, service, m_components.database);
        m_model->setCaptureState(m_components.viewModel);
    }
    return m_scene.load(QStringLiteral("debug/DebugView.qml"), QStringLiteral("DebugWindow"),
        {
            { QStringLiteral("debug"), QVariant::fromValue<QObject *>(m_components.debug) },
            { QStringLiteral("debugModel"), QVariant::fromValue<QObject *>(m_model.get()) },
            { QStringLiteral("storage"), QVariant::fromValue<QObject *>(m_components.storage) },
        },
        [this](QQmlApplicationEngine &engine) {
            engine.addImageProvider(
                QStringLiteral("debugcapture"), new DebugCaptureImageProvider(m_model->captureImage()));
            registerSymbolImageProvider(engine);
        });
}

void DebugWindow::show()
{
    if (build())
        m_scene.show();
}

QQuickWindow *DebugWindow::window() const { return m_scene.window(); }

} // namespace pellux
