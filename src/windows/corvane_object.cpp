// Winsock wants its headers before <windows.h>: the host comes first.
#include "windows/host/win32_host.h"

#include "corvane_object.h"

#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <new>
#include <utility>
#include <vector>

#include "bstr.h"
#include "control/corvane.h"
#include "corvane_idl.h"
#include "dispatch_object.h"
#include "enumerator.h"
#include "ole_control.h"

namespace corvane::win {

namespace {

using Microsoft::WRL::ComPtr;

// Dispatch identifiers of __Corvane.
constexpr DISPID kErrorEvent = 1;
constexpr DISPID kDebuggerEvent = 2;

VARIANT_BOOL toVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// Gives a by-reference string argument what the core left in it; the caller's
// string stays as it was when nothing changed.
void storeString(BSTR* argument, const std::u16string& value) {
  if (fromBstr(*argument) == value) return;
  const BSTR copy = toBstr(value);
  SysFreeString(*argument);
  *argument = copy;
}

// A string handed to event handlers by reference: a handler may free it and put
// another in its place, so it is freed only once the event is over.
struct EventString {
  explicit EventString(const std::u16string& text) : value(toBstr(text)) {}
  ~EventString() { SysFreeString(value); }
  EventString(const EventString&) = delete;
  EventString& operator=(const EventString&) = delete;
  BSTR value;
};

// One outgoing interface of the control and the sinks advised on it, in the
// order they came. It lives inside the control and shares its reference count.
template <class Sink>
class ConnectionPoint final : public IConnectionPoint {
 public:
  ConnectionPoint(IConnectionPointContainer& container, REFIID iid) : container_(container), iid_(iid) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return E_NOINTERFACE;
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return container_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return container_.Release(); }

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override {
    if (!container) return E_POINTER;
    container_.AddRef();
    *container = &container_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    ComPtr<Sink> typed;
    // Asked for by the outgoing interface's own identifier: a sink answers to it
    // only if it implements that interface.
    if (FAILED(sink->QueryInterface(iid_, reinterpret_cast<void**>(typed.GetAddressOf()))))
      return CONNECT_E_CANNOTCONNECT;
    try {
      sinks_.emplace_back(nextCookie_, std::move(typed));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    *cookie = nextCookie_++;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
      if (it->first == cookie) {
        sinks_.erase(it);
        return S_OK;
      }
    }
    return CONNECT_E_NOCONNECTION;
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override {
    if (connections) *connections = nullptr;
    try {
      std::vector<CONNECTDATA> items;
      items.reserve(sinks_.size());  // no allocation after the first AddRef
      for (const auto& [cookie, sink] : sinks_) items.push_back(CONNECTDATA{addRef<IUnknown>(sink.Get()), cookie});
      return ConnectionEnumerator::create(std::move(items), connections);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  // The sinks advised now: a handler may unadvise while an event is being raised.
  std::vector<ComPtr<Sink>> sinks() const {
    std::vector<ComPtr<Sink>> current;
    current.reserve(sinks_.size());
    for (const auto& entry : sinks_) current.push_back(entry.second);
    return current;
  }

 private:
  IConnectionPointContainer& container_;
  const IID iid_;
  std::vector<std::pair<DWORD, ComPtr<Sink>>> sinks_;
  DWORD nextCookie_ = 1;
};

class CorvaneControl final : public DispatchObject<_Corvane, IConnectionPointContainer, IProvideClassInfo2>,
                             private ControlEvents {
 public:
  static constexpr const wchar_t* kSource = L"prjCorvane.Corvane";

  CorvaneControl()
      : DispatchObject(kSource),
        events_(*this, DIID___Corvane),
        propertyNotices_(*this, IID_IPropertyNotifySink),
        core_(host_, *this) {
    ComPtr<ITypeLib> library;
    check(loadModuleTypeLib(&library));
    check(library->GetTypeInfoOfGuid(CLSID_Corvane, &classInfo_));
    host_.setPropertyChanged([this](const std::u16string& name) { notifyPropertyChanged(name); });
    // Created by a script or another automation client: a new instance with no
    // saved settings. A container loads its saved ones over these.
    core_.InitProperties();
  }

  // --- IProvideClassInfo2
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override {
    if (!info) return E_POINTER;
    return classInfo_.CopyTo(info);
  }
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override {
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
      *guid = GUID_NULL;
      return E_INVALIDARG;
    }
    *guid = DIID___Corvane;
    return S_OK;
  }

  // --- IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override {
    if (points) *points = nullptr;
    try {
      std::vector<IConnectionPoint*> items;
      items.reserve(2);  // no allocation after the first AddRef
      items.push_back(addRef<IConnectionPoint>(&events_));
      items.push_back(addRef<IConnectionPoint>(&propertyNotices_));
      return ConnectionPointEnumerator::create(std::move(items), points);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (riid == DIID___Corvane)
      *point = &events_;
    else if (riid == IID_IPropertyNotifySink)
      *point = &propertyNotices_;
    else
      return CONNECT_E_NOCONNECTION;
    (*point)->AddRef();
    return S_OK;
  }

  // --- Error reporting and tracing
  HRESULT STDMETHODCALLTYPE get_Debug_(VARIANT_BOOL* result) override {
    return call([&] { *result = toVariantBool(core_.Debug_()); }, result);
  }
  HRESULT STDMETHODCALLTYPE put_Debug_(VARIANT_BOOL value) override {
    return call([&] { core_.Debug_(value != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE get_ErrCode(short* result) override {
    return call([&] { *result = core_.ErrCode(); }, result);
  }
  HRESULT STDMETHODCALLTYPE ErrString(short* n, BSTR* result) override {
    return getString(result, [&] { return corvane::Corvane::ErrString(*n); }, n);
  }

  // --- Small properties
  HRESULT STDMETHODCALLTYPE get_IsSecured(VARIANT_BOOL* result) override {
    return call([&] { *result = toVariantBool(core_.IsSecured()); }, result);
  }
  HRESULT STDMETHODCALLTYPE put_IsSecured(VARIANT_BOOL* value) override {
    return call(
        [&] {
          core_.IsSecured(*value != VARIANT_FALSE);
          ole_.propertyChanged();  // saved, though no notice goes out for it
        },
        value);
  }
  HRESULT STDMETHODCALLTYPE get_POP3SessionActive(VARIANT_BOOL* result) override {
    return call([&] { *result = toVariantBool(core_.POP3SessionActive()); }, result);
  }
  HRESULT STDMETHODCALLTYPE get_Busy(VARIANT_BOOL* result) override {
    return call([&] { *result = toVariantBool(core_.Busy()); }, result);
  }
  HRESULT STDMETHODCALLTYPE put_Timeout(short value) override {
    return call([&] { core_.Timeout(value); });
  }
  HRESULT STDMETHODCALLTYPE get_Timeout(short* result) override {
    return call([&] { *result = core_.Timeout(); }, result);
  }

  // --- The control as a raw text socket
  HRESULT STDMETHODCALLTYPE SocketOpen(BSTR* iP, short* Port, short* result) override {
    return call(
        [&] {
          std::u16string host = fromBstr(*iP);
          int16_t port = *Port;
          *result = core_.SocketOpen(host, port);
          storeString(iP, host);
          *Port = port;
        },
        iP, Port, result);
  }
  HRESULT STDMETHODCALLTYPE SocketClose(short* result) override {
    return call([&] { *result = core_.SocketClose(); }, result);
  }
  HRESULT STDMETHODCALLTYPE SocketRead(BSTR* result) override {
    return getString(result, [&] { return core_.SocketRead(); });
  }
  HRESULT STDMETHODCALLTYPE SocketSend(BSTR* Mess, short* result) override {
    return call(
        [&] {
          std::u16string text = fromBstr(*Mess);
          *result = core_.SocketSend(text);
          storeString(Mess, text);
        },
        Mess, result);
  }

  // --- Text
  HRESULT STDMETHODCALLTYPE z_URLEnc_EncodeEx(BSTR* si, short* mask, BSTR* result) override {
    return call(
        [&] {
          *result = nullptr;
          std::u16string text = fromBstr(*si);
          int16_t bits = *mask;
          const std::u16string encoded = core_.z_URLEnc_EncodeEx(text, bits);
          storeString(si, text);
          *mask = bits;
          *result = toBstr(encoded);
        },
        si, mask, result);
  }

  // --- Connection settings
  HRESULT STDMETHODCALLTYPE get_POP3host(BSTR* result) override {
    return getString(result, [&] { return core_.POP3host(); });
  }
  HRESULT STDMETHODCALLTYPE put_POP3host(BSTR value) override {
    return call([&] { core_.POP3host(fromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_SMTPhost(BSTR* result) override {
    return getString(result, [&] { return core_.SMTPhost(); });
  }
  HRESULT STDMETHODCALLTYPE put_SMTPhost(BSTR value) override {
    return call([&] { core_.SMTPhost(fromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_POP3user(BSTR* result) override {
    return getString(result, [&] { return core_.POP3user(); });
  }
  HRESULT STDMETHODCALLTYPE put_POP3user(BSTR value) override {
    return call([&] { core_.POP3user(fromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_POP3password(BSTR* result) override {
    return getString(result, [&] { return core_.POP3password(); });
  }
  HRESULT STDMETHODCALLTYPE put_POP3password(BSTR value) override {
    return call([&] { core_.POP3password(fromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_SMTPsender(BSTR* result) override {
    return getString(result, [&] { return core_.SMTPsender(); });
  }
  HRESULT STDMETHODCALLTYPE put_SMTPsender(BSTR value) override {
    return call([&] { core_.SMTPsender(fromBstr(value)); });
  }

  // --- Authenticated, upgraded and UTF-8 mail
  HRESULT STDMETHODCALLTYPE get_SMTPuser(BSTR* result) override {
    return getString(result, [&] { return core_.SMTPuser(); });
  }
  HRESULT STDMETHODCALLTYPE put_SMTPuser(BSTR value) override {
    return call([&] { core_.SMTPuser(fromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_SMTPpassword(BSTR* result) override {
    return getString(result, [&] { return core_.SMTPpassword(); });
  }
  HRESULT STDMETHODCALLTYPE put_SMTPpassword(BSTR value) override {
    return call([&] { core_.SMTPpassword(fromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_AuthMechanism(BSTR* result) override {
    return getString(result, [&] { return core_.AuthMechanism(); });
  }
  HRESULT STDMETHODCALLTYPE put_AuthMechanism(BSTR value) override {
    return call([&] { core_.AuthMechanism(fromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_StartTLS(VARIANT_BOOL* result) override {
    return call([&] { *result = toVariantBool(core_.StartTLS()); }, result);
  }
  HRESULT STDMETHODCALLTYPE put_StartTLS(VARIANT_BOOL value) override {
    return call([&] { core_.StartTLS(value != VARIANT_FALSE); });
  }
  HRESULT STDMETHODCALLTYPE get_Charset(BSTR* result) override {
    return getString(result, [&] { return core_.Charset(); });
  }
  HRESULT STDMETHODCALLTYPE put_Charset(BSTR value) override {
    return call([&] { core_.Charset(fromBstr(value)); });
  }

  // --- POP3
  HRESULT STDMETHODCALLTYPE POP3Login(VARIANT_BOOL* result) override {
    return call([&] { *result = toVariantBool(core_.POP3Login()); }, result);
  }
  HRESULT STDMETHODCALLTYPE POP3Logout(VARIANT_BOOL* result) override {
    return call([&] { *result = toVariantBool(core_.POP3Logout()); }, result);
  }
  HRESULT STDMETHODCALLTYPE Reset(VARIANT_BOOL* result) override {
    return call([&] { *result = toVariantBool(core_.Reset()); }, result);
  }
  HRESULT STDMETHODCALLTYPE get_MailBoxCount(short* result) override {
    return call([&] { *result = core_.MailBoxCount(); }, result);
  }
  HRESULT STDMETHODCALLTYPE get_MailBoxSize(LONG* result) override {
    return call([&] { *result = core_.MailBoxSize(); }, result);
  }
  HRESULT STDMETHODCALLTYPE Size(short* Index, LONG* result) override {
    return call([&] { *result = core_.Size(*Index); }, Index, result);
  }
  HRESULT STDMETHODCALLTYPE Retrieve(short* Index, BSTR* result) override {
    return getAnswer(result, [&](BstrAnswer& message) { core_.Retrieve(*Index, message); }, Index);
  }
  HRESULT STDMETHODCALLTYPE Delete(short* Index, VARIANT_BOOL* result) override {
    return call([&] { *result = toVariantBool(core_.Delete(*Index)); }, Index, result);
  }
  HRESULT STDMETHODCALLTYPE UniqueId(short* Index, BSTR* result) override {
    return getString(result, [&] { return core_.UniqueId(*Index); }, Index);
  }
  HRESULT STDMETHODCALLTYPE Top(short* Index, short* Lines, BSTR* result) override {
    return getAnswer(result, [&](BstrAnswer& message) { core_.Top(*Index, *Lines, message); }, Index, Lines);
  }

  // --- SMTP
  HRESULT STDMETHODCALLTYPE SMTPLogin(VARIANT_BOOL* result) override {
    return call([&] { *result = toVariantBool(core_.SMTPLogin()); }, result);
  }
  HRESULT STDMETHODCALLTYPE SMTPLogout(VARIANT_BOOL* result) override {
    return call([&] { *result = toVariantBool(core_.SMTPLogout()); }, result);
  }
  HRESULT STDMETHODCALLTYPE Send(BSTR* Recipient, BSTR* Subject, BSTR* cc, BSTR* mail, VARIANT_BOOL* result) override {
    return call(
        [&] {
          std::u16string recipient = fromBstr(*Recipient), subject = fromBstr(*Subject), copies = fromBstr(*cc),
                         body = fromBstr(*mail);
          *result = toVariantBool(core_.Send(recipient, subject, copies, body));
        },
        Recipient, Subject, cc, mail, result);
  }
  HRESULT STDMETHODCALLTYPE SendMime(short* result) override {
    return call([&] { *result = core_.SendMime(); }, result);
  }

  // --- The MIME facade
  HRESULT STDMETHODCALLTYPE get_MimeFrom(BSTR* result) override {
    return getString(result, [&] { return core_.MimeFrom(); });
  }
  HRESULT STDMETHODCALLTYPE put_MimeFrom(BSTR value) override {
    return call([&] { core_.MimeFrom(fromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_MimeTo(BSTR* result) override {
    return getString(result, [&] { return core_.MimeTo(); });
  }
  HRESULT STDMETHODCALLTYPE put_MimeTo(BSTR value) override {
    return call([&] { core_.MimeTo(fromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_MimeNotification(BSTR* result) override {
    return getString(result, [&] { return core_.MimeNotification(); });
  }
  HRESULT STDMETHODCALLTYPE put_MimeNotification(BSTR value) override {
    return call([&] { core_.MimeNotification(fromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE put_MimeSubject(BSTR value) override {
    return call([&] { core_.MimeSubject(fromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_MimeSubject(BSTR* result) override {
    return getString(result, [&] { return core_.MimeSubject(); });
  }
  HRESULT STDMETHODCALLTYPE get_MimeContentCount(LONG* result) override {
    return call([&] { *result = core_.MimeContentCount(); }, result);
  }
  HRESULT STDMETHODCALLTYPE put_MimeContentType(LONG id, BSTR value) override {
    return call([&] { core_.MimeContentType(id, fromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_MimeContentType(LONG id, BSTR* result) override {
    return getString(result, [&] { return core_.MimeContentType(id); });
  }
  HRESULT STDMETHODCALLTYPE put_MimeContentEncoding(LONG id, BSTR* value) override {
    return call([&] { core_.MimeContentEncoding(id, fromBstr(*value)); }, value);
  }
  HRESULT STDMETHODCALLTYPE get_MimeContentEncoding(LONG id, BSTR* result) override {
    return getString(result, [&] { return core_.MimeContentEncoding(id); });
  }
  HRESULT STDMETHODCALLTYPE MimeContentAdd(LONG id, BSTR s, VARIANT* result) override {
    return call(
        [&] {
          VariantInit(result);
          core_.MimeContentAdd(id, fromBstr(s));
        },
        result);
  }
  HRESULT STDMETHODCALLTYPE MimeContentAddFromFile(LONG id, BSTR file, BSTR alias, VARIANT* result) override {
    return call(
        [&] {
          VariantInit(result);
          core_.MimeContentAddFromFile(id, fromBstr(file), fromBstr(alias));
        },
        result);
  }

 protected:
  void* findInterface(REFIID riid) override {
    if (riid == IID_IProvideClassInfo) return static_cast<IProvideClassInfo2*>(this);
    if (void* found = ole_.find(riid)) return found;
    return DispatchObject::findInterface(riid);
  }

 private:
  // --- ControlEvents: __Corvane raised to every sink, with typed references to
  // the values as the type library declares them. Each sink sees what the ones
  // before it left; the control goes on with what the last one left.
  void Error(int16_t& code, std::u16string& text, bool& cancel) override {
    short eventCode = code;
    EventString eventText(text);
    VARIANT_BOOL eventCancel = toVariantBool(cancel);
    VARIANT arguments[3];  // the last parameter first
    V_VT(&arguments[0]) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&arguments[0]) = &eventCancel;
    V_VT(&arguments[1]) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&arguments[1]) = &eventText.value;
    V_VT(&arguments[2]) = VT_BYREF | VT_I2;
    V_I2REF(&arguments[2]) = &eventCode;
    raise(kErrorEvent, arguments);
    code = eventCode;
    text = fromBstr(eventText.value);
    cancel = eventCancel != VARIANT_FALSE;
  }

  // What a handler leaves in `info` is not used.
  void Debugger(std::u16string& info) override {
    EventString line(info);
    VARIANT arguments[1];
    V_VT(&arguments[0]) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&arguments[0]) = &line.value;
    raise(kDebuggerEvent, arguments);
  }

  // A handler may drop the control's last reference: the core raises events only
  // inside a call (see call) or a message the host delivers (see MessageTarget),
  // both of which hold the control until the core's code that raised it is done,
  // message box and all.
  template <size_t N>
  void raise(DISPID event, VARIANT (&arguments)[N]) {
    DISPPARAMS params{arguments, nullptr, static_cast<UINT>(N), 0};
    // A handler's failure is its own affair: the control goes on.
    for (const ComPtr<IDispatch>& sink : events_.sinks())
      sink->Invoke(event, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  }

  // The host's property-change notice, as IPropertyNotifySink::OnChanged with the
  // property's dispatch identifier.
  void notifyPropertyChanged(const std::u16string& name) {
    ole_.propertyChanged();
    std::wstring wide = toWide(name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return;
    for (const ComPtr<IPropertyNotifySink>& sink : propertyNotices_.sinks()) sink->OnChanged(id);
  }

  // Every member is one call of the control for its host (see Win32Host::Call).
  // The host's call ends before the reference that keeps it alive goes.
  template <class Body, class... Pointers>
  HRESULT call(Body&& body, Pointers... required) const noexcept {
    auto* self = const_cast<CorvaneControl*>(this);
    self->AddRef();
    HRESULT hr;
    {
      const Win32Host::Call inCall(self->host_);
      hr = DispatchObject::call(body, required...);
    }
    self->Release();
    return hr;
  }

  template <class Getter, class... Pointers>
  HRESULT getString(BSTR* result, Getter value, Pointers... required) const {
    return call(
        [&] {
          *result = nullptr;
          *result = toBstr(value());
        },
        result, required...);
  }

  // A long answer, gathered straight into the BSTR handed over.
  template <class Reader, class... Pointers>
  HRESULT getAnswer(BSTR* result, Reader read, Pointers... required) const {
    return call(
        [&] {
          *result = nullptr;
          BstrAnswer message;
          read(message);
          *result = message.Release();
        },
        result, required...);
  }

  ComPtr<ITypeInfo> classInfo_;
  ConnectionPoint<IDispatch> events_;
  ConnectionPoint<IPropertyNotifySink> propertyNotices_;
  Win32Host host_{static_cast<_Corvane*>(this)};  // before the core, which lives on it
  corvane::Corvane core_;  // destroyed after the OLE side, before the host: its socket and timer use the host's window
  OleControl ole_{*static_cast<_Corvane*>(this), core_, host_};
};

}  // namespace

HRESULT createCorvaneControl(REFIID riid, void** object) noexcept {
  return createObject<CorvaneControl>(riid, object);
}

}  // namespace corvane::win
