#include "addin_entry.h"

#include "addin.h"

extern "C" XI_EXPORT bool run(const char* context) noexcept {
  return miravelo::RunAddin(context);
}

extern "C" XI_EXPORT bool stop(const char* context) noexcept {
  return miravelo::StopAddin(context);
}
