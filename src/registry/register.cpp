// Registration: the provider rows, then the product's Uninstall entry.
#include "zarnouns.h"

// Data beginning with "%" names a file in the installation directory: the
// "%s" and separator are skipped and the rest is joined to SelfDir.
static int FormRowText(char* text, const char* data) {
    if (data[0] == '%') return JoinPath(text, TextSize, SelfDir, data + 3);
    return CopyText(text, TextSize, data);
}

// A registration that fails leaves the product unregistered: a silent run
// ends with the failure's code.
static void TellFailure(const char* text) {
    TellUser(text);
    SetExitCode(ExitFailed);
}

int WriteProviderRows(const RegEntry* rows) {
    char text[TextSize];
    HKEY key = NULL;
    for (const RegEntry* row = rows; row->keyPath != NULL; row++) {
        if (!KeyCreate(NULL, row->keyPath, KeyPath, &key, 2)) {
            TellFailure(Text(TextNoPermission));
            return 0;
        }
        if (!FormRowText(text, row->data) || !ValueSet(key, row->valueName, text)) {
            KeyClose(&key);
            TellFailure(Text(TextCannotSetValue));
            return 0;
        }
        printf("SETTING: [%s] %s=%s\n", row->keyPath, row->valueName, text);
        KeyClose(&key);
    }
    return 1;
}

// The removal script as it is now, so that the uninstall follows no other:
// its hash, or the word that there is none. Neither where it cannot be read.
static int RecordRemovalScript(HKEY key) {
    char hash[HashTextSize];
    int found = RemovalScriptHash(SelfDir, hash);
    ValueDelete(key, found > 0 ? "NoRemovalScript" : "RemovalScriptHash");
    if (found > 0) return ValueSet(key, "RemovalScriptHash", hash);
    if (found == 0) return ValueSetNumber(key, "NoRemovalScript", 1);
    ValueDelete(key, "NoRemovalScript");
    return 0;
}

void Register(const char* name, const char* displayName) {
    char command[TextSize];
    char quiet[TextSize];  // what deployment tools run: the same, silent
    HKEY key = NULL;
    // Everything is measured before anything is written.
    if (!CheckProductName(name)) return;
    if (strlen(displayName) >= TextSize) {
        TellUser(Text(TextDisplayNameTooLong));
        SetExitCode(ExitBadCommand);
        return;
    }
    if (!FormatText(command, sizeof command, "\"%s\" %s \"%s\"", SelfPath, "-u", name) ||
        !FormatText(quiet, sizeof quiet, "\"%s\" %s \"%s\"", SelfPath, "-s -u", name)) {
        TellFailure(Text(TextCommandTooLong));
        return;
    }
    if (!WriteProviderRows(RegisterEntries)) return;
    if (!KeyCreate(UninstallPrefix, name, KeyPath, &key, 0)) {
        TellFailure(Text(TextNoPermission));
        return;
    }
    // Each is written whatever became of the one before.
    int written = ValueSet(key, "DisplayName", displayName);
    written &= ValueSet(key, "UninstallString", command);
    written &= ValueSet(key, "QuietUninstallString", quiet);
    written &= ValueSet(key, "InstallLocation", SelfDir);
    written &= RecordRemovalScript(key);
    // The size leaves out what an uninstall would keep.
    FindOtherPrograms(name, SelfDir);
    written &= WriteEntryDetails(key);
    KeyClose(&key);
    if (!written) SetExitCode(ExitFailed);
}
