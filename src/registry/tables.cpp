// The built-in registration tables. Both begin with an empty row, which ends
// every walk before the provider rows behind it.
#include "zarnouns.h"

const char UninstallPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

const RegEntry RegisterEntries[] = {
    {NULL, NULL, NULL},
    {"Software\\Vostrel\\Harbo", "SccServerPath", "%s\\harbo.dll"},
    {"Software\\Vostrel\\Harbo", "SccServerName", "Vostrel Harbo"},
    {"Software\\SourceCodeControlProvider", "ProviderRegKey", "Software\\Vostrel\\Harbo"},
    {"Software\\SourceCodeControlProvider\\InstalledSCCProviders", "Vostrel Harbo",
     "Software\\Vostrel\\Harbo"},
    {NULL, NULL, NULL},
};

const RegEntry UnregisterEntries[] = {
    {NULL, NULL, NULL},
    {"Software\\Vostrel\\Harbo", NULL, NULL},
    {"Software\\SourceCodeControlProvider", "ProviderRegKey", "Software\\Miscrosoft\\SourceSafe"},
    {"Software\\SourceCodeControlProvider\\InstalledSCCProviders", "Vostrel Harbo", NULL},
    {NULL, NULL, NULL},
};
