// The uninstall: confirmation, registry rollback, removal of the installed
// files, the outcome, and the deletion of the product's Uninstall entry.
#include "zarnouns.h"

void ApplyRollback(const RegEntry* rows) {
    for (const RegEntry* row = rows; row->keyPath != NULL; row++) {
        char rowKeyPath[TextSize];
        HKEY key = NULL;
        if (!KeyOpen(NULL, row->keyPath, rowKeyPath, &key, 2)) continue;
        if (row->valueName != NULL) {
            if (row->data != NULL)
                ValueSet(key, row->valueName, row->data);
            else
                ValueDelete(key, row->valueName);
            KeyClose(&key);
        } else {
            KeyClose(&key);
            KeyDelete(rowKeyPath);
        }
    }
}

// The starter of a silent run waits for this copy, so its file cannot go
// with the others: once this copy has reported, it is deleted after the
// starter has ended (DeleteStarter).
static char StarterFile[TextSize];

// 1 when all that is left in the installation folder is the file of the
// program that started this copy; it is then the StarterFile.
static int OnlyStarterLeft(const char* location) {
    char starter[TextSize];
    if (!SilentMode || !JoinPath(starter, sizeof starter, location, SelfName) ||
        _stricmp(starter, SelfPath) == 0 || !FolderHoldsOnly(location, SelfName))
        return 0;
    CopyText(StarterFile, sizeof StarterFile, starter);
    return 1;
}

void DeleteStarter(void) {
    if (StarterFile[0] == '\0') return;
    char folder[TextSize];
    CopyText(folder, sizeof folder, StarterFile);
    *strrchr(folder, PATH_SEP) = '\0';
    // It ends as soon as it has read the report; a few seconds are plenty.
    for (int i = 0; i < 50 && remove(StarterFile) != 0; i++) Sleep(100);
    if (_rmdir(folder) == 0) {
        RemovePublisherFolder(folder, 0);
        return;
    }
    // The folder stays for what it keeps that is not the plug-in's.
    if (KeptFolders(NULL) > 0 && _access(StarterFile, 0) != 0) return;
    // Never under its own name: a reinstall may put a new file there first.
    if (_access(StarterFile, 0) == 0) DeleteAsideAtRestart(StarterFile);
    RemoveFolderAtRestart(folder);
    RemovePublisherFolder(folder, 1);
}

// After files in use were moved aside: 1 when nothing else is left in the
// installation folder, but for the file of the program that started a
// silent copy, which is then the StarterFile.
static int OnlyMovedFilesLeft(const char* location) {
    char starter[TextSize];
    if (!JoinPath(starter, sizeof starter, location, SelfName)) return 0;
    // An installation folder that is kept keeps the starter's file too.
    if (!SilentMode || _stricmp(starter, SelfPath) == 0 || _access(starter, 0) != 0 ||
        IsKeptFolderA(location, KeptConsult))
        starter[0] = '\0';
    if (CountFilesLeft(location, starter) > 0) return 0;
    CopyText(StarterFile, sizeof StarterFile, starter);
    return 1;
}

// Removes the installed files: the removal script, or when there is none the
// whole tree. -1 without touching a file when there is no location ("") or
// when it names a folder that is not the application's own; those count as
// failures in test mode as well.
static int RemoveInstalledFiles(const char* location) {
    if (location[0] == '\0' || IsProtectedFolder(location)) {
        if (location[0] != '\0') printf("refusing to remove protected folder: %s\n", location);
        SetExitCode(ExitFailed);
        return -1;
    }
    int result = RunRemovalScript(location);
    if (result != -2) return result;
    return RemoveTreeGuarded(location);
}

// Before anything changes, every file of the installation must be free to
// go: while a program holds one, the user is asked to close it and retry.
// Where every file in use may be renamed and this process may have Windows
// delete files at the next restart (an administrator), the user may also go
// on: then 2, and those files go at the restart. 0 when the user keeps the
// installation instead, -1 when it cannot be removed whole.
static int WaitUntilFilesAreFree(const char* location, const char* displayName) {
    // Nothing is walked where nothing would be deleted.
    if (location[0] == '\0' || !IsRemovableTree(location)) return 1;
    char holders[TextSize];
    // Files are kept open only for a tree removal: a removal script deletes
    // by name, and the C runtime cannot open the script while it is held.
    // In test mode no file is deleted.
    int keep = !TestMode && !HasRemovalScript(location);
    int unmovable, found;
    while ((found = FindFilesInUse(location, holders, keep, &unmovable)) != 0) {
        // A tree the walk cannot take whole is never begun.
        if (found < 0) {
            FormatText(MessageBuffer, sizeof MessageBuffer, Text(TextTooDeep), displayName, holders);
            TellUser(MessageBuffer);
            return -1;
        }
        if (unmovable == 0 && IsElevated()) {
            FormatText(MessageBuffer, sizeof MessageBuffer, Text(TextInUseRestart), displayName,
                       holders);
            int answer = AskTryContinue(MessageBuffer);
            if (answer == IDCONTINUE) return 2;
            if (answer != IDTRYAGAIN) return 0;
            continue;
        }
        FormatText(MessageBuffer, sizeof MessageBuffer, Text(TextInUse), displayName, holders);
        if (AskRetry(MessageBuffer) != IDRETRY) return 0;
    }
    return 1;
}

