// Registration: the provider rows, then the product's Uninstall entry.
#include "zarnouns.h"

static const char PermissionText[] =
    "You must have permission to update LOCAL_MACHINE Registry,\nlike Administrator. You must "
    "reinstall.";

// Data beginning with "%" names a file in the installation directory: the
// "%s" and separator are skipped and the rest is joined to SelfDir.
static int FormRowText(char* text, const char* data) {
    if (data[0] == '%') return JoinPath(text, TextSize, SelfDir, data + 3);
    return CopyText(text, TextSize, data);
}

int WriteProviderRows(const RegEntry* rows) {
    char text[TextSize];
    HKEY key = NULL;
    for (const RegEntry* row = rows; row->keyPath != NULL; row++) {
        if (!KeyCreate(NULL, row->keyPath, KeyPath, &key, 2)) {
            TellUser(PermissionText);
            return 0;
        }
        if (!FormRowText(text, row->data) || !ValueSet(key, row->valueName, text)) {
            KeyClose(&key);
            TellUser("Cannot set registry value. You will have to reinstall.");
            return 0;
        }
        printf("SETTING: [%s] %s=%s\n", row->keyPath, row->valueName, text);
        KeyClose(&key);
    }
    return 1;
}

void Register(const char* name, const char* displayName) {
    char command[TextSize];
    HKEY key = NULL;
    // Everything is measured before anything is written.
    if (!CheckProductName(name)) return;
    if (strlen(displayName) >= TextSize) {
        TellUser("Invalid display name: it is longer than 1023 characters.");
        return;
    }
    if (!FormatText(command, sizeof command, "\"%s\" %s \"%s\"", SelfPath, "-u", name)) {
        TellUser("Cannot register: the uninstall command is longer than 1023 characters.");
        return;
    }
    if (!WriteProviderRows(RegisterEntries)) return;
    if (!KeyCreate(UninstallPrefix, name, KeyPath, &key, 0)) {
        TellUser(PermissionText);
        return;
    }
    ValueSet(key, "DisplayName", displayName);
    ValueSet(key, "UninstallString", command);
    ValueSet(key, "InstallLocation", SelfDir);
    KeyClose(&key);
}
