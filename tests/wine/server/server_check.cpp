// Checks of corvane.ocx that a script cannot make: the type library as compiled
// hosts bind to it (slots, dispatch identifiers, parameter passing, event
// parameter names), typed by-reference arguments through IDispatch, errors seen
// through the vtable, and the rule that lets the DLL unload. Runs in a Wine prefix
// where the OCX is registered. Prints "ok - ..." / "not ok - ..." lines and ends
// with "RESULT PASS" or "RESULT FAIL".
//   server_check [OCX...]        the checks; each OCX file's type library is read too
//   server_check --served OCX    only this: the control created here comes from OCX
//                                (both widths registered at once, each for its own)
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <initguid.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "checks.h"
#include "corvane_idl.h"

using namespace corvane::checks;

namespace {

std::string typeName(const TYPEDESC& type) {
  switch (type.vt) {
    case VT_PTR: return typeName(*type.lptdesc) + "*";
    case VT_BSTR: return "BSTR";
    case VT_I2: return "short";
    case VT_I4: return "long";
    case VT_BOOL: return "VARIANT_BOOL";
    case VT_VARIANT: return "VARIANT";
    case VT_HRESULT: return "HRESULT";
    case VT_VOID: return "void";
    default: return "vt" + std::to_string(type.vt);
  }
}

// One member as a compiled host binds to it, e.g. "0x6003000a method GenerateMime(BSTR*) short".
std::string describeMember(const FUNCDESC& function, const std::string& name) {
  const char* kind = function.invkind == INVOKE_FUNC            ? "method"
                     : function.invkind == INVOKE_PROPERTYGET   ? "get"
                     : function.invkind == INVOKE_PROPERTYPUT   ? "put"
                                                                : "putref";
  std::string text = hex(function.memid) + " " + kind + " " + name + "(";
  std::string result;
  bool first = true;
  for (int i = 0; i < function.cParams; ++i) {
    const ELEMDESC& parameter = function.lprgelemdescParam[i];
    if (parameter.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) {
      result = " " + typeName(*parameter.tdesc.lptdesc);
      continue;
    }
    if (!first) text += ", ";
    first = false;
    if (parameter.paramdesc.wParamFlags & PARAMFLAG_FOPT) text += "[optional] ";
    text += typeName(parameter.tdesc);
  }
  return text + ")" + result;
}

std::vector<std::string> names(ITypeInfo* info, MEMBERID member) {
  BSTR found[16] = {};
  UINT count = 0;
  info->GetNames(member, found, 16, &count);
  std::vector<std::string> result;
  for (UINT i = 0; i < count; ++i) {
    result.push_back(bstrText(found[i]));
    SysFreeString(found[i]);
  }
  return result;
}

// The vtable view of a dual interface: members in slot order after IDispatch's seven.
void checkInterface(ITypeLib* library, REFIID iid, const std::string& interfaceName,
                    const std::vector<std::string>& expected) {
  ITypeInfo* dispatchView = nullptr;
  ITypeInfo* info = nullptr;
  HREFTYPE vtableView = 0;
  if (FAILED(library->GetTypeInfoOfGuid(iid, &dispatchView)) ||
      FAILED(dispatchView->GetRefTypeOfImplType(-1, &vtableView)) ||
      FAILED(dispatchView->GetRefTypeInfo(vtableView, &info))) {
    check(interfaceName + " is a dual interface", false, "no vtable view");
    if (dispatchView) dispatchView->Release();
    return;
  }
  TYPEATTR* attributes = nullptr;
  info->GetTypeAttr(&attributes);
  check(interfaceName + " has " + std::to_string(expected.size()) + " members",
        attributes->cFuncs == expected.size(), std::to_string(attributes->cFuncs));
  info->ReleaseTypeAttr(attributes);
  int wrong = 0;
  for (UINT i = 0; i < expected.size(); ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(i, &function))) break;
    const std::string actual = describeMember(*function, names(info, function->memid).at(0));
    // The reader gives vtable offsets in this process's pointer size, whatever the library's.
    const bool inSlot = function->oVft == static_cast<SHORT>((7 + i) * sizeof(void*));
    if (actual != expected[i] || !inSlot) {
      ++wrong;
      check(interfaceName + " member " + std::to_string(i + 1), false,
            "expected \"" + expected[i] + "\", found \"" + actual + "\" at offset " + std::to_string(function->oVft));
    }
    info->ReleaseFuncDesc(function);
  }
  check(interfaceName + " members: slots, dispatch identifiers and parameters", wrong == 0);
  info->Release();
  dispatchView->Release();
}

