// Test support shared by both platforms: a sandbox per test, running the
// built program as a process with its message boxes answered, and registry
// helpers that check type, byte count and bytes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zarnouns.h"

namespace zt {

struct Box {
    std::string caption;
    std::string text;
    std::string buttons;  // "OK", "Yes No Cancel", "Retry Cancel" or "Cancel Try Again Continue"
    bool icon = false;
};

struct Result {
    int exitCode = -1;
    bool timedOut = false;
    std::string out;  // standard output of the process (and of what it started)
    std::vector<Box> boxes;
};

// Free answers no box: before the next box is answered, the files held with
// HoldFile are let go, as when the user closes the program that held them.
// Act answers none either: before the next box is answered, RunApp's `act`
// runs, while the box waits.
enum Answer { Yes, No, Cancel, Ok, Close, Fail, Retry, Free, TryAgain, Continue, Act };

// Makes another program hold the file at `path` (a full path), as a running
// IDE holds the plug-in: a file named *.dll is made a real DLL and loaded,
// any other file is kept open without delete sharing. `program` is what the
// platform's Restart Manager calls it, where it names one.
void HoldFile(const std::string& path, const std::string& program);
void FreeHeldFiles();
// Makes `link` a symbolic link to `target` (full paths) as another user of
// the machine would: under Wine from the Unix side (tests/wine/run-suite
// does it), as Wine's CreateSymbolicLinkW makes none. False when none came.
bool MakeHostLink(const std::string& link, const std::string& target);
// What a restart does: the deletions scheduled for it are carried out.
void Restart();
// Whether the Restart Manager names the programs that hold files (Wine's
// answers success and names none).
bool RestartManagerNamesPrograms();

// The caption of the stand-in's elevation prompt, which Result::boxes holds
// with the text "\"program\" parameters" and the buttons "Yes No".
const char ElevationPrompt[] = "User Account Control";

// Puts a program at `path` that cannot be overwritten until it is removed
// again and that, when started, appends its command line to "planted.log"
// beside itself.
void PlantProgram(const std::string& path);
void RemovePlantedProgram(const std::string& path);

// The program under test, as built.
std::string AppPath();
// The deployment tool (tests/tools/deploy.cpp), as built.
std::string DeployPath();
// The program's file name ("zarnouns.exe" or "zarnouns").
std::string AppFileName();
// Starts `exe` with `args`, answers its boxes (and those of the processes it
// starts) in order, waits for all of them with a hard timeout. `argv0`
// replaces the program name on the command line when given. `act` runs
// at each Act among the answers, while the box waits; a run it makes
// answers only its own boxes.
Result RunApp(const std::string& exe, const std::vector<std::string>& args,
           const std::vector<Answer>& answers = {}, const std::string& cwd = "",
           const char* argv0 = nullptr, const std::function<void()>& act = nullptr);
// A Windows exit code as this platform reports it (the low 8 bits on POSIX).
int PlatformExit(int windowsCode);
// Wine counts a NUL that follows a REG_SZ's bytes; the stand-in stores bytes exactly.
bool RegistryAddsNul();
// Whether the platform can refuse HKLM rights (the stand-in's non-admin switch).
bool CanRefuseMachineRights();
void SetNonAdmin(bool on);
// The stand-in's switch to a process that runs as SYSTEM (nothing on Windows).
void SetLocalSystem(bool on);
// Makes `language` the display language of the programs the test starts,
// where the platform can (the stand-in's machine); under Wine each process
// takes it from its locale, which tests/wine/languages sets per run.
bool SetDisplayLanguage(LANGID language);
// Whether the special folders come from a real Windows shell (under Wine).
bool RealShell();
// Under Wine, points the current user's shell folder `value` (a value of
// User Shell Folders, such as "Local AppData") at `path` while it lives. The
// prefix outlives the run: the folder is put back however the test ends.
// The stand-in's folders are the test's own already: nothing is moved.
class MovedShellFolder {
  public:
    MovedShellFolder(const std::string& value, const std::string& path);
    ~MovedShellFolder();

  private:
    std::string value_, bytes_;
    DWORD type_ = 0;
    bool moved_ = false;
};
// A file built beside the suite (a test plug-in), on Windows.
std::string BuiltFile(const std::string& name);
// Makes the platform's per-test state fresh (the stand-in's machine directory).
void FreshMachine(const std::string& sandbox);
// Puts back the platform state that FreshMachine replaced, so that tests that
// run later in the same process see the machine they set up.
void RestoreMachine();

// Registry helpers (through the platform's registry API).
bool ReadValue(HKEY root, const std::string& key, const std::string& name, DWORD* type,
               std::string* bytes);
bool KeyExists(HKEY root, const std::string& key);
void DeleteKeyTree(HKEY root, const std::string& key);
std::vector<std::string> ValueNames(HKEY root, const std::string& key);
void WriteValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
                const std::string& bytes);

// A string value as the program writes it: REG_SZ holding exactly `text`
// (with the NUL the platform adds, where it adds one).
void ExpectString(HKEY root, const std::string& key, const std::string& name,
                  const std::string& text);

// Each test gets a sandbox directory of its own and a unique product name;
// the product's Uninstall entries are removed again at the end.
class Sandboxed : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::string Path(const std::string& rel) const;  // inside the sandbox
    std::string MakeDir(const std::string& rel) const;
    void WriteFile(const std::string& rel, const std::string& bytes) const;
    bool Exists(const std::string& rel) const;
    // Copies the program into `rel` (a directory, created) and returns its path.
    std::string Install(const std::string& rel) const;
    std::string EntryKey(const std::string& name) const { return UninstallPrefix + name; }
    std::string sandbox;  // ends without a separator
    std::string product;  // unique per test
    // Set before SetUp: the sandbox lies in a folder that every user may
    // change (the stand-in's: the sandbox itself; under Wine, the folder
    // that run-suite made with the Unix mode 0777, ZARNO_OPEN_SANDBOX).
    bool openToAll = false;
};

// A sandbox with the program installed in its folder "Tools".
class Installed : public Sandboxed {
  protected:
    void SetUp() override;
    std::string exe;  // the installed program
    std::string dir;  // its folder, ending in the separator
};

// One chain of folders named `name` below `dir` (ending in the separator),
// with a file of `bytes` at each of `depths`, the length of its whole path in
// UTF-16 units (past MAX_PATH where asked); the files' paths, in order.
std::vector<std::string> MakeDeepFiles(const std::string& dir, const std::string& name,
                                       const std::vector<size_t>& depths, const std::string& bytes);

// The lines of a trace in sorted order, for walks whose sibling order is the
// platform's; every line must be terminated.
std::vector<std::string> SortedLines(const std::string& text);

// The boxes shown, in order: each {text, buttons}, with the program's caption and no icon.
void ExpectBoxes(const Result& r, const std::vector<std::pair<std::string, std::string>>& boxes);

}  // namespace zt
