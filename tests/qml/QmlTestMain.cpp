// Runs the Qt Quick tests (tst_*.qml beside this file) against the module "Pellux", offscreen.
#include "ui/ImageProviders.h"
#include "ui/QmlWindow.h"

#include <QQmlEngine>
#include <QQuickWindow>
#include <QtQuickTest>

namespace {

class Setup : public QObject {
    Q_OBJECT

public slots:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        pellux::registerPelluxQmlModule();
        engine->addImportPath(QStringLiteral("qrc:/"));
        pellux::registerSymbolImageProvider(*engine);
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    Setup setup;
    return quick_test_main_with_setup(argc, argv, "pellux_qml", QUICK_TEST_SOURCE_DIR, &setup);
}

#include "QmlTestMain.moc"
