#include "com_error.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <new>
#include <string_view>

#include "bstr.h"
#include "control/errors.h"

namespace corvane::win {

namespace {

HRESULT raise(const wchar_t* source, ErrorNumber number, std::string_view description) noexcept {
  Microsoft::WRL::ComPtr<ICreateErrorInfo> create;
  Microsoft::WRL::ComPtr<IErrorInfo> info;
  if (SUCCEEDED(CreateErrorInfo(&create)) && SUCCEEDED(create.As(&info))) {
    create->SetGUID(GUID_NULL);
    create->SetSource(const_cast<LPOLESTR>(source));
    try {
      create->SetDescription(fromUtf8(description).data());
    } catch (const std::bad_alloc&) {
      // The number alone still tells the caller what happened.
    }
    SetErrorInfo(0, info.Get());
  }
  return automationHresult(static_cast<int>(number));
}

}  // namespace

HRESULT reportCurrentException(const wchar_t* source) noexcept {
  try {
    throw;
  } catch (const AutomationError& e) {
    return raise(source, e.number(), e.what());
  } catch (const std::bad_alloc&) {
    return raise(source, ErrorNumber::OutOfMemory, "Out of memory");
  } catch (const HresultError& e) {
    return e.hr();
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace corvane::win
