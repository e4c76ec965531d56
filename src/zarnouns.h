// Shared state and procedures of the uninstall utility, listed by the folder
// that defines them.
#pragma once

#include "platform.h"

// Every text buffer of the program. Texts are in the process's ANSI code
// page, which the manifest makes UTF-8 (Windows 10 version 1903 and later),
// so a character takes up to three bytes where a Windows call counts one:
// what Windows gives within MAX_PATH characters is asked for in UTF-16 and
// converted into a buffer of this size, where it always fits.
enum { TextSize = 1024 };
// A SHA-256 in hexadecimal digits, as the entry records the removal script's.
enum { HashTextSize = 65 };

// ---- src/app: start-up, command table, message boxes, bounded text -------

extern char SelfPath[TextSize];  // full path of the running executable
extern char SelfDir[TextSize];   // its directory, ending in the separator
extern char SelfName[TextSize];  // its file name; SelfDir + SelfName == SelfPath
extern char MessageBuffer[TextSize];
extern int TestMode;             // set by a leading "-t"
extern int SilentMode;           // set by a leading "-s": no box, exit codes, the log
extern const char ProgramTitle[];

// The whole program: locate, test switch, dispatch. main() only calls it.
int AppMain(int argc, char** argv);
void LocateSelf(const char* program);

// 1 when the process runs with an administrator's full rights (elevated).
int IsElevated(void);
// A procedure of a system DLL that the process has loaded, looked up at run
// time because older Windows lacks it; none when it is not there. The caller
// casts it to the procedure's own type.
typedef void (*SystemProc)(void);
SystemProc SystemProcedure(const char* module, const char* name);
// A DLL of the system folder, loaded by its full path there; none when it
// cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);

// Exit codes of a silent run, as installers report them to deployment tools.
enum {
    ExitNotInstalled = 1605,
    ExitInUse = 1618,        // nothing changed; try again later
    ExitDeclined = 1602,     // elevation declined
    ExitBadCommand = 1639,
    ExitFailed = 1603,       // anything else that leaves the entry or a file in place
    ExitRestart = 3010,      // uninstalled; files in use go at the next restart
};
// Records the silent run's exit code; the first failure recorded stands.
void SetExitCode(int code);
// The process's exit code: `code` without -s, the recorded one with it. A
// silent run's log gets its last line and is closed, and the code is
// reported on standard error, where a silent starter reads its copy's.
int EndRun(int code);
// Trace lines go to standard output and, in a silent run, to the log too.
// The trace sites keep the C runtime's names (see the end of this file).
int Trace(const char* format, ...);
int TraceLine(const char* text);

// The boxes. In a silent run none is shown: the text goes to the log and
// the answer is Yes, OK or Cancel (for Retry/Cancel).
int AskUser(const char* text);   // Yes/No/Cancel: IDYES, IDNO, IDCANCEL or 0
int TellUser(const char* text);  // OK
int AskRetry(const char* text);  // Retry/Cancel: IDRETRY, IDCANCEL or 0
int AskTryContinue(const char* text);  // Cancel/Try Again/Continue: IDCONTINUE when silent
int ShowAbout(void);

// The texts of the boxes, in every language the program speaks (English,
// German, French, Spanish, Italian, Portuguese (Brazil), Russian, Polish,
// Czech, Turkish, Japanese, Korean, Chinese Simplified and Traditional):
// src/app/lang/*.txt, packed by the build. The Script texts go after a blank
// line at the end of the outcome box.
enum TextId {
    TextConfirm, TextSuccess, TextRestartNote, TextKeptNote, TextIncomplete, TextInUse,
    TextInUseRestart, TextTooDeep, TextNeedsAdministrator, TextAlreadyRunning, TextNotInstalled,
    TextNameEmpty, TextNameTooLong, TextNameCharacters, TextDisplayNameTooLong, TextNoPermission,
    TextCannotSetValue, TextCommandTooLong, TextCannotLocate, TextAbout, TextScriptChanged,
    TextScriptUnregistered, TextScriptWritable, TextCount
};
enum { LanguageEnglish, LanguageCount = 14 };
// The text in the user's display language (English in a silent run, whose
// log is read by tools and by those who support them).
const char* Text(int id);
// The language of the boxes for a Windows language identifier, as Windows
// falls back: a region to its language, Chinese by script, Portuguese of
// Portugal to Brazil's, any other to English.
int BoxLanguage(LANGID language);
// The text in that language; English where the language lacks it.
const char* LanguageText(int language, int id);

