// The test driver's dialog templates: what a Windows driver kept as dialog
// resources in its module. The entry layer registers them under the
// module's instance.
#include "drivers/test/test_dialogs.h"

#include "base/setup/base_setup.h"

namespace {

enum : uint16_t { noId = 0xFFFF };

const KvDialogItem setupItems[] = {
    {kvWindowStatic, noId, "Data &Source Name:"},
    {kvWindowEdit, setupControlName, nullptr},
    {kvWindowButton, setupControlNameCompanion, "&Define..."},
    {kvWindowStatic, noId, "&Description:"},
    {kvWindowEdit, setupControlDescription, nullptr},
    {kvWindowStatic, noId, "Driver &Name:"},
    {kvWindowEdit, 300, nullptr},
    {kvWindowRadioButton, 301, "&Fast"},
    {kvWindowRadioButton, 302, "Sa&fe"},
    {kvWindowCheckBox, 303, "&Warn at logon"},
    {kvWindowStatic, noId, "&Locking:"},
    {kvWindowComboBox, 304, nullptr},
    {kvWindowStatic, noId, "Lock &Wait:"},
    {kvWindowComboBox, 305, nullptr},
    {kvWindowButton, kvIdOkButton, "OK"},
    {kvWindowButton, kvIdCancelButton, "Cancel"},
};

const KvDialogItem logonItems[] = {
    {kvWindowStatic, noId, "&User ID:"},
    {kvWindowEdit, testLogonUserId, nullptr},
    {kvWindowStatic, noId, "&Password:"},
    {kvWindowEdit, testLogonPassword, nullptr},
    {kvWindowButton, kvIdOkButton, "OK"},
    {kvWindowButton, kvIdCancelButton, "Cancel"},
};

const KvDialogTemplate dialogTemplates[] = {
    {testSetupDialogId, "Kestrane Test Driver Setup", setupItems, sizeof(setupItems) / sizeof(setupItems[0])},
    {testLogonDialogId, "Kestrane Test Driver Logon", logonItems, sizeof(logonItems) / sizeof(logonItems[0])},
};

}  // namespace

const KvDialogTemplate* entryDialogTemplates(uint16_t* count) {
  *count = sizeof(dialogTemplates) / sizeof(dialogTemplates[0]);
  return dialogTemplates;
}
