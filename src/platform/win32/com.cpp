// COM and the management service: thin forwarding, our VARIANT filled from
// the real one before it is cleared.
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "discovery/wmi.h"
#include "platform/win32/win32_platform.h"
#include "platform/winconst.h"

namespace pbaloader::win32 {
namespace {

static_assert(sizeof(ComRef) == sizeof(void*));
static_assert(sizeof(Guid) == sizeof(GUID));
static_assert(win::RpcEChangedMode == RPC_E_CHANGED_MODE);
static_assert(win::RpcETooLate == RPC_E_TOO_LATE);
static_assert(win::CoENotInitialized == CO_E_NOTINITIALIZED);
static_assert(win::RegdbEClassNotReg == REGDB_E_CLASSNOTREG);
static_assert(win::EOutOfMemory == E_OUTOFMEMORY && win::EPointer == E_POINTER);
static_assert(win::WbemEInvalidNamespace == static_cast<std::int32_t>(WBEM_E_INVALID_NAMESPACE));
static_assert(win::WbemEInvalidQuery == static_cast<std::int32_t>(WBEM_E_INVALID_QUERY));
static_assert(win::WbemEInvalidClass == static_cast<std::int32_t>(WBEM_E_INVALID_CLASS));
static_assert(win::WbemEInvalidQueryType == static_cast<std::int32_t>(WBEM_E_INVALID_QUERY_TYPE));
static_assert(win::WbemENotFound == static_cast<std::int32_t>(WBEM_E_NOT_FOUND));
static_assert(win::CoinitMultithreaded == COINIT_MULTITHREADED);
static_assert(win::CoinitApartmentThreaded == COINIT_APARTMENTTHREADED);
static_assert(win::CoinitDisableOle1Dde == COINIT_DISABLE_OLE1DDE);
static_assert(win::ClsctxInprocServer == CLSCTX_INPROC_SERVER);
static_assert(win::RpcCAuthnWinnt == RPC_C_AUTHN_WINNT && win::RpcCAuthzNone == RPC_C_AUTHZ_NONE);
static_assert(win::RpcCAuthnLevelDefault == RPC_C_AUTHN_LEVEL_DEFAULT);
static_assert(win::RpcCAuthnLevelCall == RPC_C_AUTHN_LEVEL_CALL);
static_assert(win::RpcCImpLevelImpersonate == RPC_C_IMP_LEVEL_IMPERSONATE);
static_assert(win::EoacNone == EOAC_NONE);
static_assert(win::WbemFlagForwardOnly == WBEM_FLAG_FORWARD_ONLY);
static_assert(win::WbemFlagReturnImmediately == WBEM_FLAG_RETURN_IMMEDIATELY);
static_assert(win::WbemInfinite == static_cast<std::int32_t>(WBEM_INFINITE));
static_assert(win::VtNull == VT_NULL && win::VtI4 == VT_I4 && win::VtBstr == VT_BSTR);
static_assert(win::VtUi4 == VT_UI4 && win::VtI8 == VT_I8 && win::VtUi8 == VT_UI8);
static_assert(win::VtBool == VT_BOOL && win::VtArray == VT_ARRAY);

GUID toGuid(const Guid& g) {
  GUID out;
  std::memcpy(&out, &g, sizeof(out));
  return out;
}

template <class T>
T* as(ComRef ref) {
  return reinterpret_cast<T*>(ref);
}

ComRef ref(void* object) { return reinterpret_cast<ComRef>(object); }

WString textOf(const wchar_t* text) {
  if (text == nullptr) return {};
  return WString(reinterpret_cast<const char16_t*>(text), std::wcslen(text));
}

// A platform string owned for one call; allocation failure is the COM error.
class Bstr {
 public:
  explicit Bstr(WStringView text)
      : value_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                 static_cast<UINT>(text.size()))) {
    if (value_ == nullptr) throw ComError(E_OUTOFMEMORY);
  }
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return value_; }

 private:
  BSTR value_;
};

