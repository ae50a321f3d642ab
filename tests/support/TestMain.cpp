// main() of every test program: a Qt application on the offscreen platform (unless the test
// environment asks for another), with a private runtime folder.
#include "runtime/Log.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Tesseract's OpenMP threads only slow it down on small machines.
    qputenv("OMP_THREAD_LIMIT", "1");

    QTemporaryDir runtimeDir;
    if (!runtimeDir.isValid())
        return EXIT_FAILURE;
    QFile::setPermissions(runtimeDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));

    pellux::log::configureFromEnvironment(argc, argv);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
