// Calls between the services inside the platform library.
#pragma once

// Creates this process's Apple-event socket and hooks it into the main event loop; harmless when it
// exists already or cannot be made (the process then simply cannot be reached).
void CorvimusStartAppleEventListener();

// The front-switch watcher heard that the active window changed: the next GetFrontProcess asks the
// server again rather than trusting what it knew. (Its own connection hears the same change, but
// the server may deliver it there a moment later than to the watcher.)
void CorvimusForgetFrontProcess();
