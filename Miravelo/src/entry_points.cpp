// The guide add-in's only exported symbols. The host calls run once when it loads the add-in and stop
// once before it unloads it, both on its main thread; context is the host's opaque text and is not used.
// Neither lets an exception through.
#include <Core/CoreAll.h>

#include "guide_addin.h"

extern "C" XI_EXPORT bool run(const char* context) {
  return miravelo::run(context);
}

extern "C" XI_EXPORT bool stop(const char* context) {
  return miravelo::stop(context);
}
