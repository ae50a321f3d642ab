// Which libraries a command line loads, run as the built program: `search`, the help and usage
// errors stay in the light program; the application's commands open the application library.

#include "app/CommandLine.h"
#include "support/TestFiles.h"

using namespace pellux;
using namespace pellux::test;

namespace {

// The dynamic loader lists every library it loads (LD_DEBUG=files); the OpenMP runtime prints the
// settings it read as it loaded (OMP_DISPLAY_ENV).
CommandRun runListingLoads(const QStringList &args, const std::optional<QString> &threadLimit = std::nullopt,
    const QString &program = PELLUX_BINARY)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("OMP_THREAD_LIMIT");
    if (threadLimit)
        env.insert("OMP_THREAD_LIMIT", *threadLimit);
    env.insert("LD_DEBUG", "files");
    env.insert("OMP_DISPLAY_ENV", "TRUE");
    return runCommand(args, env, 60'000, program);
}

} // namespace

TEST(CommandLine, OnlyTheApplicationsCommandsLoadItsLibraryAndRestartForOneOpenMPThread)
{
    TempHome home;
    const struct {
        QStringList args;
        std::optional<QString> threadLimit; // OMP_THREAD_LIMIT as the user set it
        int exitCode;
        bool loadsApplication;
    } cases[] = {
        { { "search", "budget" }, std::nullopt, kExitFailure, false }, // no database yet
        { { "--verbose", "search", "--json", "budget" }, std::nullopt, kExitFailure, false },
        { { "search", "--since", "someday" }, std::nullopt, kExitUsage, false },
        { { "--help" }, std::nullopt, kExitSuccess, false },
        { { "--version" }, std::nullopt, kExitSuccess, false },
        { { "bogus" }, std::nullopt, kExitUsage, false },
        { { "--background", "capture" }, std::nullopt, kExitUsage, false },
        { { "ocr" }, std::nullopt, kExitUsage, true },
        { { "--verbose", "capture", "--for" }, std::nullopt, kExitUsage, true },
        { { "ocr" }, QStringLiteral("3"), kExitUsage, true },
    };
    for (const auto &c : cases) {
        const std::string name = c.args.join(' ').toStdString() + (c.threadLimit ? " (limit set)" : "");
        const CommandRun run = runListingLoads(c.args, c.threadLimit);
        EXPECT_EQ(run.exitCode, c.exitCode) << name << ": " << run.err.toStdString();
        ASSERT_TRUE(run.err.contains("file=libQt6Core")) << name << ": LD_DEBUG lists nothing";
        for (const char *library : { "libpellux-app.so [0];", "file=libQt6Gui", "file=libtesseract" })
            EXPECT_EQ(run.err.contains(library), c.loadsApplication) << name << ": " << library;
        // The OpenMP runtime comes with Qt Core, before main(): the program restarts once with
        // OMP_THREAD_LIMIT=1 before it opens the library, and only then.
        const bool restarts = c.loadsApplication && !c.threadLimit;
        EXPECT_EQ(run.err.count("  OMP_THREAD_LIMIT = "), restarts ? 2 : 1) << name;
        if (c.loadsApplication) {
            const qsizetype last = run.err.lastIndexOf("  OMP_THREAD_LIMIT = ");
            EXPECT_TRUE(run.err.mid(last).startsWith("  OMP_THREAD_LIMIT = '" + c.threadLimit.value_or("1") + "'"))
                << name;
        }
    }
}

TEST(CommandLine, MissingOrBrokenApplicationLibraryIsReported)
{
    TempHome home;
    QTemporaryDir folder;
    const QString program = folder.filePath("pellux");
    ASSERT_TRUE(QFile::copy(QStringLiteral(PELLUX_BINARY), program));
    const struct {
        const char *name;
        std::optional<QByteArray> library; // the bytes of libpellux-app.so beside the program
        const char *message;
    } cases[] = {
        { "missing", std::nullopt, "the Pellux application library is missing" },
        { "not a library", QByteArray("not an ELF file\n").repeated(64), "cannot load the Pellux application library" },
    };
    for (const auto &c : cases) {
        if (c.library) {
            QFile file(folder.filePath("libpellux-app.so"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(*c.library);
        }
        for (const QStringList &args : { QStringList { "ocr", "x.png" }, QStringList { "--background" } }) {
            const CommandRun run = runListingLoads(args, std::nullopt, program);
            EXPECT_EQ(run.exitCode, kExitFailure) << c.name << ": " << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(c.message)) << c.name << ": " << run.err.toStdString();
        }
        // The light commands do not need it.
        EXPECT_EQ(runListingLoads({ "--version" }, std::nullopt, program).exitCode, kExitSuccess) << c.name;
    }
}