void Uninstall(const char* name) {
    GuardRedirection();
    HKEY entryKey = NULL;
    int found = OpenProductEntry(name, &entryKey, 1);
    if (found < 0) TellNeedsAdministrator(name);
    if (found <= 0) return;
    HKEY entryRoot = CurrentRoot;
    // Both as the entry holds them now: the run goes by them to its end,
    // also when another program deletes the entry meanwhile. No location is
    // "", shown as a mark.
    char displayName[TextSize], location[TextSize];
    CopyText(displayName, sizeof displayName, ShownName(entryKey, name));
    const char* value = ValueGet(entryKey, "InstallLocation");
    CopyText(location, sizeof location, value != NULL ? value : "");
    const char* shownLocation = location[0] != '\0' ? location : "<no InstallLocation>";
    ReadScriptRegistration(entryKey, entryRoot);

    FormatText(MessageBuffer, sizeof MessageBuffer, Text(TextConfirm), displayName);
    int answer = AskUser(MessageBuffer);
    if (answer == IDNO) exit(0);
    if (answer != IDYES) exit(1);
    // The other programs are looked up once, before the first walk.
    FindOtherPrograms(name, location);
    int ready = WaitUntilFilesAreFree(location, displayName);
    if (ready <= 0) {
        SetExitCode(ready < 0 ? ExitFailed : ExitInUse);
        exit(EndRun(1));
    }

    ApplyRollback(UnregisterEntries);

    printf("delete: %s (%s)\n", name, shownLocation);
    // The files in use go aside first, to be deleted at the restart with the
    // folders that then hold them; the removal takes the rest. In test mode
    // nothing is renamed.
    int moved = ready == 2 && !TestMode && location[0] != '\0' ? MoveFilesInUseAside(location) : 0;

    int result = RemoveInstalledFiles(location);
    // What only the starter's own file keeps is removed once it has ended.
    // A folder kept for what is not the plug-in's stays: done when no other
    // file is left.
    char kept[TextSize];
    int keeps = KeptFolders(kept);
    if (result != 0 && !TestMode && location[0] != '\0' && IsRemovableTree(location) &&
        (moved > 0 || keeps ? OnlyMovedFilesLeft(location) : OnlyStarterLeft(location)))
        result = 0;
    // Test mode keeps the files: the code is the one a real run would have.
    if (result != 0 && !TestMode) SetExitCode(ExitFailed);
    // The publisher's folder goes with the installation (at the restart,
    // after the files moved aside); while the starter's file is left, once
    // that has gone (DeleteStarter).
    if (result == 0 && StarterFile[0] == '\0') RemovePublisherFolder(location, moved > 0);

    if (result != 0) {
        FormatText(MessageBuffer, sizeof MessageBuffer, Text(TextIncomplete), shownLocation);
    } else {
        FormatText(MessageBuffer, sizeof MessageBuffer, Text(TextSuccess), displayName,
                   moved > 0 ? Text(TextRestartNote) : "", keeps ? Text(TextKeptNote) : "", kept);
    }
    // Whatever else became of the files: the script's own deletions were not made.
    if (ScriptRefused != 0) {
        AppendText(MessageBuffer, sizeof MessageBuffer, "\n\n");
        AppendText(MessageBuffer, sizeof MessageBuffer,
                   Text(ScriptRefusals[ScriptRefused - 1].sentence));
    }
    TellUser(MessageBuffer);

    KeyClose(&entryKey);
    // The rollback may have moved CurrentRoot; the entry goes where it was found.
    CurrentRoot = entryRoot;
    if (!KeyDelete(KeyPath) && !TestMode) SetExitCode(ExitFailed);
    // Done but for the restart (in test mode, the code a real run would have).
    if (moved > 0 || (TestMode && ready == 2)) SetExitCode(ExitRestart);
}
