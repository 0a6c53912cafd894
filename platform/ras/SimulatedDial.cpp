// SimulatedDial.cpp: the simulated backend. The entry's script says the states to report, the delay
// before each, whether and where the dial fails, the address the link receives and when it drops;
// tests and demonstrations dial it like a real link.
#include <algorithm>

#include "platform/ras/DialSession.h"

namespace ras {

namespace {

// The state a failing script fails in: FailAt when given, else the last state before "connected".
uint32_t failing_state(const SimulatedScript& script) {
    if (script.fail_at) return *script.fail_at;
    for (auto it = script.states.rbegin(); it != script.states.rend(); ++it)
        if (*it != RASCS_Connected) return *it;
    return RASCS_OpenPort;
}

}  // namespace

// Walks the script: each state is reported with error 0 on entry; a failing state is then reported
// again with the error and the dial stops there (its status keeps the error until hang-up). A script
// without the connected state and without an error never completes, like a dial that hangs.
void run_simulated_dial(DialSession& session) {
    const SimulatedScript& script = session.entry().simulated;
    const uint32_t fail_in = failing_state(script);
    for (const uint32_t state : script.states) {
        if (session.wait_for_hang_up(script.step_delay)) return;
        const bool fails = script.error != 0 && state == fail_in;
        if (state == RASCS_Connected && script.error != 0) return;   // a failing dial never connects
        if (state == RASCS_Projected || state == RASCS_Connected) session.set_projection(script.address);
        if (state == RASCS_Connected) session.set_connected();
        if (!session.notify(state)) return;
        if (fails) {
            session.notify(state, script.error);
            return;
        }
    }
    if (std::find(script.states.begin(), script.states.end(), RASCS_Connected) == script.states.end()) return;
    if (script.error == 0 && script.drop_after && !session.wait_for_hang_up(*script.drop_after)) session.set_down();
}

}  // namespace ras
