#pragma once
// Runs a step when the scope ends, whichever way it ends: for paired state
// (a busy cursor put back, a button enabled again) that must not be left
// behind by an error on its way to the error box.

#include <utility>

namespace oq {

template <class Step>
class ScopeExit {
 public:
  explicit ScopeExit(Step step) : step_(std::move(step)) {}
  ~ScopeExit() { step_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Step step_;
};

}  // namespace oq
