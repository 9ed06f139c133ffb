// tavrin-run: plays a JSON patch through the stand-in host with the modules of a bundle and
// prints, one line per event, what the modules send. See host/README.md for the patch format.
#include "Bundle.h"
#include "Patch.h"

#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

namespace {

volatile std::sig_atomic_t caughtSignal = 0;

extern "C" void onSignal(int signal)
{
    caughtSignal = signal;
}

// SIGINT, SIGTERM and SIGHUP end the run between blocks, so that its temporary files go; no
// SA_RESTART, so that a write blocked on a pipe returns. A closed pipe is an error to report,
// not a death by SIGPIPE.
void catchSignals()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int usage()
{
    std::cerr << "usage: tavrin-run [--bundle path/TAVRIN.so] patch.json [--wav out.wav | --wav -]\n";
    return 2;
}

int run(int argc, char** argv)
{
    std::filesystem::path bundlePath = TAVRIN_DEFAULT_BUNDLE;
    std::filesystem::path patchPath;
    tav_host::RunOptions options;
    options.legend = true;
    options.stop = &caughtSignal;
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
    const auto patch = tav_host::loadPatch(patchPath, error);
    if (!patch) {
        std::cerr << "tavrin-run: " << error << "\n";
        return 2;
    }
    // The shared folder and the dialog files reach the bundle through the environment, which
    // runPatch sets for the run: the bundle reads it at each use, not when it loads.
    // A render runs faster than real time and must come out the same every time: the bundle's
    // file work then completes inside the call that asks for it.
    ::setenv("TAVRIN_OFFLINE", "1", 1);
    auto bundle = tav_host::Bundle::load(bundlePath, error);
    if (!bundle) {
        std::cerr << "tavrin-run: " << error << "\n";
        return 1;
    }
    // With the audio on standard output, the events go to standard error.
    std::ostream& out = options.wavFile == "-" ? std::cerr : std::cout;
    const int status = tav_host::runPatch(*patch, bundle->factory(), options, out, std::cerr);
    out.flush();
    if (status != 0)
        std::cerr << "tavrin-run: " << patchPath.string() << " failed\n";
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    catchSignals();
    int status = 1;
    try {
        status = run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "tavrin-run: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "tavrin-run: unexpected failure\n";
    }
    // A run a signal stopped ends as that signal would have ended it.
    if (caughtSignal != 0) {
        std::signal(caughtSignal, SIG_DFL);
        std::raise(caughtSignal);
    }
    return status;
}