// Bounded text. Each writes at most `size` bytes, always terminates `dst`
// (when size > 0) and returns 1 when the whole text fitted, 0 when it was
// cut; a cut never leaves part of a UTF-8 character at the end.
int CopyText(char* dst, size_t size, const char* src);
int AppendText(char* dst, size_t size, const char* src);
int FormatText(char* dst, size_t size, const char* format, ...);
int IsSeparator(int c);                 // '\\' or '/', a character or a UTF-16 unit
int EndsInSeparator(const char* path);  // last character is '\\' or '/'
// dir, a separator unless dir is empty or already ends in one, then name.
int JoinPath(char* dst, size_t size, const char* dir, const char* name);

// A product name that can address its own Uninstall entry and stand in
// double quotes on a command line. Tells the user and returns 0 otherwise.
enum { MaxNameLength = 255 };  // the registry's limit for one key name, in UTF-16 units
int CheckProductName(const char* name);

// ---- src/registry: registry layer, tables, registration -----------------

extern char KeyPath[TextSize];
extern char ValueBuffer[TextSize];
extern HKEY CurrentRoot;
// The registry's answer to the latest open or create under HKEY_LOCAL_MACHINE
// (ERROR_ACCESS_DENIED when the key is there but this user may not change it).
extern LONG MachineResult;

// hktype: 0 HKLM then HKCU, 1 HKCU only, 2 HKLM only.
int KeyOpen(const char* prefix, const char* name, char* pathBuffer, HKEY* key, int hktype);
int KeyCreate(const char* prefix, const char* name, char* pathBuffer, HKEY* key, int hktype);
void KeyClose(HKEY* key);
int KeyDelete(const char* path);
char* ValueGet(HKEY key, const char* name);
int ValueSet(HKEY key, const char* name, const char* text);
int ValueSetWide(HKEY key, const char* name, const WCHAR* text);  // REG_SZ from UTF-16
int ValueSetNumber(HKEY key, const char* name, DWORD number);     // REG_DWORD
int ValueDelete(HKEY key, const char* name);

struct RegEntry {
    const char* keyPath;    // none ends a walk
    const char* valueName;  // none: delete the key (rollback only)
    const char* data;       // none: delete the value (rollback only)
};
extern const RegEntry RegisterEntries[];
extern const RegEntry UnregisterEntries[];

extern const char UninstallPrefix[];  // "Software\...\Uninstall\" (52 characters)

// Writes the rows from `rows` up to the first without a key path; 0 after
// telling the user of a failure.
int WriteProviderRows(const RegEntry* rows);
void Register(const char* name, const char* displayName);
// What Windows shows of the product besides its name, written into the open
// Uninstall entry `key`: version, publisher and icon of the plug-in in
// SelfDir, the installation's size, the date, NoModify and NoRepair. Those
// this run cannot give are deleted. 1 when every write succeeded.
int WriteEntryDetails(HKEY key);

// ---- src/uninstall: relaunch from the temporary directory, uninstall ----