void checkEvents(ITypeLib* library, const std::string& label) {
  ITypeInfo* info = nullptr;
  if (FAILED(library->GetTypeInfoOfGuid(DIID___Corvane, &info))) {
    check(label + "__Corvane is in the type library", false);
    return;
  }
  std::string found;
  for (UINT i = 0; i < 2; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(i, &function))) break;
    found += std::to_string(function->memid);
    for (int p = 0; p < function->cParams; ++p) found += " " + typeName(function->lprgelemdescParam[p].tdesc);
    for (const std::string& name : names(info, function->memid)) found += " " + name;
    found += ";";
    info->ReleaseFuncDesc(function);
  }
  const std::string expected =
      "1 short* BSTR* VARIANT_BOOL* Error ErrCode ErrText Cancel;2 BSTR* Debugger info;";
  check(label + "events Error and Debugger keep their parameter names", found == expected, found);
  info->Release();
}

void checkCoclass(ITypeLib* library, REFCLSID clsid, const std::string& name, WORD flags, const std::string& expected) {
  ITypeInfo* info = nullptr;
  if (FAILED(library->GetTypeInfoOfGuid(clsid, &info))) {
    check(name, false, "missing");
    return;
  }
  TYPEATTR* attributes = nullptr;
  info->GetTypeAttr(&attributes);
  const bool flagged = (attributes->wTypeFlags & flags) == flags;
  std::string found;
  for (UINT i = 0; i < attributes->cImplTypes; ++i) {
    HREFTYPE reference = 0;
    ITypeInfo* implemented = nullptr;
    INT implFlags = 0;
    info->GetRefTypeOfImplType(i, &reference);
    info->GetImplTypeFlags(i, &implFlags);
    if (SUCCEEDED(info->GetRefTypeInfo(reference, &implemented))) {
      Bstr implementedName;
      implemented->GetDocumentation(MEMBERID_NIL, &implementedName.value, nullptr, nullptr, nullptr);
      found += (found.empty() ? "" : " ") + implementedName.text();
      if (implFlags & IMPLTYPEFLAG_FDEFAULT) found += "[default]";
      if (implFlags & IMPLTYPEFLAG_FSOURCE) found += "[source]";
      implemented->Release();
    }
  }
  info->ReleaseTypeAttr(attributes);
  check(name, flagged && found == expected, found);
  info->Release();
}

