// The control's settings saved by its container: through the container's
// property bag (IPersistPropertyBag), and as bytes in a stream
// (IPersistStreamInit): the byte length, then the in-memory bag's byte form,
// which begins with its format version. Both run the core's ReadProperties and
// WriteProperties, so keys, defaults and order are one.
#include "ole_control.h"

#include <limits>
#include <string>

#include "bstr.h"
#include "com_error.h"
#include "control/errors.h"
#include "corvane_idl.h"

namespace corvane::win {

namespace {

constexpr const wchar_t* kSource = L"prjCorvane.Corvane";
constexpr ULONG kLongestStream = 1 << 20;  // far beyond nine settings: anything longer is damage

// The container's IPropertyBag as the core's bag.
class ContainerBag final : public PropertyBag {
 public:
  ContainerBag(IPropertyBag* bag, IErrorLog* log) : bag_(bag), log_(log) {}

 protected:
  std::optional<BagValue> Get(std::u16string_view key) override {
    const std::wstring name(key.begin(), key.end());
    VARIANT value;
    VariantInit(&value);  // VT_EMPTY: in the type the bag holds
    const HRESULT hr = bag_->Read(name.c_str(), &value, log_);
    if (hr == E_INVALIDARG) return std::nullopt;  // no such key
    check(hr);
    std::optional<BagValue> result;
    switch (V_VT(&value)) {
      case VT_EMPTY: break;
      case VT_I4: result = static_cast<int32_t>(V_I4(&value)); break;
      case VT_I2: result = static_cast<int16_t>(V_I2(&value)); break;
      case VT_BOOL: result = V_BOOL(&value) != VARIANT_FALSE; break;
      default:  // any other type by its text
        if (FAILED(VariantChangeType(&value, &value, 0, VT_BSTR))) {
          VariantClear(&value);
          throw AutomationError(ErrorNumber::TypeMismatch,
                                "Saved setting " + std::string(key.begin(), key.end()) + " has a type of its own");
        }
        result = fromBstr(V_BSTR(&value));
    }
    VariantClear(&value);
    return result;
  }

  void Put(std::u16string_view key, BagValue value) override {
    const std::wstring name(key.begin(), key.end());
    VARIANT variant;
    VariantInit(&variant);
    if (const auto* text = std::get_if<std::u16string>(&value)) {
      V_VT(&variant) = VT_BSTR;
      V_BSTR(&variant) = toBstr(*text);
    } else if (const auto* i4 = std::get_if<int32_t>(&value)) {
      V_VT(&variant) = VT_I4;
      V_I4(&variant) = *i4;
    } else if (const auto* i2 = std::get_if<int16_t>(&value)) {
      V_VT(&variant) = VT_I2;
      V_I2(&variant) = *i2;
    } else {
      V_VT(&variant) = VT_BOOL;
      V_BOOL(&variant) = std::get<bool>(value) ? VARIANT_TRUE : VARIANT_FALSE;
    }
    const HRESULT hr = bag_->Write(name.c_str(), &variant);
    VariantClear(&variant);
    check(hr);
  }

 private:
  IPropertyBag* bag_;
  IErrorLog* log_;
};

void readExactly(IStream* stream, void* bytes, ULONG size) {
  ULONG got = 0;
  check(stream->Read(bytes, size, &got));
  if (got != size) throw AutomationError(ErrorNumber::InvalidFileFormat, "The saved settings end early");
}

void writeExactly(IStream* stream, const void* bytes, ULONG size) {
  ULONG put = 0;
  check(stream->Write(bytes, size, &put));
  if (put != size) throw HresultError(STG_E_MEDIUMFULL);
}

std::string streamForm(const corvane::Corvane& core) {
  MemoryPropertyBag bag;
  core.WriteProperties(bag);
  return bag.Serialize();
}

}  // namespace

HRESULT OleControl::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_Corvane;
  return S_OK;
}

HRESULT OleControl::InitNew() {
  const auto alive = hold();
  return guarded(kSource, [&] {
    core_.InitProperties();
    dirty_ = false;
  });
}

HRESULT OleControl::Load(IPropertyBag* bag, IErrorLog* log) {
  const auto alive = hold();
  return guarded(
      kSource,
      [&] {
        ContainerBag settings(bag, log);
        core_.ReadProperties(settings);
        dirty_ = false;
      },
      bag);
}

HRESULT OleControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
  const auto alive = hold();
  return guarded(
      kSource,
      [&] {
        ContainerBag settings(bag, nullptr);
        core_.WriteProperties(settings);
        if (clearDirty) dirty_ = false;
      },
      bag);
}

HRESULT OleControl::Load(IStream* stream) {
  const auto alive = hold();
  return guarded(
      kSource,
      [&] {
        ULONG size = 0;
        readExactly(stream, &size, sizeof size);
        if (size > kLongestStream) throw AutomationError(ErrorNumber::InvalidFileFormat, "The saved settings are damaged");
        std::string bytes(size, '\0');
        readExactly(stream, bytes.data(), size);
        MemoryPropertyBag settings = MemoryPropertyBag::Parse(bytes);
        core_.ReadProperties(settings);
        dirty_ = false;
      },
      stream);
}

HRESULT OleControl::Save(IStream* stream, BOOL clearDirty) {
  const auto alive = hold();
  return guarded(
      kSource,
      [&] {
        const std::string bytes = streamForm(core_);
        const auto size = static_cast<ULONG>(bytes.size());
        writeExactly(stream, &size, sizeof size);
        writeExactly(stream, bytes.data(), size);
        if (clearDirty) dirty_ = false;
      },
      stream);
}

HRESULT OleControl::GetSizeMax(ULARGE_INTEGER* size) {
  return guarded(
      kSource, [&] { size->QuadPart = sizeof(ULONG) + streamForm(core_).size(); }, size);
}

}  // namespace corvane::win
