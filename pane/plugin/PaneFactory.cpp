// The pane library's one export: the host creates the pane through it.
#include "CorvimusPane.h"

CORVIMUS_PREFERENCE_PANE(CorvimusPane)