// `label` tells which build's library is checked, e.g. "(x86_64) ".
void checkTypeLibrary(ITypeLib* library, const std::string& label) {
  TLIBATTR* attributes = nullptr;
  library->GetLibAttr(&attributes);
  Bstr libraryName;
  library->GetDocumentation(MEMBERID_NIL, &libraryName.value, nullptr, nullptr, nullptr);
  check(label + "type library prjCorvane 1.0",
        libraryName.text() == "prjCorvane" && attributes->guid == LIBID_prjCorvane && attributes->wMajorVerNum == 1 &&
            attributes->wMinorVerNum == 0,
        libraryName.text());
  library->ReleaseTLibAttr(attributes);

  checkInterface(library, IID__MIME, label + "_MIME",
                 {
                     "0x60030007 method Clear()",
                     "0x68030006 put Subject(BSTR*)",
                     "0x68030005 put From(BSTR*)",
                     "0x68030004 put Too(BSTR*)",
                     "0x68030006 get Subject() BSTR",
                     "0x68030005 get From() BSTR",
                     "0x68030004 get Too() BSTR",
                     "0x68030003 get ContentCount() long",
                     "0x68030002 put cc(BSTR*)",
                     "0x68030002 get cc() BSTR",
                     "0x60030009 method ContentAdd(long, BSTR) VARIANT",
                     "0x68030001 put ContentEncoding(long, BSTR)",
                     "0x68030001 get ContentEncoding(long) BSTR",
                     "0x68030000 put ContentType(long, BSTR)",
                     "0x68030000 get ContentType(long) BSTR",
                     "0x6003000a method GenerateMime(BSTR*) short",
                     "0x6803000b put Notification(BSTR*)",
                     "0x6803000b get Notification() BSTR",
                 });
  checkInterface(library, IID__Corvane, label + "_Corvane",
                 {
                     "0x6803000c get Debug_() VARIANT_BOOL",
                     "0x6803000c put Debug_(VARIANT_BOOL)",
                     "0x6803000b get ErrCode() short",
                     "0x6003000d method ErrString(short*) BSTR",
                     "0x6003000e method POP3Login() VARIANT_BOOL",
                     "0x6003000f method POP3Logout() VARIANT_BOOL",
                     "0x6803000a get IsSecured() VARIANT_BOOL",
                     "0x6803000a put IsSecured(VARIANT_BOOL*)",
                     "0x68030009 get POP3SessionActive() VARIANT_BOOL",
                     "0x60030010 method Reset() VARIANT_BOOL",
                     "0x60030011 method Send(BSTR*, BSTR*, BSTR*, BSTR*) VARIANT_BOOL",
                     "0x60030012 method SMTPLogin() VARIANT_BOOL",
                     "0x60030013 method SMTPLogout() VARIANT_BOOL",
                     "0x60030014 method SocketClose() short",
                     "0x60030015 method SocketOpen(BSTR*, short*) short",
                     "0x60030016 method SocketRead() BSTR",
                     "0x60030017 method SocketSend(BSTR*) short",
                     "0x68030008 put Timeout(short)",
                     "0x68030008 get Timeout() short",
                     "0x68030007 get POP3host() BSTR",
                     "0x68030007 put POP3host(BSTR)",
                     "0x68030006 get SMTPhost() BSTR",
                     "0x68030006 put SMTPhost(BSTR)",
                     "0x68030005 get POP3user() BSTR",
                     "0x68030005 put POP3user(BSTR)",
                     "0x68030004 get POP3password() BSTR",
                     "0x68030004 put POP3password(BSTR)",
                     "0x68030003 get SMTPsender() BSTR",
                     "0x68030003 put SMTPsender(BSTR)",
                     "0x68030002 get MailBoxCount() short",
                     "0x60030029 method z_URLEnc_EncodeEx(BSTR*, short*) BSTR",
                     "0x6003002b method Delete(short*) VARIANT_BOOL",
                     "0x6003002c method Retrieve(short*) BSTR",
                     "0x6003002e method Size(short*) long",
                     "0x68030001 get MailBoxSize() long",
                     "0x68030000 get Busy() VARIANT_BOOL",
                     "0x60030035 method SendMime() short",
                     "0x68030034 put MimeFrom(BSTR)",
                     "0x68030034 get MimeFrom() BSTR",
                     "0x68030033 get MimeContentCount() long",
                     "0x68030032 put MimeContentEncoding(long, BSTR*)",
                     "0x68030032 get MimeContentEncoding(long) BSTR",
                     "0x68030031 get MimeContentType(long) BSTR",
                     "0x68030031 put MimeContentType(long, BSTR)",
                     "0x68030030 put MimeTo(BSTR)",
                     "0x68030030 get MimeTo() BSTR",
                     "0x6803002f put MimeSubject(BSTR)",
                     "0x6803002f get MimeSubject() BSTR",
                     "0x60030041 method MimeContentAdd(long, BSTR) VARIANT",
                     "0x60030042 method MimeContentAddFromFile(long, BSTR, [optional] BSTR) VARIANT",
                     "0x68030043 put MimeNotification(BSTR)",
                     "0x68030043 get MimeNotification() BSTR",
                     "0x68030100 get SMTPuser() BSTR",
                     "0x68030100 put SMTPuser(BSTR)",
                     "0x68030101 get SMTPpassword() BSTR",
                     "0x68030101 put SMTPpassword(BSTR)",
                     "0x68030102 get AuthMechanism() BSTR",
                     "0x68030102 put AuthMechanism(BSTR)",
                     "0x68030103 get StartTLS() VARIANT_BOOL",
                     "0x68030103 put StartTLS(VARIANT_BOOL)",
                     "0x68030104 get Charset() BSTR",
                     "0x68030104 put Charset(BSTR)",
                     "0x60030100 method UniqueId(short*) BSTR",
                     "0x60030101 method Top(short*, short*) BSTR",
                 });
  checkEvents(library, label);
  checkCoclass(library, CLSID_Corvane, label + "coclass Corvane", TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL,
               "_Corvane[default] __Corvane[default][source]");
  checkCoclass(library, CLSID_MIME, label + "coclass MIME", TYPEFLAG_FCANCREATE, "_MIME[default]");
  checkCoclass(library, CLSID_pagPOP3, label + "coclass pagPOP3", TYPEFLAG_FCANCREATE, "IUnknown[default]");
  checkCoclass(library, CLSID_pagSMTP, label + "coclass pagSMTP", TYPEFLAG_FCANCREATE, "IUnknown[default]");
}

