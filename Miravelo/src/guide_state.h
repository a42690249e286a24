// The guide add-in's module-level state, shared by its frame (addin.cpp, which defines it) and the
// palette. Touched on the host's main thread only.
#pragma once

#include <Core/CoreAll.h>

#include <cstdint>

namespace miravelo {

// Set by run; app is never cleared, ui is made empty by stop.
extern adsk::core::Ptr<adsk::core::Application> app;
extern adsk::core::Ptr<adsk::core::UserInterface> ui;
// The guide palette last looked up or created.
extern adsk::core::Ptr<adsk::core::Palette> palette;
// Result of AutoOpenPalette at run: -1 unreadable counter, 0 first start, else the earlier starts.
extern std::int32_t countOpenPalette;

} // namespace miravelo
