// The two functions every add-in exports, and the contract the host holds them to. Only an add-in's
// entry file includes this header (it needs the host's interface).
//
// Who calls: the host, on its main thread, the only thread from which its interface may be called.
// run(context): once each time the host loads the add-in (at its start, or when the user starts the
//   add-in). True when the add-in's commands are in place; false tells the host that they are not,
//   and the host still calls stop before it unloads the add-in.
// stop(context): once before the host unloads the add-in (at its end, or when the user stops the
//   add-in), whatever run returned. When it returns, nothing of the add-in runs or is queued any
//   more: its buttons and palettes are removed, its workers joined (within 2 s) and its custom events
//   unregistered, since the library's code is gone right after. True when all of that was done.
// context: the host's own text, not read by our add-ins.
// Neither function lets an exception reach the host (both are noexcept: one that escaped would end the
// host's process rather than unwind into it), and neither waits on the network or on anything
// unbounded: slow work runs on workers.
#pragma once

#include <Core/CoreAll.h>

extern "C" {
XI_EXPORT bool run(const char* context) noexcept;
XI_EXPORT bool stop(const char* context) noexcept;
}
