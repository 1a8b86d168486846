#include "mime_object.h"

#include "bstr.h"
#include "corvane_idl.h"
#include "dispatch_object.h"
#include "mime/mime.h"

namespace corvane::win {

namespace {

class MimeObject final : public DispatchObject<_MIME> {
 public:
  static constexpr const wchar_t* kSource = L"prjCorvane.MIME";

  MimeObject() : DispatchObject(kSource) {}

  HRESULT STDMETHODCALLTYPE Clear() override {
    return call([&] { mime_.Clear(); });
  }

  HRESULT STDMETHODCALLTYPE put_Subject(BSTR* s) override {
    return call([&] { mime_.Subject(fromBstr(*s)); }, s);
  }
  HRESULT STDMETHODCALLTYPE get_Subject(BSTR* result) override {
    return getString(result, [&] { return mime_.Subject(); });
  }
  HRESULT STDMETHODCALLTYPE put_From(BSTR* s) override {
    return call([&] { mime_.From(fromBstr(*s)); }, s);
  }
  HRESULT STDMETHODCALLTYPE get_From(BSTR* result) override {
    return getString(result, [&] { return mime_.From(); });
  }
  HRESULT STDMETHODCALLTYPE put_Too(BSTR* s) override {
    return call([&] { mime_.Too(fromBstr(*s)); }, s);
  }
  HRESULT STDMETHODCALLTYPE get_Too(BSTR* result) override {
    return getString(result, [&] { return mime_.Too(); });
  }
  HRESULT STDMETHODCALLTYPE put_cc(BSTR* s) override {
    return call([&] { mime_.cc(fromBstr(*s)); }, s);
  }
  HRESULT STDMETHODCALLTYPE get_cc(BSTR* result) override {
    return getString(result, [&] { return mime_.cc(); });
  }
  HRESULT STDMETHODCALLTYPE put_Notification(BSTR* s) override {
    return call([&] { mime_.Notification(fromBstr(*s)); }, s);
  }
  HRESULT STDMETHODCALLTYPE get_Notification(BSTR* result) override {
    return getString(result, [&] { return mime_.Notification(); });
  }

  HRESULT STDMETHODCALLTYPE get_ContentCount(LONG* result) override {
    return call([&] { *result = mime_.ContentCount(); }, result);
  }

  HRESULT STDMETHODCALLTYPE ContentAdd(LONG id, BSTR data, VARIANT* result) override {
    return call(
        [&] {
          VariantInit(result);  // always the empty Variant
          mime_.ContentAdd(id, fromBstr(data));
        },
        result);
  }

  HRESULT STDMETHODCALLTYPE put_ContentEncoding(LONG id, BSTR s) override {
    return call([&] { mime_.ContentEncoding(id, fromBstr(s)); });
  }
  HRESULT STDMETHODCALLTYPE get_ContentEncoding(LONG id, BSTR* result) override {
    return getString(result, [&] { return mime_.ContentEncoding(id); });
  }
  HRESULT STDMETHODCALLTYPE put_ContentType(LONG id, BSTR s) override {
    return call([&] { mime_.ContentType(id, fromBstr(s)); });
  }
  HRESULT STDMETHODCALLTYPE get_ContentType(LONG id, BSTR* result) override {
    return getString(result, [&] { return mime_.ContentType(id); });
  }

  HRESULT STDMETHODCALLTYPE GenerateMime(BSTR* result, short* succeeded) override {
    return call(
        [&] {
          std::u16string text;
          const short flag = mime_.GenerateMime(text);
          const BSTR message = toBstr(text);
          SysFreeString(*result);
          *result = message;
          *succeeded = flag;
        },
        result, succeeded);
  }

 private:
  template <class Getter>
  HRESULT getString(BSTR* result, Getter value) const {
    return call(
        [&] {
          *result = nullptr;
          *result = toBstr(value());
        },
        result);
  }

  Mime mime_;
};

}  // namespace

HRESULT createMimeObject(REFIID riid, void** object) noexcept { return createObject<MimeObject>(riid, object); }

}  // namespace corvane::win
