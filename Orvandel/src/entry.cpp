// Entry points of the language add-in, called by the host on its one thread: run at load, stop at
// unload. Both return without letting an exception through; false tells the host that the add-in's
// button (run) or its removal (stop) is not complete.
#include "addin.h"

extern "C" XI_EXPORT bool run(const char* context) {
  return orvandel::RunAddin(context);
}

extern "C" XI_EXPORT bool stop(const char* context) {
  return orvandel::StopAddin(context);
}
