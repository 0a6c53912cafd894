// main.cpp: the gateway program vantrel. With --headless it serves without forms (Headless.h); the
// terminal forms are not built yet, so without it the program says so and exits with status 2.
#include <cstdio>
#include <string>
#include <vector>

#include "common/ComError.h"
#include "gateway/Headless.h"

int main(int argc, char** argv) {
    HeadlessOptions options;
    try {
        options = parse_options(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const ComError& e) {
        std::fprintf(stderr, "vantrel: %s\n", e.description().c_str());
        return 64;   // EX_USAGE
    }
    if (options.help) {
        std::fputs(usage_text().c_str(), stdout);
        return 0;
    }
    if (!options.headless) {
        std::fputs("vantrel: the terminal forms are not built yet; run with --headless (see --help)\n", stderr);
        return 2;
    }
    return run_headless(options);
}
