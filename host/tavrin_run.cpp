// tavrin-run: plays a JSON patch through the stand-in host with the modules of a bundle and
// prints, one line per event, what the modules send. See host/README.md for the patch format.
#include "Bundle.h"
#include "Patch.h"

#include <iostream>
#include <string>

namespace {

int usage()
{
    std::cerr << "usage: tavrin-run [--bundle path/TAVRIN.so] patch.json [--wav out.wav]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::filesystem::path bundlePath = TAVRIN_DEFAULT_BUNDLE;
    std::filesystem::path patchPath;
    tavhost::RunOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--bundle" || arg == "--wav") && i + 1 < argc) {
            (arg == "--bundle" ? bundlePath : options.wavFile) = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else if (!arg.empty() && arg[0] != '-' && patchPath.empty()) {
            patchPath = arg;
        } else {
            return usage();
        }
    }
    if (patchPath.empty())
        return usage();

    std::string error;
    const auto patch = tavhost::loadPatch(patchPath, error);
    if (!patch) {
        std::cerr << "tavrin-run: " << error << "\n";
        return 2;
    }
    // The shared folder and the dialog files reach the bundle through the environment, which
    // runPatch sets for the run: the bundle reads it at each use, not when it loads.
    auto bundle = tavhost::Bundle::load(bundlePath, error);
    if (!bundle) {
        std::cerr << "tavrin-run: " << error << "\n";
        return 1;
    }
    const int status = tavhost::runPatch(*patch, bundle->factory(), options, std::cout, std::cerr);
    std::cout.flush();
    if (status != 0)
        std::cerr << "tavrin-run: " << patchPath.string() << " failed\n";
    return status;
}
