#include "tools/FrameReplay.h"

int main(int argc, char** argv) {
    return voltaro::runFrameReplay(std::vector<std::string>(argv + 1, argv + argc), stdin, stdout, stderr);
}