// Checks the name and opens its Uninstall entry into KeyPath and CurrentRoot:
// 1. 0 after telling the user "'name' not installed!" (or of a bad name),
// or, while another uninstall of the entry runs, that it is already running
// (exit code 1618). -1, telling nothing, when the entry is under
// HKEY_LOCAL_MACHINE only and this process may not change it: it needs an
// administrator's rights. With `keep`, this process holds the entry's lock
// from here to its end; without, the lock is only looked at.
int OpenProductEntry(const char* name, HKEY* key, int keep);
// The entry's DisplayName (read into ValueBuffer), or `name` where it has none.
const char* ShownName(HKEY key, const char* name);
void TellNeedsAdministrator(const char* name);
void StartUninstall(const char* name);
// Copies the executable into a new folder of its own in the temporary
// directory and starts the copy there; non-zero when it was started. A
// silent run waits for the copy and takes its exit code.
int RunFromTemp(const char* arguments);
// Has Windows delete a file and then its folder at the next restart, where
// this user may (an administrator).
void DeleteAtRestart(const char* file, const char* folder);
// Renames a file within its folder to a new name that no installation uses
// and has Windows delete it under that name at the next restart, so that a
// reinstall before then keeps what it puts under the old name; the file
// keeps its name when either fails. Traces both; 1 when done.
int DeleteAsideAtRestart(const char* file);
// 1 for a name that this process gives the files it moves aside.
int IsMovedAside(const char* name);
// Has Windows remove the folder at the next restart, where it is empty by
// then (after the files scheduled before it); traced.
void RemoveFolderAtRestart(const char* folder);
void Uninstall(const char* name);
// After a silent copy has reported: deletes the file of the run that started
// it, and its folder, once that run has ended; at the next restart when it
// cannot.
void DeleteStarter(void);
// Applies rollback rows up to the first without a key path.
void ApplyRollback(const RegEntry* rows);
// Whom the uninstall trusts with its removal script (trust.cpp). The entry's
// word on the script, read by ReadScriptRegistration as far as it holds for
// this run:
enum {
    ScriptUnvouched,       // no word (an older registration), or one this run may not take
    ScriptHashed,          // ScriptRegisteredHash is the script's hash at registration
    ScriptNoneRegistered,  // there was no script at registration
};
extern int ScriptRegistration;
extern char ScriptRegisteredHash[HashTextSize];
void ReadScriptRegistration(HKEY entry, HKEY root);
// Why a script is not followed: the trace's reason and the outcome box's
// sentence. JudgeRemovalScript answers 0 (follow it) or 1 + the row of the
// reason; ScriptRefused keeps the answer of the script last not followed.
struct ScriptRefusal {
    const char* reason;  // the trace's, in English
    int sentence;        // the box's, a TextId
};
extern const ScriptRefusal ScriptRefusals[];
extern int ScriptRefused;
// The open removal script `script` of the installation folder `dir`, whose
// bytes have the hash `hash`.
int JudgeRemovalScript(HANDLE script, const char* dir, const char* hash);
// Turns on Redirection Guard where Windows has it (Windows 11, Windows 10
// 22H2): this process then follows no junction or link that a user without
// an administrator's rights made.
void GuardRedirection(void);
// 1 when removing the tree at `dir` would remove a drive or share root, the
// Windows or system folder, a special folder or a folder holding one.
int IsProtectedFolder(const char* dir);
// 1 when the tree at `dir` may be walked and removed: not protected, and
// not a link nor reached through one.
int IsRemovableTree(const char* dir);
// RemoveTree, except that a protected folder is left alone: -1 and a trace.
int RemoveTreeGuarded(const char* dir);
// After the installation folder `location` has gone: the folder that held it
// (the publisher's) goes too when it is empty, is not protected and lies
// directly in a Program Files folder (32-bit or native, Common Files, the
// user's own programs folder). With `atRestart`, where `location` is still
// there, holding files that go at the restart: such a folder that holds
// nothing else is removed at the restart, after them. Nothing in test mode.
void RemovePublisherFolder(const char* location, int atRestart);
// What makes a folder itself: the volume and the file index, as every
// handle to it reports them.
struct FolderId {
    DWORD volume, indexHigh, indexLow;
};
int SameId(const FolderId* a, const FolderId* b);
// The identity of the file or folder at the UTF-16 `path` (it may begin
// with "\\?\"); 0 when it cannot be opened.
int WideIdentity(const WCHAR* path, FolderId* id);
// The identity of the folder at `path`, however it is spelt; 0 when it
// cannot be opened.
int FolderIdentity(const char* path, FolderId* id);
// 1 when the folder at `path` exists and is the folder `dir` or lies
// anywhere inside it; its own identity goes into `id`.
int FolderWithin(const char* path, const FolderId* dir, FolderId* id);
// The full name of the folder `path` as the guard compares names, into
// `normal` (TextSize bytes): no "\\?\" prefix, "." and ".." resolved, one
// separator between names and none at the end. 0 for a root, or a path
// that has no such name.
int FullFolderName(const char* path, char* normal);
// How much of a full path is its root: "C:\", "\\server\share\", or "/"
// where the platform has one root.
size_t RootLength(const char* path);
// 1 when the first `n` UTF-16 units of `a` and `b` are one name to the
// file system, letter case aside.
int SameLetters(const WCHAR* a, const WCHAR* b, int n);
// The guard gathers the protected folders once per process; a process that
// changes them (a test moving a shell folder) has them gathered anew.
void ForgetProtectedFolders(void);

