// The driver's requests: actions for the agent to carry out ('CVda'), reports to forward to the
// product's own application ('CVrr') and the end of a connection.
#pragma once

#include "agent/AgentGlobals.h"

// The "IOGeneralInterest" callback of every service; `refcon` is the connection concerned.
void DriverMessage(void* refcon, io_service_t service, natural_t messageType, void* argument);

// Carries out the 56-byte action record at `action` for `connection`: opens an application (26)
// or an assigned alias's item (27), or sends the connection the keystroke of 71-76.
void PerformDriverAction(io_connect_t connection, const void* action);

// Sends the 32 bytes at `report` as 'CvMP'/'CVer' to the first process whose signature is 'CvMP'.
OSErr ForwardDriverReport(const void* report);
