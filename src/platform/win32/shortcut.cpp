#include "platform/shortcut.h"

#include <windows.h>
#include <oleauto.h>

#include "platform/win32/wide.h"

namespace qz::platform {
namespace {

// Late binding to the Windows Script Host objects, as a script would use them.
DISPID dispid_of(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return DISPID_UNKNOWN;
  return id;
}

bool put_property(IDispatch* object, const wchar_t* name, VARIANT value) {
  const DISPID id = dispid_of(object, name);
  if (id == DISPID_UNKNOWN) return false;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &named, 1, 1};
  return SUCCEEDED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params,
                                  nullptr, nullptr, nullptr));
}

bool put_text(IDispatch* object, const wchar_t* name, const std::string& text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(to_wide(text).c_str());
  const bool ok = put_property(object, name, value);
  VariantClear(&value);
  return ok;
}

bool put_int(IDispatch* object, const wchar_t* name, int number) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = number;
  return put_property(object, name, value);
}

// WshShell.CreateShortcut(path): the shortcut object, or null.
IDispatch* create_shortcut_object(const std::string& path) {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"WScript.Shell", &clsid))) return nullptr;
  IDispatch* shell = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                              IID_IDispatch, reinterpret_cast<void**>(&shell))) ||
      !shell)
    return nullptr;
  IDispatch* shortcut = nullptr;
  const DISPID id = dispid_of(shell, L"CreateShortcut");
  if (id != DISPID_UNKNOWN) {
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(to_wide(path).c_str());
    DISPPARAMS params{&argument, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    if (SUCCEEDED(shell->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                                nullptr, nullptr)) &&
        result.vt == VT_DISPATCH && result.pdispVal) {
      shortcut = result.pdispVal;
      shortcut->AddRef();
    }
    VariantClear(&result);
    VariantClear(&argument);
  }
  shell->Release();
  return shortcut;
}

}  // namespace

bool write_shortcut(const ShortcutFile& file) {
  const HRESULT init = CoInitialize(nullptr);
  IDispatch* shortcut = create_shortcut_object(file.path);
  const bool obtained = shortcut != nullptr;
  // Only a shortcut that knows its target gets the other fields and is saved; failures of the
  // other fields and of Save go unreported.
  if (shortcut && put_text(shortcut, L"TargetPath", file.target)) {
    put_text(shortcut, L"WorkingDirectory", file.working_folder);
    put_text(shortcut, L"IconLocation", file.icon_location);
    put_int(shortcut, L"WindowStyle", file.window_style);
    put_text(shortcut, L"Description", file.description);
    put_text(shortcut, L"Arguments", file.arguments);
    put_text(shortcut, L"Hotkey", file.hotkey);
    const DISPID save = dispid_of(shortcut, L"Save");
    if (save != DISPID_UNKNOWN) {
      DISPPARAMS none{nullptr, nullptr, 0, 0};
      shortcut->Invoke(save, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr,
                       nullptr);
    }
  }
  if (shortcut) shortcut->Release();
  if (SUCCEEDED(init)) CoUninitialize();
  return obtained;
}

}  // namespace qz::platform
