// The wall between our code and a caller that must never see an exception (the host's callbacks,
// run and stop): both add-ins pass through here, each with its own failure hook.
#pragma once

#include <exception>

namespace boundary_detail {

// Calls onFailure with what() of the exception being handled, or nullptr for one that is no
// std::exception. Must be called inside a catch block. Whatever onFailure throws is dropped.
template <class OnFailure> void ReportCurrentException(OnFailure& onFailure) noexcept {
  try {
    try {
      throw;
    } catch (const std::exception& error) {
      onFailure(error.what());
    } catch (...) {
      onFailure(static_cast<const char*>(nullptr));
    }
  } catch (...) {
  }
}

} // namespace boundary_detail

// A failure hook that does nothing, for callers that have nowhere to report to.
struct IgnoreFailure {
  void operator()(const char* /*what*/) const noexcept {}
};

// Runs work and returns its result. When an exception escapes work, calls onFailure(what) (what is
// nullptr for an exception that is no std::exception) and returns failed instead.
template <class Work, class OnFailure>
auto CallGuarded(Work&& work, decltype(work()) failed, OnFailure&& onFailure) noexcept -> decltype(work()) {
  try {
    return work();
  } catch (...) {
    boundary_detail::ReportCurrentException(onFailure);
  }
  return failed;
}

// The same for work that returns nothing.
template <class Work, class OnFailure> void CallGuarded(Work&& work, OnFailure&& onFailure) noexcept {
  try {
    work();
  } catch (...) {
    boundary_detail::ReportCurrentException(onFailure);
  }
}
