// RunForms.h: the gateway with its terminal forms, as an operator starts it by hand.
#pragma once

#include "gateway/HeadlessOptions.h"

// The start-up form with the saved settings (value flags override what the boxes first show); after
// "Run Server" the monitor window while the gateway serves, until F10, Ctrl-Q, Ctrl-C, SIGINT, SIGTERM
// or SIGHUP unloads it, which closes the listening socket, the connections and the database connection.
// Returns the exit status: 0 after the monitor closed or the start-up form closed without "Run Server";
// 1 when the settings file cannot be read; 2 when the forms cannot run (no terminal, or one the curses
// library does not know).
int run_forms(const HeadlessOptions& options);
