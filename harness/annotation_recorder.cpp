// An annotation service for tests: registered in a test prefix under the CLSID of the system's
// IAccPropServices, it stands where Windows' own would and records every call that names or
// un-names a window, one line each, to the file named by METRONOME_ANNOTATION_LOG:
//   SET <hwnd hex> <object id> <child id> NAME|OTHER <the text, UTF-8>
//   CLEAR <hwnd hex> <object id> <child id> <number of properties> NAME|OTHER
// Wine's own service answers every such call with E_NOTIMPL, so nothing could be seen without it.
#include <windows.h>
#include <objbase.h>
#include <initguid.h>
#include <oleacc.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace {

std::atomic<long> g_objects{0};

void Record(const std::string &line) {
    wchar_t path[MAX_PATH];
    if (GetEnvironmentVariableW(L"METRONOME_ANNOTATION_LOG", path, MAX_PATH) == 0) {
        return;
    }
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string Utf8(const wchar_t *text) {
    if (text == nullptr) {
        return "(null)";
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::string Window(HWND hwnd, DWORD object, DWORD child) {
    char text[64];
    std::snprintf(text, sizeof(text), "%lx %ld %lu",
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwnd)),
                  static_cast<long>(object), static_cast<unsigned long>(child));
    return text;
}

const char *PropertyName(const MSAAPROPID &id) {
    return IsEqualGUID(id, PROPID_ACC_NAME) ? "NAME" : "OTHER";
}

class Annotations : public IAccPropServices {
  public:
    Annotations() {
        ++g_objects;
    }
    virtual ~Annotations() {
        --g_objects;
    }
    HRESULT WINAPI QueryInterface(REFIID iid, void **out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IAccPropServices)) {
            *out = static_cast<IAccPropServices *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override {
        return static_cast<ULONG>(++references_);
    }
    ULONG WINAPI Release() override {
        const long left = --references_;
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }
    HRESULT WINAPI SetHwndPropStr(HWND hwnd, DWORD object, DWORD child, MSAAPROPID id,
                                  LPCWSTR text) override {
        Record("SET " + Window(hwnd, object, child) + " " + PropertyName(id) + " " + Utf8(text));
        return S_OK;
    }
    HRESULT WINAPI ClearHwndProps(HWND hwnd, DWORD object, DWORD child, const MSAAPROPID *ids,
                                  int count) override {
        Record("CLEAR " + Window(hwnd, object, child) + " " + std::to_string(count) + " " +
               (count > 0 && ids != nullptr ? PropertyName(ids[0]) : "-"));
        return S_OK;
    }
    // Nothing else is recorded: a call the program should not make shows as its absence.
    HRESULT WINAPI SetPropValue(const BYTE *, DWORD, MSAAPROPID, VARIANT) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI SetPropServer(const BYTE *, DWORD, const MSAAPROPID *, int, IAccPropServer *,
                                 AnnoScope) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI ClearProps(const BYTE *, DWORD, const MSAAPROPID *, int) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI SetHwndProp(HWND, DWORD, DWORD, MSAAPROPID, VARIANT) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI SetHwndPropServer(HWND, DWORD, DWORD, const MSAAPROPID *, int, IAccPropServer *,
                                     AnnoScope) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI ComposeHwndIdentityString(HWND, DWORD, DWORD, BYTE **, DWORD *) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI DecomposeHwndIdentityString(const BYTE *, DWORD, HWND *, DWORD *,
                                               DWORD *) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI SetHmenuProp(HMENU, DWORD, MSAAPROPID, VARIANT) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI SetHmenuPropStr(HMENU, DWORD, MSAAPROPID, LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI SetHmenuPropServer(HMENU, DWORD, const MSAAPROPID *, int, IAccPropServer *,
                                      AnnoScope) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI ClearHmenuProps(HMENU, DWORD, const MSAAPROPID *, int) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI ComposeHmenuIdentityString(HMENU, DWORD, BYTE **, DWORD *) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI DecomposeHmenuIdentityString(const BYTE *, DWORD, HMENU *, DWORD *) override {
        return E_NOTIMPL;
    }

  private:
    std::atomic<long> references_{1};
};

class Factory : public IClassFactory {
  public:
    HRESULT WINAPI QueryInterface(REFIID iid, void **out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override {
        return 2; // static: lives as long as the DLL
    }
    ULONG WINAPI Release() override {
        return 1;
    }
    HRESULT WINAPI CreateInstance(IUnknown *outer, REFIID iid, void **out) override {
        *out = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        Annotations *object = new Annotations;
        const HRESULT result = object->QueryInterface(iid, out);
        object->Release();
        return result;
    }
    HRESULT WINAPI LockServer(BOOL) override {
        return S_OK;
    }
};

Factory g_factory;

} // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **out) {
    if (!IsEqualCLSID(clsid, CLSID_AccPropServices)) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return g_objects.load() == 0 ? S_OK : S_FALSE;
}
