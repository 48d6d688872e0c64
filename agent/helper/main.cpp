// CorvimusHelper: the faceless per-user agent. It keeps the settings in memory, follows the front
// application, gives every mouse's driver connection the record that fits it, carries out the
// driver's requests and answers the pane. Everything runs on the main thread, in one event loop.
#include "agent/AgentMain.h"

int main() { return RunCorvimusHelper(true); }
