#include "ui/SettingsWindow.h"

#include "storage/StorageManager.h"
#include "ui/ApplicationIcons.h"
#include "ui/ImageProviders.h"
#include "ui/SettingsModel.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>

namespace pellux {

SettingsWindow::SettingsWindow(Components components, QObject *parent)
    : QObject(parent)
    , m_components(components)
{
}

SettingsWindow::~SettingsWindow() = default;

bool SettingsWindow::build()
{
    if (m_scene.isLoaded())
        return true;
    if (!m_model) {
        m_model = std::make_unique<SettingsModel>(SettingsModel::Components { m_components.viewModel,
            m_components.storage, m_components.database, m_components.backend, m_components.clock });
        m_icons = sharedApplicationIcons();
    }
    const bool loaded = m_scene.load(QStringLiteral("settings/SettingsView.qml"), QStringLiteral("SettingsWindow"),
        {
            { QStringLiteral("settings"), QVariant::fromValue<QObject *>(m_model.get()) },
            { QStringLiteral("storage"), QVariant::fromValue<QObject *>(m_components.storage) },
        },
        [this](QQmlApplicationEngine &engine) { registerImageProviders(engine, *m_components.database, m_icons); });
    if (loaded) {
        m_model->setWindow(m_scene.window());
        m_model->setApplicationIcons(m_icons.get());
    }
    return loaded;
}

void SettingsWindow::show()
{
    if (!build())
        return;
    m_model->prepareForShow();
    m_scene.show();
}

QQuickWindow *SettingsWindow::window() const { return m_scene.window(); }

} // namespace pellux