// ---- src/files: removal script, special folders, tree removal -----------

extern char FolderBuffer[TextSize];

struct SpecialFolder {
    int csidl;
    const char* name;  // none ends the table
};
extern const SpecialFolder SpecialFolders[];

// 0, -1, or -2 when there is no script to follow (none, or one not followed).
int RunRemovalScript(const char* dir);
int HasRemovalScript(const char* dir);  // 1 when dir holds a removal script file
// Opens the removal script at `path` for reading, so that nobody can write,
// rename or delete it while it is open; INVALID_HANDLE_VALUE when it cannot.
HANDLE OpenRemovalScript(const char* path);
// The SHA-256 of the rest of the open `file`, read from where it stands, as
// 64 lowercase hexadecimal digits into `hex` (HashTextSize bytes); 1 when
// done, else 0 and "".
int HashFile(HANDLE file, char* hex);
// The removal script in `dir` hashed into `hex`: 1; 0 when there is none;
// -1 when it is there but cannot be read.
int RemovalScriptHash(const char* dir, char* hex);
void TrimSpaces(char* text);
char* SpecialFolderPath(const char* name);
// The shell's folder `csidl` into `folder` (TextSize bytes); 0 when it has none.
int ShellFolderPath(int csidl, char* folder);
int RemoveTree(const char* dir);  // 0 when dir itself was removed, else -1
// 1 when the folder `dir` holds the entry `name` (letter case aside) and
// nothing else.
int FolderHoldsOnly(const char* dir, const char* name);

// The walk of the installation tree (walk.cpp), for paths up to Windows'
// limit of 32,767 UTF-16 units. It holds each folder it is in open, from
// the top one down, without delete sharing, lists it through that handle,
// and never enters a link. While a visitor runs, WalkWide holds the
// entry's path in the "\\?\" form for the wide functions, WalkText the same
// path as text for traces and boxes (the walk's own argument, then the names
// in UTF-8), WalkName the name in it, WalkEntry what the listing said.
// A folder's paths end in the separator, but at WalkLeave, where WalkWide
// names the folder without it.
enum { WalkPathSize = 32768, WalkTextSize = TextSize + 3 * WalkPathSize + 2 };
enum { MaxWalkDepth = 512 };  // folders below the top one
enum {
    WalkEnter,  // a folder, the top one first, held and before its entries: 0 passes over it
    WalkFile,
    WalkLink,   // a link (WalkOpen gives the link itself), or a folder made one since listed
    WalkDeep,   // a folder too deep, or a name too long, to walk: WalkText names its folder
    WalkLeave,  // a folder after its listing, WalkCountBelow its count; the top one's result is the walk's
};
typedef int (*WalkVisit)(int event);
extern WCHAR WalkWide[WalkPathSize];
extern char WalkText[WalkTextSize];
extern const char* WalkName;
extern const FILE_ID_BOTH_DIR_INFO* WalkEntry;
// A visitor may count in WalkCount (cleared at the start) and stop the
// whole walk with WalkStop; a stopped walk returns -1, as one whose top
// folder cannot be named or opened. `removes`: the walk holds its folders
// so that they can be deleted (WalkRemoveFolder).
extern int WalkCount, WalkCountBelow, WalkStop;
int WalkTree(const char* dir, WalkVisit visit, int removes);
// Opens the entry the visitor is at, never through a link, sharing all:
// `state` 0 when it is the file or folder the listing showed (the same
// file ID, no link), 1 when it is a link itself, which may only be deleted;
// -1 when it is neither (another file, or under Wine a link's target) or
// cannot be opened: then no handle.
HANDLE WalkOpen(DWORD access, int* state);
// Marks what the handle is open on for deletion at its close; 1 when done.
int WalkDelete(HANDLE item);
// At WalkLeave of a walk that removes: deletes the folder through the
// handle that held it; 0 when it is gone.
int WalkRemoveFolder(void);
// At WalkEnter: 1 when the folder's listing holds a working copy's marker,
// 0 when not; -1 outside WalkEnter, where whoever asks lists the folder.
extern int WalkMarked;
// Deletes the file, empty folder or link at `path` (a removal script's
// line), reached from the folder `base` (its section's) down one folder at
// a time, each held open while the next is opened. No folder on the way
// may be a link: then nothing is deleted, and the trace says "not
// following link: " and the link's path. The item itself, when a link, is
// deleted as the link, never through it.
void DeleteBelow(const char* base, const char* path);
// 1 when the name (n units) is a version-control system's own entry.
int IsMarker(const WCHAR* name, int n);
// The one place that says what a link is, asked by every walk, the guard and
// the removal script: any reparse point (Wine's links have the tag 0)
// except those that hold the item's own data, which are files and folders
// like any other. `tag` is the reparse tag, where the caller knows it.
int IsLink(DWORD attributes, DWORD tag);
// 1 when the listing of the folder above `path` names what it names a link:
// its own listing entry gives the reparse tag, and under Wine, whose handle
// on a link is its target, only the listing tells.
int ListedAsLink(const WCHAR* path);
// `text` as a full path in the "\\?\" form (a share's "\\?\UNC\..."),
// into `wide` (WalkPathSize units); its length, 0 when it has none.
int LongPath(const char* text, WCHAR* wide);

