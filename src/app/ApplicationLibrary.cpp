#include "app/ApplicationLibrary.h"

#include "app/CommandLine.h"
#include "ocr/OpenMPThreadLimit.h"

#include <climits>
#include <cstdio>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

namespace pellux {

namespace {

// The folder of the running program as the kernel knows it (argv[0] may be a bare name or a link).
std::string programFolder()
{
    std::string path(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size())
        return {};
    path.resize(static_cast<size_t>(length));
    return path.substr(0, path.rfind('/'));
}

} // namespace

int runInApplicationLibrary(int argc, char **argv)
{
    restartWithOpenMPThreadLimit(argv);

    const std::string folder = programFolder();
    if (folder.empty()) {
        std::fprintf(stderr,
            "pellux: cannot find the program's folder (/proc/self/exe), where the Pellux "
            "application library is looked for\n");
        return kExitFailure;
    }
    // Beside the program in the build folder; below LIBDIR once installed.
    const std::string candidates[] = { folder + "/" PELLUX_APP_LIBRARY_NAME,
        folder + "/" PELLUX_APP_LIBRARY_INSTALLED_DIR "/" PELLUX_APP_LIBRARY_NAME };
    const std::string *found = nullptr;
    for (const std::string &candidate : candidates) {
        if (::access(candidate.c_str(), F_OK) == 0) {
            found = &candidate;
            break;
        }
    }
    if (!found) {
        std::fprintf(stderr, "pellux: the Pellux application library is missing (looked for %s and %s)\n",
            candidates[0].c_str(), candidates[1].c_str());
        return kExitFailure;
    }
    // Never closed: its threads and objects live until the process ends.
    void *library = ::dlopen(found->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char *error = ::dlerror();
        std::fprintf(
            stderr, "pellux: cannot load the Pellux application library: %s\n", error ? error : found->c_str());
        return kExitFailure;
    }
    using Entry = int (*)(int, char **);
    const auto entry = reinterpret_cast<Entry>(::dlsym(library, "pelluxRunCommandLine"));
    if (!entry) {
        const char *error = ::dlerror();
        std::fprintf(stderr, "pellux: %s is not a Pellux application library: %s\n", found->c_str(),
            error ? error : "no entry point");
        return kExitFailure;
    }
    return entry(argc, argv);
}

} // namespace pellux
