// main() of every test program: a Qt application on the offscreen platform (unless the test
// environment asks for another), with a private runtime folder.
#include "ocr/OpenMPThreadLimit.h"
#include "runtime/Log.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // Tesseract's OpenMP threads only slow it down on small machines; the limit has to be in the
    // environment before the program is loaded, so this may restart the test program once.
    pellux::restartWithOpenMPThreadLimit(argv);
    ::testing::InitGoogleTest(&argc, argv);

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QTemporaryDir runtimeDir;
    if (!runtimeDir.isValid())
        return EXIT_FAILURE;
    QFile::setPermissions(runtimeDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));

    pellux::log::configureFromEnvironment(argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
