#include "ui/field_names.h"

#include "ui/settings_check.h"

#include <objbase.h>
// The service's identifiers are defined here, once, rather than imported from oleacc: the
// program loads the service through COM and links nothing of it.
#include <initguid.h>
#include <oleacc.h>

namespace {

// Kept from the naming to the forgetting; the dialog's thread alone uses it.
IAccPropServices *g_annotations = nullptr;

} // namespace

void NameFieldsForScreenReaders(HWND dialog) {
    if (g_annotations != nullptr) {
        return;
    }
    void *service = nullptr;
    if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IAccPropServices, &service))) {
        return;
    }
    g_annotations = static_cast<IAccPropServices *>(service);
    for (const FieldRule &rule : kFieldRules) {
        HWND field = GetDlgItem(dialog, rule.controlId);
        if (field != nullptr) {
            // A service that cannot keep the name leaves the field as it was.
            g_annotations->SetHwndPropStr(field, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                          PROPID_ACC_NAME, rule.name);
        }
    }
}

void ForgetFieldNames(HWND dialog) {
    if (g_annotations == nullptr) {
        return;
    }
    MSAAPROPID name = PROPID_ACC_NAME;
    for (const FieldRule &rule : kFieldRules) {
        HWND field = GetDlgItem(dialog, rule.controlId);
        if (field != nullptr) {
            g_annotations->ClearHwndProps(field, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                          &name, 1);
        }
    }
    g_annotations->Release();
    g_annotations = nullptr;
}
