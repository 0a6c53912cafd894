// main.cpp: the gateway program vantrel: with --headless it serves without forms (Headless.h), otherwise
// it shows the start-up form and the monitor window in the terminal (RunForms.h).
#include <cstdio>
#include <string>
#include <vector>

#include "common/ComError.h"
#include "gateway/Headless.h"
#include "gateway/tui/RunForms.h"

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
    return options.headless ? run_headless(options) : run_forms(options);
}