void copyArray(const VARIANT& var, Variant& value) {
  SAFEARRAY* array = var.parray;
  if (array == nullptr) return;
  value.dimensions = SafeArrayGetDim(array);
  if (value.dimensions == 0) return;
  value.elementCount = array->rgsabound[0].cElements;
  if (var.vt != (VT_ARRAY | VT_BSTR) || value.dimensions != 1) return;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) {
    value.accessFailed = true;
    return;
  }
  const BSTR* items = static_cast<const BSTR*>(data);
  for (ULONG i = 0; i < value.elementCount; ++i) value.elements.push_back(textOf(items[i]));
  SafeArrayUnaccessData(array);
}

}  // namespace

std::int32_t Win32Platform::coInitializeEx(std::uint32_t mode) {
  return CoInitializeEx(nullptr, mode);
}

void Win32Platform::coUninitialize() { CoUninitialize(); }

std::int32_t Win32Platform::coInitializeSecurity(std::int32_t authnServices,
                                                 std::uint32_t authnLevel, std::uint32_t impLevel,
                                                 std::uint32_t capabilities) {
  return CoInitializeSecurity(nullptr, authnServices, nullptr, nullptr, authnLevel, impLevel,
                              nullptr, capabilities, nullptr);
}

ComResult Win32Platform::coCreateInstance(const Guid& clsid, std::uint32_t context,
                                          const Guid& iid) {
  const GUID c = toGuid(clsid);
  const GUID i = toGuid(iid);
  void* object = nullptr;
  const HRESULT hr = CoCreateInstance(c, nullptr, context, i, &object);
  return {hr, ref(object)};
}

ComResult Win32Platform::connectServer(ComRef locator, WStringView namespacePath) {
  if (locator == 0) throw ComError(E_POINTER);
  const Bstr path(namespacePath);
  IWbemServices* services = nullptr;
  const HRESULT hr = as<IWbemLocator>(locator)->ConnectServer(path, nullptr, nullptr, nullptr, 0,
                                                              nullptr, nullptr, &services);
  return {hr, ref(services)};
}

std::int32_t Win32Platform::coSetProxyBlanket(ComRef proxy, std::uint32_t authn,
                                              std::uint32_t authz, std::uint32_t authnLevel,
                                              std::uint32_t impLevel, std::uint32_t capabilities) {
  return CoSetProxyBlanket(as<IUnknown>(proxy), authn, authz, nullptr, authnLevel, impLevel,
                           nullptr, capabilities);
}

ComResult Win32Platform::execQuery(ComRef services, WStringView language, WStringView query,
                                   std::int32_t flags) {
  if (services == 0) throw ComError(E_POINTER);
  const Bstr lang(language);
  const Bstr text(query);
  IEnumWbemClassObject* enumerator = nullptr;
  const HRESULT hr =
      as<IWbemServices>(services)->ExecQuery(lang, text, flags, nullptr, &enumerator);
  return {hr, ref(enumerator)};
}

NextResult Win32Platform::enumNext(ComRef enumerator, std::int32_t timeout) {
  if (enumerator == 0) throw ComError(E_POINTER);
  IWbemClassObject* object = nullptr;
  ULONG returned = 0;
  const HRESULT hr = as<IEnumWbemClassObject>(enumerator)->Next(timeout, 1, &object, &returned);
  return {hr, ref(object), returned};
}

std::int32_t Win32Platform::objectGet(ComRef object, WStringView name, Variant& value) {
  if (object == 0) throw ComError(E_POINTER);
  const Bstr property(name);
  VARIANT var;
  VariantInit(&var);
  const HRESULT hr = as<IWbemClassObject>(object)->Get(property, 0, &var, nullptr, nullptr);
  value = Variant{};
  if (SUCCEEDED(hr)) {
    value.type = var.vt;
    switch (var.vt) {
      case VT_BSTR:
        value.nullText = var.bstrVal == nullptr;
        value.text = textOf(var.bstrVal);
        break;
      case VT_I4:
      case VT_UI4:
        value.integer = var.ulVal;
        break;
      case VT_I8:
      case VT_UI8:
        value.integer = var.ullVal;
        break;
      case VT_BOOL:
        value.integer = static_cast<std::uint16_t>(var.boolVal);
        break;
      default:
        if ((var.vt & VT_ARRAY) != 0 && (var.vt & VT_BYREF) == 0) copyArray(var, value);
        break;
    }
  }
  VariantClear(&var);
  return hr;
}

void Win32Platform::release(ComRef object) {
  if (object != 0) as<IUnknown>(object)->Release();
}

}  // namespace pbaloader::win32
