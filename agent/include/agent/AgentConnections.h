// Mice arriving and leaving: one driver connection per "Corvimus" service, each given the current
// settings record and own-application mode as it opens.
#pragma once

#include "agent/AgentGlobals.h"

// Matching callback for "IOServiceFirstMatch"; also called once at start-up to open the mice that
// are already there and to arm the notification.
void DeviceAdded(void* refcon, io_iterator_t iterator);
// Matching callback for "IOServiceTerminate": drains the iterator so that it stays armed. The
// connection itself goes with the service's terminated message.
void DeviceTerminated(void* refcon, io_iterator_t iterator);

// Sends gCurrentPrefs to every connection in order of arrival. The first refusal by a driver ends
// the pass; a connection that cannot be reached (its driver gone, broken or late to answer) is
// passed over, since the connections behind it may belong to another driver. Returns the first
// failure, 0 when there was none.
OSStatus PushSettingsToDrivers();

// Sends the own-application mode to every connection, passing failures the same way.
OSStatus SendOwnAppModeToDrivers(Boolean on);

// The node for a connection, or null.
DriverConnection* FindDriverConnection(io_connect_t connection);
// Adds a node at the end unless one for the connection exists. False when it could not be added.
Boolean RememberDriverConnection(io_connect_t connection, const CorvimusDeviceInfo* info);
// Closes the connection and frees its node; nothing when the connection is not in the list.
void DropDriverConnection(io_connect_t connection);
// Number of nodes.
SInt32 CountDriverConnections();