// Walks the tree at `dir` as RemoveTree does and finds the files that another
// process runs, has loaded or holds open without delete sharing (the running
// program's own file aside); each gets the trace "in use: %s\n". What holds
// them, one a line, goes into `holders` (TextSize bytes): the programs that
// Windows names, else the files' paths, at most ten, then "...". Returns how
// many files are in use, and in `unmovable` how many of them cannot even be
// renamed (held without delete sharing). When none is and `keep` is set,
// the files stay open for DeleteHeldFiles, so that nothing can take them in
// between. A tree that cannot be walked whole is refused before anything
// else: -1, after the trace "too deep to walk: %s\n", with that folder in
// `holders`.
int FindFilesInUse(const char* dir, char* holders, int keep, int* unmovable);
// The same walk, moving each file in use aside to be deleted at the next
// restart (DeleteAsideAtRestart), and each folder that then holds one after
// it, innermost first; returns how many files it moved.
int MoveFilesInUseAside(const char* dir);
// The files left in the tree at `dir`, other than those moved aside and `except`.
int CountFilesLeft(const char* dir, const char* except);
void DeleteHeldFiles(void);   // deletes the files kept open, through their handles
// Adds `line` to the list of lines `list` (TextSize bytes) unless it is
// there: at most ten, then "...". 0 once the list has ended.
int AddLine(char* list, int* lines, const char* line);
void ReleaseHeldFiles(void);  // closes them, deleting nothing

// Folders inside the installation that are not the plug-in's: version-control
// working copies, and the folders of other programs that an Uninstall entry
// names. Such a folder is kept whole by every walk.
//
// Reads the other Uninstall entries (HKLM in both registry views, HKCU),
// once per run, passing over those named `ownName`, and notes the folders
// they name that are `dir` or lie inside it.
void FindOtherPrograms(const char* ownName, const char* dir);
// How a walk asks about the folder it is about to enter:
enum {
    KeptDecide,   // the first walk: looks, records and traces "kept: "
    KeptConsult,  // the later walks: what the first walk recorded
    KeptQuiet     // looks, and neither records nor traces
};
// 1 when the folder at `dir` (a full path in UTF-16, perhaps "\\?\"-prefixed;
// `text`, the same path as the trace and the box show it) is kept.
int IsKeptFolder(const WCHAR* dir, const char* text, int how);
// The same for a path in the ANSI code page.
int IsKeptFolderA(const char* dir, int how);
// 0 when the first walk kept no folder; else the kept folders, one a line (at
// most ten, then "..."), in `list` (TextSize bytes).
int KeptFolders(char* list);

// Every trace line of the program passes through Trace.
#define printf Trace
#define puts TraceLine
