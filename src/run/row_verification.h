// After an uninstaller has ended well: waiting for its row to leave the registry while the copies
// and children it left finish the work, and making sure none of them is left behind with a
// window that nobody in session 0 can answer.
#pragma once

#include "inventory/uninstall_entry.h"
#include "process/stuck_window.h"
#include "run/run_environment.h"

namespace varnok {

// How often what a launch left running is read while it is watched.
constexpr unsigned kRemainsReadMs = 1000;

// The whole wait for a row that stays: 30 + 60 + 90 s.
constexpr unsigned long long kVerificationWaitMs = 180000;
// A wait bounded by its own steps alone.
constexpr unsigned long long kNoVerificationLimit = ~0ULL;

// Waits up to 30, 60 and 90 s for the row to leave, looking again whenever its Uninstall key
// changes, and writes the "Registry after exponential backoff" line. While it waits, `remains`
// (when given: a launch watched in session 0) is read once a second; when one of its processes
// shows a window and none of them does anything for kStuckWindowIdleMs, the stuck-window line is
// written, they are ended, and the wait stops. The whole wait stops after `limit_ms` (what is
// left of an owner's time). True when the row has gone.
bool WaitUntilGone(RunEnvironment& env, const UninstallEntry& entry, LaunchRemains* remains,
                   unsigned long long limit_ms = kNoVerificationLimit);

// For a row that has gone: a process of `remains` that shows a window, or does within 3 s while
// they still run, is watched and ended, with one INFO line, once it has done nothing for
// kStuckWindowIdleMs; the watch ends 65 s after it began. Processes without a window are left
// alone.
void EndOrphanWindows(RunEnvironment& env, LaunchRemains* remains);

}  // namespace varnok
