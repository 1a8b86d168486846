#pragma once
// The address rule of the MIME facade's address puts.
#include <optional>
#include <string>

namespace corvane {

// One address with an optional display name in front: the last blank-separated
// word gets angle brackets unless it has both already. No value (nothing to
// store) for an empty value, one ending in a blank, or a last word without "@".
std::optional<std::u16string> NormaliseAddress(const std::u16string& value);

}  // namespace corvane
