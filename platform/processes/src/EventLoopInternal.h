// Calls between the event loop and the Apple Event Manager inside the platform library.
#pragma once

// Creates this process's Apple-event socket and hooks it into the main event loop; harmless when it
// exists already or cannot be made (the process then simply cannot be reached).
void CorvimusStartAppleEventListener();
