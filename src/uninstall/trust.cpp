// Whom the uninstall trusts with its removal script. An uninstall may run
// with an administrator's rights (elevated, or as SYSTEM from a deployment
// tool), and whoever can write the script or a folder on its way could
// otherwise aim it at any file of the machine. The script is followed as it
// was when the plug-in was registered: its hash then is in the entry, which
// only administrators may change (under HKLM). Where the entry has none, it
// is followed only where nobody but administrators, SYSTEM, TrustedInstaller
// and the user running the uninstall may change it, or where this run has
// no more rights than anyone who could.
#include "zarnouns.h"

int ScriptRegistration;
char ScriptRegisteredHash[HashTextSize];
int ScriptRefused;

enum { RefusedChanged = 1, RefusedAbsent, RefusedWritable };

const ScriptRefusal ScriptRefusals[] = {
    {"changed since registration", TextScriptChanged},
    {"not there at registration", TextScriptUnregistered},
    {"writable by others", TextScriptWritable},
};

// The account of this process, as a SID in its string form, into `sid`
// (TextSize bytes); "" when it cannot be told.
static void RunAccount(char* sid) {
    HANDLE token = NULL;
    DWORD user[64];  // a TOKEN_USER and its SID, aligned as it needs
    DWORD size = 0;
    char* text = NULL;
    sid[0] = '\0';
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    if (GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
        ConvertSidToStringSidA(((TOKEN_USER*)user)->User.Sid, &text)) {
        CopyText(sid, TextSize, text);
        LocalFree(text);
    }
    CloseHandle(token);
}

static const char LocalSystem[] = "S-1-5-18";

static int IsLocalSystem(void) {
    char sid[TextSize];
    RunAccount(sid);
    return strcmp(sid, LocalSystem) == 0;
}

// More rights than a user's own: whoever could change the script could not
// have run it so themselves.
static int RunIsPrivileged(void) { return IsElevated() || IsLocalSystem(); }

void ReadScriptRegistration(HKEY entry, HKEY root) {
    ScriptRegistration = ScriptUnvouched;
    // A per-user entry is its user's to change: its word holds only for a
    // run with no more rights than that user has.
    if (root == HKEY_CURRENT_USER && RunIsPrivileged()) return;
    const char* hash = ValueGet(entry, "RemovalScriptHash");
    if (hash != NULL) {
        // A text that does not fit matches no script.
        if (!CopyText(ScriptRegisteredHash, sizeof ScriptRegisteredHash, hash))
            ScriptRegisteredHash[0] = '\0';
        ScriptRegistration = ScriptHashed;
    } else if (ValueGet(entry, "NoRemovalScript") != NULL) {
        ScriptRegistration = ScriptNoneRegistered;
    }
}

// The accounts whose rights to change a file do not count: administrators,
// SYSTEM and TrustedInstaller may change anything anyway. CREATOR OWNER and
// CREATOR GROUP stand for whoever makes an item below and give nobody a
// right on the item itself; OWNER RIGHTS is the owner, judged on its own.
static const char* const TrustedAccounts[] = {
    "S-1-5-32-544",
    LocalSystem,
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
    "S-1-3-0",
    "S-1-3-1",
    "S-1-3-4",
    NULL,
};

static int IsTrusted(PSID sid, const char* user) {
    char* text = NULL;
    if (!ConvertSidToStringSidA(sid, &text)) return 0;
    int trusted = user[0] != '\0' && strcmp(text, user) == 0;
    for (const char* const* account = TrustedAccounts; *account != NULL && !trusted; account++)
        trusted = strcmp(text, *account) == 0;
    LocalFree(text);
    return trusted;
}

// What lets a file or folder be changed, or another be put in its place:
// writing or appending (for a folder, adding files and folders), deleting it
// or its entries, changing its rights or its owner, and the generic rights
// that hold these.
enum {
    RenameRights = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL,
    ChangeRights = RenameRights | FILE_WRITE_DATA | FILE_APPEND_DATA,
};

