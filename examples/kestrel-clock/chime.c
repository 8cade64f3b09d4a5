/* Kestrel Chime, the example product's COM server (an in-process server, chime.dll): the class
   "Kestrel.Chime" with its own CLSID, an object that beeps when it is made. DllRegisterServer
   writes its CLSID and ProgID keys under HKEY_CLASSES_ROOT, DllUnregisterServer removes them;
   the setup's OLE REGISTER and the uninstaller call them. */
#include <olectl.h>
#include <windows.h>

#define CHIME_PROGID "Kestrel.Chime"
#define CHIME_CLSID "{6B3E2F1A-4C5D-4E8F-9A1B-2C3D4E5F6A7B}"
static const CLSID CLSID_KestrelChime = {
    0x6b3e2f1a, 0x4c5d, 0x4e8f, {0x9a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f, 0x6a, 0x7b}};

static struct {
    HMODULE module;
    LONG objects; /* live objects and server locks: DllCanUnloadNow */
} S;

/* ---- The chime object: IUnknown only ---- */

typedef struct {
    IUnknownVtbl *lpVtbl;
    LONG references;
} Chime;

static HRESULT STDMETHODCALLTYPE Chime_QueryInterface(IUnknown *self, REFIID iid, void **out) {
    if (!out) return E_POINTER;
    if (!IsEqualIID(iid, &IID_IUnknown)) {
        *out = NULL;
        return E_NOINTERFACE;
    }
    *out = self;
    self->lpVtbl->AddRef(self);
    return S_OK;
}

static ULONG STDMETHODCALLTYPE Chime_AddRef(IUnknown *self) {
    return (ULONG)InterlockedIncrement(&((Chime *)self)->references);
}

static ULONG STDMETHODCALLTYPE Chime_Release(IUnknown *self) {
    LONG left = InterlockedDecrement(&((Chime *)self)->references);
    if (left == 0) {
        HeapFree(GetProcessHeap(), 0, self);
        InterlockedDecrement(&S.objects);
    }
    return (ULONG)left;
}

static IUnknownVtbl ChimeVtbl = {Chime_QueryInterface, Chime_AddRef, Chime_Release};

/* ---- Its class factory: one static object ---- */

static HRESULT STDMETHODCALLTYPE Factory_QueryInterface(IClassFactory *self, REFIID iid,
                                                        void **out) {
    if (!out) return E_POINTER;
    if (!IsEqualIID(iid, &IID_IUnknown) && !IsEqualIID(iid, &IID_IClassFactory)) {
        *out = NULL;
        return E_NOINTERFACE;
    }
    *out = self;
    return S_OK;
}

static ULONG STDMETHODCALLTYPE Factory_AddRef(IClassFactory *self) {
    (void)self;
    return 2;
}

static ULONG STDMETHODCALLTYPE Factory_Release(IClassFactory *self) {
    (void)self;
    return 1;
}

static HRESULT STDMETHODCALLTYPE Factory_CreateInstance(IClassFactory *self, IUnknown *outer,
                                                        REFIID iid, void **out) {
    Chime *chime;
    HRESULT result;
    (void)self;
    if (!out) return E_POINTER;
    *out = NULL;
    if (outer) return CLASS_E_NOAGGREGATION;
    chime = (Chime *)HeapAlloc(GetProcessHeap(), 0, sizeof *chime);
    if (!chime) return E_OUTOFMEMORY;
    chime->lpVtbl = &ChimeVtbl;
    chime->references = 1;
    InterlockedIncrement(&S.objects);
    MessageBeep(MB_OK);
    result = Chime_QueryInterface((IUnknown *)chime, iid, out);
    Chime_Release((IUnknown *)chime);
    return result;
}

static HRESULT STDMETHODCALLTYPE Factory_LockServer(IClassFactory *self, BOOL lock) {
    (void)self;
    if (lock)
        InterlockedIncrement(&S.objects);
    else
        InterlockedDecrement(&S.objects);
    return S_OK;
}

static IClassFactoryVtbl FactoryVtbl = {Factory_QueryInterface, Factory_AddRef, Factory_Release,
                                        Factory_CreateInstance, Factory_LockServer};
static IClassFactory Factory = {&FactoryVtbl};

/* ---- The server's entry points ---- */

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) S.module = instance;
    return TRUE;
}

__declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void **out) {
    if (!out) return E_POINTER;
    *out = NULL;
    if (!IsEqualCLSID(clsid, &CLSID_KestrelChime)) return CLASS_E_CLASSNOTAVAILABLE;
    return Factory_QueryInterface(&Factory, iid, out);
}

__declspec(dllexport) HRESULT __stdcall DllCanUnloadNow(void) {
    return S.objects == 0 ? S_OK : S_FALSE;
}

/* Writes the default value (and the named one, when name is given) of key below
   HKEY_CLASSES_ROOT. 1 when written, 0 otherwise. */
static int SetClassValue(const char *key, const char *name, const char *value) {
    HKEY opened;
    LONG status =
        RegCreateKeyExA(HKEY_CLASSES_ROOT, key, 0, NULL, 0, KEY_SET_VALUE, NULL, &opened, NULL);
    if (status != ERROR_SUCCESS) return 0;
    status =
        RegSetValueExA(opened, name, 0, REG_SZ, (const BYTE *)value, (DWORD)lstrlenA(value) + 1);
    RegCloseKey(opened);
    return status == ERROR_SUCCESS;
}

__declspec(dllexport) HRESULT __stdcall DllRegisterServer(void) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(S.module, path, sizeof path);
    if (length == 0 || length >= sizeof path) return SELFREG_E_CLASS;
    if (!SetClassValue("CLSID\\" CHIME_CLSID, NULL, "Kestrel Clock Chime") ||
        !SetClassValue("CLSID\\" CHIME_CLSID "\\InprocServer32", NULL, path) ||
        !SetClassValue("CLSID\\" CHIME_CLSID "\\InprocServer32", "ThreadingModel", "Apartment") ||
        !SetClassValue("CLSID\\" CHIME_CLSID "\\ProgID", NULL, CHIME_PROGID) ||
        !SetClassValue(CHIME_PROGID, NULL, "Kestrel Clock Chime") ||
        !SetClassValue(CHIME_PROGID "\\CLSID", NULL, CHIME_CLSID))
        return SELFREG_E_CLASS;
    return S_OK;
}

__declspec(dllexport) HRESULT __stdcall DllUnregisterServer(void) {
    static const char *const keys[] = {/* children before their parents */
                                       "CLSID\\" CHIME_CLSID "\\InprocServer32",
                                       "CLSID\\" CHIME_CLSID "\\ProgID", "CLSID\\" CHIME_CLSID,
                                       CHIME_PROGID "\\CLSID", CHIME_PROGID};
    HRESULT result = S_OK;
    size_t i;
    for (i = 0; i < sizeof keys / sizeof keys[0]; i++) {
        LONG status = RegDeleteKeyA(HKEY_CLASSES_ROOT, keys[i]);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) result = SELFREG_E_CLASS;
    }
    return result;
}
