#pragma once

// Events about the WAN link, dispatched to every state machine that follows it
// (the application's and the status LED's).
struct NetworkConnected {};
struct NetworkDisconnected {};
