// The emulated machine: a directory that holds the stand-in's registry,
// message-box log and scripted answers, temporary folder and the "c" drive
// with the special folders. It is $ZARNOUNS_MACHINE when set (read on every
// call), else ${XDG_DATA_HOME:-$HOME/.local/share}/zarnouns/machine.
#pragma once
#include <stdint.h>

#include <string>

// The machine directory, created when missing (looked for once per name);
// no trailing '/'.
std::string MachineDir();
// A path inside the machine directory.
std::string MachinePath(const std::string& rel);
// Bytes in double quotes, with \\, \" and \xHH for bytes below 0x20 or from
// 0x7f up: as the registry file holds a name or data.
std::string MachineQuoted(const std::string& bytes);
// From now on this process keeps the registry in its memory, empty at first,
// instead of in <machine>/registry.txt, which it neither reads nor writes: for
// the in-process fuzz targets, which set up thousands of machines a second
// and share them with no other process. Called again, it empties it.
void MachineRegistryInMemory();
// The registry as <machine>/registry.txt holds it after a change.
std::string MachineRegistryText();
// In the same way, from now on this process logs its message boxes in memory,
// the log empty at first, and takes their answers from `answers` (lines as
// <machine>/answers holds them) instead of from the files.
void MachineBoxesInMemory(const std::string& answers);
// The boxes logged in memory, as <machine>/boxes.log would hold them.
std::string MachineBoxesLog();
// Copies text and its NUL into `buffer` when it fits, returning its length;
// otherwise returns the size needed, NUL included: the Windows convention.
uint32_t MachineGiveString(const std::string& text, uint32_t size, char* buffer);
// True when the machine is switched to a user without administrator rights
// (the file <machine>/nonadmin exists) and this process was not started
// through the elevation prompt (ZARNOUNS_ELEVATED in its environment).
bool MachineIsNonAdmin();
// The folder a special-folder number stands for in the machine, or empty for
// a number the stand-in does not know. The folder need not exist.
std::string StandInFolderPath(int csidl);
// The known folder with this identifier, as SHGetKnownFolderPath gives it;
// empty for one the stand-in does not know. The folder need not exist.
struct _GUID;
std::string StandInKnownFolderPath(const struct _GUID* id);
// mkdir -p; true when the directory exists afterwards.
bool MachineMakeDirs(const std::string& path);
// The program that holds the file at `path` (a full path, as the stand-in's
// file calls take it) according to <machine>/inuse, whose lines are "full
// path<TAB>program", with "<TAB>loaded" after a DLL that the program has
// loaded; empty when no program holds it.
std::string MachineHolder(const std::string& path);
// Whether the holder has the file loaded: it may then be renamed, and is
// still held under its new name (MachineMoveHeld).
bool MachineLoaded(const std::string& path);
void MachineMoveHeld(const std::string& from, const std::string& to);
// Makes the next MachineHolder read the list again.
void MachineForgetHolders();
// What the end of this process does to the mutexes it has open: each is let
// go of and closed. For the in-process fuzz targets, each of whose runs
// stands for a process of its own.
void MachineEndProcess();
// Procedures that GetProcAddress gives: kernel32's SetFileInformationByHandle
// and GetFileInformationByHandleEx,
// and those of the Restart Manager module (none for another module).
#include <windows.h>
extern "C" BOOL StandInSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                                  LPVOID data, DWORD size);
extern "C" BOOL StandInGetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                                    LPVOID data, DWORD size);
extern "C" FARPROC StandInRestartManagerProcedure(HMODULE module, LPCSTR name);
// GetTokenInformation's TokenUser: the machine's account.
BOOL StandInTokenUser(LPVOID data, DWORD size, LPDWORD needed);
// The descriptor of a file opened by CreateFileA, or -1 for any other handle.
extern "C" int StandInFileDescriptor(HANDLE handle);
// Kernel32's SetProcessMitigationPolicy: each policy asked for is added to
// <machine>/mitigations as a line "POLICY FLAGS" (numbers), and granted.
extern "C" BOOL StandInSetProcessMitigationPolicy(int policy, void* data, size_t size);