// By-reference arguments: the typed form compiled hosts pass, and the variant form of scripts.
void checkReferences(_MIME* mime) {
  IDispatch* object = mime;
  const size_t emptyMessage = 174;  // the text of an object with no parts and empty headers

  Bstr typed;
  VARIANT argument, result;
  V_VT(&argument) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&argument) = &typed.value;
  VariantInit(&result);
  HRESULT hr = invoke(object, L"GenerateMime", DISPATCH_METHOD, {argument}, &result);
  check("GenerateMime fills a typed BSTR reference", SUCCEEDED(hr) && SysStringLen(typed.value) == emptyMessage,
        hex(hr) + " length " + std::to_string(SysStringLen(typed.value)));
  check("GenerateMime answers the 16-bit integer -1", V_VT(&result) == VT_I2 && V_I2(&result) == -1,
        "vt " + std::to_string(V_VT(&result)));

  LONG wrongType = 0;
  V_VT(&argument) = VT_BYREF | VT_I4;
  V_I4REF(&argument) = &wrongType;
  UINT argError = 99;
  hr = invoke(object, L"GenerateMime", DISPATCH_METHOD, {argument}, &result, &argError);
  check("a typed reference of another type is a type mismatch", hr == DISP_E_TYPEMISMATCH && argError == 0,
        hex(hr) + " argument " + std::to_string(argError));

  // A script's variable is a variant reference: a put must not change its type.
  VARIANT variable;
  V_VT(&variable) = VT_I4;
  V_I4(&variable) = 5;
  V_VT(&argument) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&argument) = &variable;
  hr = invoke(object, L"Subject", DISPATCH_PROPERTYPUT, {argument}, nullptr);
  Bstr subject;
  mime->get_Subject(&subject.value);
  check("a by-reference put takes a number as text", SUCCEEDED(hr) && subject.text() == "5", hex(hr) + " " + subject.text());
  check("a by-reference put leaves the caller's variable alone", V_VT(&variable) == VT_I4 && V_I4(&variable) == 5,
        "vt " + std::to_string(V_VT(&variable)));
}

// Errors through the vtable: the HRESULT 0x800A0000 + n and the thread's error object.
void checkEarlyBoundError(_MIME* mime) {
  Bstr data(L"x");
  VARIANT result;
  VariantInit(&result);
  const HRESULT hr = mime->ContentAdd(-1, data.value, &result);
  check("ContentAdd(-1) fails with 0x800a0009", hr == static_cast<HRESULT>(0x800A0009), hex(hr));
  ISupportErrorInfo* support = nullptr;
  const bool supported = SUCCEEDED(mime->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))) &&
                         support->InterfaceSupportsErrorInfo(IID__MIME) == S_OK;
  if (support) support->Release();
  check("_MIME supports error information", supported);
  IErrorInfo* info = nullptr;
  Bstr description, source;
  if (GetErrorInfo(0, &info) == S_OK) {
    info->GetDescription(&description.value);
    info->GetSource(&source.value);
    info->Release();
  }
  check("the error object describes the error", description.text() == "Subscript out of range" &&
                                                     source.text() == "prjCorvane.MIME",
        description.text() + " / " + source.text());
}

