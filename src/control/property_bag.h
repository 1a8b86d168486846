#pragma once
// Where a host keeps a saved instance's settings: values by key. Reads take the
// default an absent key stands for; writes leave out a value equal to its
// default, as hosts do, so an unchanged setting costs nothing in the document.
// A value of another type is converted the way automation converts it; one
// that cannot be converted raises an AutomationError naming the key.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace corvane {

using BagValue = std::variant<std::u16string, int32_t, int16_t, bool>;

class PropertyBag {
 public:
  virtual ~PropertyBag() = default;

  std::u16string ReadString(std::u16string_view key, std::u16string_view fallback);
  int32_t ReadInt32(std::u16string_view key, int32_t fallback);
  int16_t ReadInt16(std::u16string_view key, int16_t fallback);
  bool ReadBool(std::u16string_view key, bool fallback);

  void Write(std::u16string_view key, BagValue value, const BagValue& fallback);

 protected:
  // The key's value as the bag holds it, or nothing.
  virtual std::optional<BagValue> Get(std::u16string_view key) = 0;
  virtual void Put(std::u16string_view key, BagValue value) = 0;
};

// A bag in memory: for C++ hosts, the tests, and the bytes of the control's
// stream form.
class MemoryPropertyBag : public PropertyBag {
 public:
  static constexpr uint16_t kFormatVersion = 1;

  // The entries in the order they were written.
  std::vector<std::pair<std::u16string, BagValue>> entries;

  // The entries as bytes: the format version, then each key with its type and
  // value, little-endian.
  std::string Serialize() const;
  // Bytes that Serialize made, this version or older; anything else raises an
  // AutomationError.
  static MemoryPropertyBag Parse(std::string_view bytes);

 protected:
  std::optional<BagValue> Get(std::u16string_view key) override;
  void Put(std::u16string_view key, BagValue value) override;
};

}  // namespace corvane
