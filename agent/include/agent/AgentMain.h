// The agent's whole life: start-up in its fixed order, the event loop, the end.
#pragma once

#include "platform/MacTypes.h"

// Runs the agent until a quit event (returns 0) or SIGINT (the process exits with 0). Returns -1
// when the driver layer cannot be set up. With `followWindowEvents` the front application is also
// checked as soon as the X server reports an active-window change; without, only the 0.5 s timer
// follows it (kept for measuring the timer alone).
int RunCorvimusHelper(Boolean followWindowEvents);