// DllCanUnloadNow answers S_OK only when no object, class factory or lock is left.
void checkUnloadRule() {
  wchar_t path[MAX_PATH] = {};
  DWORD size = sizeof path;
  const std::wstring key = L"CLSID\\{13B70BCA-C682-4416-A008-5C262B17E31D}\\InprocServer32";
  RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size);
  HMODULE module = LoadLibraryW(path);
  check("the registered server path loads", module != nullptr, narrow(path));
  if (!module) return;
  auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  auto canUnloadNow = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));

  IClassFactory* factory = nullptr;
  void* unknownClass = nullptr;
  check("an unknown class is not available", getClassObject(IID_IDispatch, IID_IClassFactory, &unknownClass) ==
                                                 CLASS_E_CLASSNOTAVAILABLE);
  getClassObject(CLSID_MIME, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  check("the MIME class factory", factory != nullptr);
  if (!factory) return;
  const HRESULT whileFactory = canUnloadNow();
  IUnknown* object = nullptr;
  int notAnObject = 0;  // never called: aggregation is refused before the outer object is used
  auto* outer = reinterpret_cast<IUnknown*>(&notAnObject);
  check("aggregation is refused", factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&object)) ==
                                       CLASS_E_NOAGGREGATION);
  factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object));
  factory->LockServer(TRUE);
  factory->Release();
  const HRESULT whileBoth = canUnloadNow();
  object->Release();
  const HRESULT whileLocked = canUnloadNow();
  getClassObject(CLSID_MIME, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  factory->LockServer(FALSE);
  factory->Release();
  const HRESULT whenFree = canUnloadNow();
  check("DllCanUnloadNow counts factories, objects and locks",
        whileFactory == S_FALSE && whileBoth == S_FALSE && whileLocked == S_FALSE && whenFree == S_OK,
        hex(whileFactory) + " " + hex(whileBoth) + " " + hex(whileLocked) + " " + hex(whenFree));
  FreeLibrary(module);
}

}  // namespace

// The module that serves the control to a client of this width.
void checkServedFrom(const char* expected) {
  IUnknown* control = nullptr;
  const HRESULT hr =
      CoCreateInstance(CLSID_Corvane, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&control));
  wchar_t path[MAX_PATH] = {};
  HMODULE module = nullptr;
  if (control && GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                    *reinterpret_cast<LPCWSTR*>(control), &module))
    GetModuleFileNameW(module, path, MAX_PATH);
  if (control) control->Release();
  const std::string served = narrow(path);
  check("a " + std::to_string(8 * sizeof(void*)) + "-bit client gets the control from " + expected,
        SUCCEEDED(hr) && _stricmp(served.c_str(), expected) == 0, hex(hr) + " " + served);
}

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // every line reaches the log, even if a check crashes
  if (FAILED(CoInitialize(nullptr))) {
    std::printf("RESULT FAIL CoInitialize\n");
    return 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "--served") == 0) {
    checkServedFrom(argv[2]);
    CoUninitialize();
    return finish();
  }
  ITypeLib* registered = nullptr;
  HRESULT hr = LoadRegTypeLib(LIBID_prjCorvane, 1, 0, LOCALE_NEUTRAL, &registered);
  check("the registered type library loads", SUCCEEDED(hr), hex(hr));
  if (registered) {
    checkTypeLibrary(registered, "(registered) ");
    registered->Release();
  }
  // The other width's OCX is read as a file: its code cannot run in this process.
  for (int i = 1; i < argc; ++i) {
    ITypeLib* other = nullptr;
    const std::wstring path(argv[i], argv[i] + std::strlen(argv[i]));
    hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &other);
    check(std::string("the type library in ") + argv[i] + " loads", SUCCEEDED(hr), hex(hr));
    if (other) {
      checkTypeLibrary(other, std::string("(") + argv[i] + ") ");
      other->Release();
    }
  }
  _MIME* mime = nullptr;
  hr = CoCreateInstance(CLSID_MIME, nullptr, CLSCTX_INPROC_SERVER, IID__MIME, reinterpret_cast<void**>(&mime));
  check("CoCreateInstance of the registered MIME class", SUCCEEDED(hr), hex(hr));
  if (mime) {
    checkReferences(mime);
    checkEarlyBoundError(mime);
    mime->Release();
  }
  checkUnloadRule();
  CoUninitialize();
  return finish();
}
