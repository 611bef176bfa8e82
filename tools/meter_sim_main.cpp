#include "tools/SimRunner.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = voltaro::sim::parseSimArgs(args, error);
    if (!options) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(voltaro::sim::simUsage().c_str(), stdout);
        return 0;
    }
    if (options->version) {
        std::fputs(voltaro::sim::simVersion().c_str(), stdout);
        return 0;
    }
    // A reader that goes away ends the run quietly.
    std::signal(SIGPIPE, SIG_IGN);
    int fd = STDOUT_FILENO;
    std::optional<voltaro::sim::MeterPty> pty;
    voltaro::UniqueFd file;
    if (options->pty) {
        pty = voltaro::sim::openMeterPty(error);
        if (!pty) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 2;
        }
        fd = pty->master.get();
        std::printf("%s\n", pty->slavePath.c_str());
        std::fflush(stdout);
    } else if (!options->outPath.empty()) {
        file = voltaro::sim::openSimOutput(*options, error);
        if (!file) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 2;
        }
        fd = file.get();
    }
    voltaro::sim::runSimulator(*options, fd);
    return 0;
}
