// Headless.h: the gateway without forms, for services, scripts and CI.
#pragma once

#include "gateway/HeadlessOptions.h"

// Loads the settings, listens, and serves until SIGINT or SIGTERM; then closes the listening socket, the
// connections and the database connection. Every debug-list line is written to standard output as it is
// inserted; the counters are written when they have changed, at most once a second. Returns the exit
// status: 0 after an orderly stop, 1 when the settings are bad or the gateway cannot listen.
int run_headless(const HeadlessOptions& options);