// 1 when the security descriptor that a Get...SecurityInfo call answered
// (`got`) lets an account other than the trusted ones and `user` have any
// of `rights`: by an ACE that allows them, or as the owner, who may always
// change the rights. A descriptor that cannot be read, and one without a
// list of rights (everyone may do anything), count as letting others.
static int OthersMay(DWORD got, PSID owner, PACL dacl, PSECURITY_DESCRIPTOR descriptor,
                     DWORD rights, const char* user) {
    if (got != ERROR_SUCCESS) return 1;
    int others = dacl == NULL || !IsTrusted(owner, user);
    for (DWORD i = 0; !others && i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE* ace;
        if (!GetAce(dacl, i, (LPVOID*)&ace)) {
            others = 1;
            break;
        }
        // A denial only takes rights away; an ACE that is only inherited
        // says nothing of the item itself. Every other kind allows (the
        // object kinds, which files do not use, hold no SID where this
        // looks: that reads as an untrusted account).
        BYTE type = ace->Header.AceType;
        if (type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
            type == ACCESS_DENIED_CALLBACK_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE ||
            (ace->Header.AceFlags & INHERIT_ONLY_ACE) || !(ace->Mask & rights))
            continue;
        others = !IsTrusted((PSID)&ace->SidStart, user);
    }
    LocalFree(descriptor);
    return others;
}

static int OthersMayChangeFolder(const char* folder, DWORD rights, const char* user) {
    PSID owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD got = GetNamedSecurityInfoA(folder, SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      &owner, NULL, &dacl, NULL, &descriptor);
    return OthersMay(got, owner, dacl, descriptor, rights, user);
}

// 1 when nobody but the trusted accounts and `user` may change the script
// `script` or put another in its place: change it, add to or empty the
// installation folder `dir`, or rename, delete or re-permission that folder
// or any folder above it. (To add a folder above is harmless: Windows lets
// every user make folders in "C:\".)
static int OnlyTrustedMayChange(HANDLE script, const char* dir, const char* user) {
    PSID owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD got = GetSecurityInfo(script, SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                NULL, &dacl, NULL, &descriptor);
    if (OthersMay(got, owner, dacl, descriptor, ChangeRights, user)) return 0;
    char folder[TextSize];
    if (!CopyText(folder, sizeof folder, dir)) return 0;
    size_t root = RootLength(folder), n = strlen(folder);
    DWORD rights = ChangeRights;
    for (;;) {
        while (n > root && IsSeparator(folder[n - 1])) n--;
        folder[n] = '\0';
        if (OthersMayChangeFolder(folder, rights, user)) return 0;
        if (n <= root) return 1;
        rights = RenameRights;
        while (n > root && !IsSeparator(folder[n - 1])) n--;
    }
}

int JudgeRemovalScript(HANDLE script, const char* dir, const char* hash) {
    if (ScriptRegistration == ScriptHashed)
        return hash[0] != '\0' && strcmp(hash, ScriptRegisteredHash) == 0 ? 0 : RefusedChanged;
    if (ScriptRegistration == ScriptNoneRegistered) return RefusedAbsent;
    // Whoever could change it could as well run it themselves.
    if (!RunIsPrivileged()) return 0;
    char user[TextSize];
    RunAccount(user);
    return OnlyTrustedMayChange(script, dir, user) ? 0 : RefusedWritable;
}

void GuardRedirection(void) {
    // SetProcessMitigationPolicy(ProcessRedirectionTrustPolicy, ...) with
    // PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY's EnforceRedirectionTrust;
    // older Windows has neither the procedure nor the policy, and goes on.
    typedef BOOL(WINAPI * SetPolicyProc)(int, void*, size_t);
    SetPolicyProc setPolicy =
        (SetPolicyProc)SystemProcedure("kernel32.dll", "SetProcessMitigationPolicy");
    DWORD enforce = 1;
    if (setPolicy != NULL) setPolicy(16, &enforce, sizeof enforce);
}
