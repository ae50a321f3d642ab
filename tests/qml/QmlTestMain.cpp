// Runs the Qt Quick tests (tst_*.qml beside this file) against the module "Pellux", with a search
// model over a small history captured through the real pipeline in a private home.
#include "ocr/OpenMPThreadLimit.h"
#include "support/CapturePipeline.h"
#include "support/SampleHistory.h"
#include "ui/ApplicationIcons.h"
#include "ui/ImageProviders.h"
#include "ui/QmlWindow.h"
#include "ui/SearchModel.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QtQuickTest>

namespace {

class Setup : public QObject {
    Q_OBJECT

public slots:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        using namespace pellux;
        registerPelluxQmlModule();
        engine->addImportPath(QStringLiteral("qrc:/"));
        if (!m_pipeline) {
            m_pipeline = std::make_unique<test::CapturePipeline>();
            m_pipeline->home.saveFixedInterval();
            m_pipeline->makeService();
            test::captureSampleHistory(*m_pipeline);
            m_icons = std::make_unique<ApplicationIcons>();
        }
        // Each test file has an engine of its own, and a fresh model.
        m_search = std::make_unique<SearchModel>(*m_pipeline->database, *m_pipeline->storage, m_pipeline->clock);
        registerImageProviders(*engine, *m_pipeline->database, *m_icons);
        engine->rootContext()->setContextProperty(QStringLiteral("searchModel"), m_search.get());
    }

private:
    std::unique_ptr<pellux::test::CapturePipeline> m_pipeline;
    std::unique_ptr<pellux::ApplicationIcons> m_icons;
    std::unique_ptr<pellux::SearchModel> m_search;
};

} // namespace

int main(int argc, char **argv)
{
    pellux::restartWithOpenMPThreadLimit(argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtimeDir;
    if (!runtimeDir.isValid())
        return 1;
    QFile::setPermissions(runtimeDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    Setup setup;
    return quick_test_main_with_setup(argc, argv, "pellux_qml", QUICK_TEST_SOURCE_DIR, &setup);
}

#include "QmlTestMain.moc"
