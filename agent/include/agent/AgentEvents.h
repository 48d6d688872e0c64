// The agent's answers to the pane: reload ('CVup'), the list of connected mice ('CVco') and what
// it is doing ('CVst').
#pragma once

#include "platform/AppleEvents.h"
#include "settings/CorvimusEvents.h"

// Reloads the settings and, when that worked, pushes the current record to every mouse.
OSErr HandleReloadEvent(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);
// Replies with the descriptions of the first 10 connections in order of arrival.
OSErr HandleDevicesEvent(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);

// The list HandleDevicesEvent sends: count, then the descriptions, entries past count zero.
void FillDeviceList(CorvimusDeviceList* list);

// Replies with what the agent is doing now: the front application, the record in force, the
// drivers that answer and where each mouse's driver runs.
OSErr HandleStatusEvent(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);
// The status HandleStatusEvent sends.
void FillAgentStatus(CorvimusAgentStatus* status);
