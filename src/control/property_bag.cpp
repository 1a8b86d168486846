#include "control/property_bag.h"

#include <algorithm>
#include <limits>

#include "control/errors.h"
#include "text/fields.h"

namespace corvane {

namespace {

std::string Ascii(std::u16string_view text) {
  std::string narrow;
  for (const char16_t c : text) narrow += c < 128 ? static_cast<char>(c) : '?';
  return narrow;
}

[[noreturn]] void Refuse(ErrorNumber number, std::u16string_view key, const std::string& why) {
  throw AutomationError(number, "Saved setting " + Ascii(key) + ": " + why);
}

std::u16string Trimmed(std::u16string_view text) {
  const size_t first = text.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  return std::u16string(text.substr(first, text.find_last_not_of(u' ') - first + 1));
}

// A whole number: from a number as it is, from a boolean as -1 or 0, from text
// that is a decimal integer and nothing else.
int64_t WholeNumber(std::u16string_view key, const BagValue& value) {
  if (const auto* b = std::get_if<bool>(&value)) return *b ? -1 : 0;
  if (const auto* i = std::get_if<int32_t>(&value)) return *i;
  if (const auto* i = std::get_if<int16_t>(&value)) return *i;
  const std::u16string text = Trimmed(std::get<std::u16string>(value));
  const size_t digits = text.starts_with(u'-') || text.starts_with(u'+') ? 1 : 0;
  const bool integer = text.size() > digits && text.size() - digits <= 12 &&
                       std::all_of(text.begin() + digits, text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
  if (!integer) Refuse(ErrorNumber::TypeMismatch, key, "\"" + Ascii(text) + "\" is not a whole number");
  int64_t number = 0;
  for (size_t k = digits; k < text.size(); ++k) number = number * 10 + (text[k] - u'0');
  return text.starts_with(u'-') ? -number : number;
}

template <class Int>
Int Fitted(std::u16string_view key, const BagValue& value) {
  const int64_t number = WholeNumber(key, value);
  if (number < std::numeric_limits<Int>::min() || number > std::numeric_limits<Int>::max())
    Refuse(ErrorNumber::Overflow, key,
           std::to_string(number) + " does not fit a " + std::to_string(sizeof(Int) * 8) + "-bit integer");
  return static_cast<Int>(number);
}

}  // namespace

std::u16string PropertyBag::ReadString(std::u16string_view key, std::u16string_view fallback) {
  const std::optional<BagValue> value = Get(key);
  if (!value) return std::u16string(fallback);
  if (const auto* text = std::get_if<std::u16string>(&*value)) return *text;
  if (const auto* b = std::get_if<bool>(&*value)) return *b ? u"True" : u"False";
  return DecimalText(WholeNumber(key, *value));
}

int32_t PropertyBag::ReadInt32(std::u16string_view key, int32_t fallback) {
  const std::optional<BagValue> value = Get(key);
  return value ? Fitted<int32_t>(key, *value) : fallback;
}

int16_t PropertyBag::ReadInt16(std::u16string_view key, int16_t fallback) {
  const std::optional<BagValue> value = Get(key);
  return value ? Fitted<int16_t>(key, *value) : fallback;
}

bool PropertyBag::ReadBool(std::u16string_view key, bool fallback) {
  const std::optional<BagValue> value = Get(key);
  if (!value) return fallback;
  if (const auto* text = std::get_if<std::u16string>(&*value)) {
    const std::u16string word = Trimmed(*text);
    if (EqualsIgnoringCase(word, u"True")) return true;
    if (EqualsIgnoringCase(word, u"False")) return false;
  }
  return WholeNumber(key, *value) != 0;
}

void PropertyBag::Write(std::u16string_view key, BagValue value, const BagValue& fallback) {
  if (value != fallback) Put(key, std::move(value));
}

// --- MemoryPropertyBag

std::optional<BagValue> MemoryPropertyBag::Get(std::u16string_view key) {
  for (const auto& [name, value] : entries) {
    if (name == key) return value;
  }
  return std::nullopt;
}

void MemoryPropertyBag::Put(std::u16string_view key, BagValue value) {
  for (auto& [name, held] : entries) {
    if (name == key) {
      held = std::move(value);
      return;
    }
  }
  entries.emplace_back(key, std::move(value));
}

namespace {

class Writer {
 public:
  void Unsigned(uint32_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) out += static_cast<char>((value >> (8 * k)) & 0xFF);
  }
  void Text(std::u16string_view text, int lengthBytes) {
    Unsigned(static_cast<uint32_t>(text.size()), lengthBytes);
    for (const char16_t c : text) Unsigned(c, 2);
  }
  std::string out;
};

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  uint32_t Unsigned(int bytes) {
    if (in_.size() < static_cast<size_t>(bytes)) Damaged();
    uint32_t value = 0;
    for (int k = 0; k < bytes; ++k) value |= static_cast<uint32_t>(static_cast<unsigned char>(in_[k])) << (8 * k);
    in_.remove_prefix(static_cast<size_t>(bytes));
    return value;
  }
  std::u16string Text(int lengthBytes) {
    const uint32_t length = Unsigned(lengthBytes);
    if (in_.size() / 2 < length) Damaged();
    std::u16string text;
    text.reserve(length);
    for (uint32_t k = 0; k < length; ++k) text += static_cast<char16_t>(Unsigned(2));
    return text;
  }
  bool AtEnd() const { return in_.empty(); }
  [[noreturn]] static void Damaged() {
    throw AutomationError(ErrorNumber::InvalidFileFormat, "The saved settings are damaged");
  }

 private:
  std::string_view in_;
};

}  // namespace

std::string MemoryPropertyBag::Serialize() const {
  Writer w;
  w.Unsigned(kFormatVersion, 2);
  w.Unsigned(static_cast<uint32_t>(entries.size()), 4);
  for (const auto& [key, value] : entries) {
    w.Text(key, 2);
    w.Unsigned(static_cast<uint32_t>(value.index()), 1);
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, std::u16string>) {
            w.Text(v, 4);
          } else {
            w.Unsigned(static_cast<uint32_t>(v), sizeof(T));
          }
        },
        value);
  }
  return w.out;
}

MemoryPropertyBag MemoryPropertyBag::Parse(std::string_view bytes) {
  Reader r(bytes);
  const uint32_t version = r.Unsigned(2);
  if (version == 0 || version > kFormatVersion)
    throw AutomationError(ErrorNumber::InvalidFileFormat,
                          "The saved settings have format " + std::to_string(version) + "; this version reads up to " +
                              std::to_string(kFormatVersion));
  MemoryPropertyBag bag;
  for (uint32_t n = r.Unsigned(4); n > 0; --n) {
    std::u16string key = r.Text(2);
    switch (r.Unsigned(1)) {
      case 0: bag.entries.emplace_back(std::move(key), r.Text(4)); break;
      case 1: bag.entries.emplace_back(std::move(key), static_cast<int32_t>(r.Unsigned(4))); break;
      case 2: bag.entries.emplace_back(std::move(key), static_cast<int16_t>(r.Unsigned(2))); break;
      case 3: bag.entries.emplace_back(std::move(key), r.Unsigned(1) != 0); break;
      default: Reader::Damaged();
    }
  }
  if (!r.AtEnd()) Reader::Damaged();
  return bag;
}

}  // namespace corvane
