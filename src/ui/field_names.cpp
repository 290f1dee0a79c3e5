#include "ui/field_names.h"

#include "ui/settings_check.h"

#include <objbase.h>
// The service's identifiers are defined here, once, rather than imported from oleacc: the
// program loads the service through COM and links nothing of it.
#include <initguid.h>
#include <oleacc.h>

void AnnotateFields(HWND dialog, bool name) {
    IAccPropServices *service = nullptr;
    if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IAccPropServices, reinterpret_cast<void **>(&service)))) {
        return;
    }
    MSAAPROPID property = PROPID_ACC_NAME;
    for (const FieldRule &rule : kFieldRules) {
        HWND field = GetDlgItem(dialog, rule.controlId);
        if (field == nullptr) {
            continue;
        }
        // A service that cannot keep the name leaves the field as it was.
        if (name) {
            service->SetHwndPropStr(field, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, property,
                                    rule.name);
        } else {
            service->ClearHwndProps(field, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                    &property, 1);
        }
    }
    service->Release();
}
