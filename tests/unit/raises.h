#pragma once
// What a call raised, for tables whose rows expect an automation error.
#include <optional>
#include <string>
#include <utility>

#include "control/errors.h"

namespace corvane::testing_support {

using Raised = std::optional<std::pair<ErrorNumber, std::string>>;

// The automation error `call` raised with its description, or nothing.
template <class Call>
Raised RaisedBy(Call call) {
  try {
    call();
  } catch (const AutomationError& e) {
    return std::pair{e.number(), std::string(e.what())};
  }
  return std::nullopt;
}

// Only the number of what `call` raised, 0 for nothing.
template <class Call>
ErrorNumber NumberRaisedBy(Call call) {
  const Raised raised = RaisedBy(call);
  return raised ? raised->first : ErrorNumber{};
}

}  // namespace corvane::testing_support
