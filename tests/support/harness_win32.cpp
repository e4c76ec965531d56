// Test support on Windows (under Wine): the program runs as a real process;
// a helper thread finds each of its message boxes by caption, records its
// text, buttons and icon, and presses the scripted button.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "boxes_win32.h"
#include "harness.h"

namespace fs = std::filesystem;

namespace zt {

// A file beside the suite's own executable, where run-suite puts the program
// and the test tools.
static fs::path Beside(const char* name) {
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    return fs::path(self).parent_path() / name;
}

// Starts the command line `line`; its process handle, or NULL after a failure.
static HANDLE Start(std::string line) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        ADD_FAILURE() << "cannot start " << line << ": error " << GetLastError();
        return NULL;
    }
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

std::string AppPath() { return Beside("zarnouns.exe").string(); }
std::string DeployPath() { return Beside("deploy.exe").string(); }
std::string BuiltFile(const std::string& name) { return Beside(name.c_str()).string(); }
static HANDLE Planted;

void PlantProgram(const std::string& path) {
    fs::copy_file(Beside("plant.exe"), path, fs::copy_options::overwrite_existing);
    // Running, its file is in use and cannot be overwritten.
    Planted = Start("\"" + path + "\" --hold");
}

void RemovePlantedProgram(const std::string& path) {
    fs::path stop = fs::path(path).parent_path() / "planted.stop";
    std::ofstream(stop) << "stop";
    if (Planted != NULL && WaitForSingleObject(Planted, 10000) == WAIT_TIMEOUT)
        TerminateProcess(Planted, 1);
    if (Planted != NULL) {
        WaitForSingleObject(Planted, 5000);
        CloseHandle(Planted);
    }
    Planted = NULL;
    std::error_code ec;
    fs::remove(path, ec);
    fs::remove(stop, ec);
}

// The programs that hold files for the test, by holder.exe; each is ended
// by FreeHeldFiles.
static std::vector<HANDLE> Holders;

void HoldFile(const std::string& path, const std::string&) {
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".dll") == 0)
        ASSERT_TRUE(CopyFileA(Beside("held.dll").string().c_str(), path.c_str(), FALSE)) << path;
    HANDLE holder = Start("\"" + Beside("holder.exe").string() + "\" \"" + path + "\"");
    if (holder == NULL) return;
    Holders.push_back(holder);
    // Held once an open for writing and deletion is refused as it is for
    // the program under test.
    // Looked at by the long form, as the program under test looks.
    std::wstring wide(path.size() + 5, L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, ("\\\\?\\" + path).c_str(), -1, &wide[0],
                                    (int)wide.size()));
    for (int i = 0; i < 500; i++) {
        HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, 0, NULL);
        if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) return;
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        Sleep(20);
    }
    ADD_FAILURE() << "holder.exe does not hold " << path;
}

void FreeHeldFiles() {
    for (HANDLE h : Holders) {
        TerminateProcess(h, 0);
        WaitForSingleObject(h, 10000);
        CloseHandle(h);
    }
    Holders.clear();
}

// Wine's wineboot carries out, as Windows does when it starts, what was
// scheduled for the restart.
void Restart() {
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    HANDLE boot = Start("\"" + std::string(system) + "\\wineboot.exe\" -r");
    if (boot != NULL && WaitForSingleObject(boot, 60000) != WAIT_OBJECT_0) ADD_FAILURE() << "wineboot -r";
    if (boot != NULL) CloseHandle(boot);
}

bool RestartManagerNamesPrograms() { return false; }

int PlatformExit(int windowsCode) { return windowsCode; }
bool RealShell() { return true; }

// The request goes to a file in the sandboxes' folder, which run-suite
// watches from the Unix side; it removes the file once the link is made.
bool MakeHostLink(const std::string& link, const std::string& target) {
    const char* sandboxes = getenv("ZARNO_SANDBOX");
    if (sandboxes == nullptr) return false;
    std::string request = std::string(sandboxes) + "\\link-request";
    std::ofstream(fs::u8path(request + ".new"), std::ios::binary) << link << "\t" << target << "\n";
    if (!MoveFileExA((request + ".new").c_str(), request.c_str(), 0)) return false;
    for (int i = 0; i < 100 && GetFileAttributesA(request.c_str()) != INVALID_FILE_ATTRIBUTES; i++)
        Sleep(50);
    DWORD attributes = GetFileAttributesA(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES;
}
bool RegistryAddsNul() { return true; }
bool CanRefuseMachineRights() { return false; }
bool SetDisplayLanguage(LANGID) { return false; }  // Wine does not enforce registry rights
void SetNonAdmin(bool) {}
void SetLocalSystem(bool) {}
void FreshMachine(const std::string&) {}
void RestoreMachine() {}

static std::string Quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string q = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            slashes++;
            continue;
        }
        q.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        q.push_back(c);
    }
    q.append(slashes * 2, '\\');
    return q + "\"";
}

Result RunApp(const std::string& exe, const std::vector<std::string>& args,
           const std::vector<Answer>& answers, const std::string& cwd, const char* argv0,
           const std::function<void()>& act) {
    Result r;
    // Boxes shown already are another run's.
    std::set<HWND> seen;
    for (HWND box; (box = FindNewBox(seen)) != NULL;) seen.insert(box);
    SECURITY_ATTRIBUTES sa{sizeof sa, NULL, TRUE};
    HANDLE readEnd, writeEnd;
    CreatePipe(&readEnd, &writeEnd, &sa, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                             OPEN_EXISTING, 0, NULL);
    std::string line = Quote(argv0 ? argv0 : exe);
    for (const auto& a : args) line += " " + Quote(a);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    std::vector<char> cmd(line.begin(), line.end());
    cmd.push_back('\0');
    // Wine, on a loaded machine, has once failed to start a program that had
    // just run from the same place: a start is tried thrice, each failure said.
    BOOL started = FALSE;
    DWORD why = 0;
    for (int attempt = 0; attempt < 3 && !started; attempt++) {
        if (attempt > 0) {
            fprintf(stderr, "start of %s failed (error %lu); trying again\n", line.c_str(),
                    (unsigned long)why);
            Sleep(1000);
        }
        started = CreateProcessA(argv0 ? exe.c_str() : NULL, cmd.data(), NULL, NULL, TRUE, 0, NULL,
                                 cwd.empty() ? NULL : cwd.c_str(), &si, &pi);
        why = GetLastError();
    }
    CloseHandle(writeEnd);
    CloseHandle(nul);
    if (!started) {
        CloseHandle(readEnd);
        ADD_FAILURE() << "cannot start " << line << ": error " << why;
        return r;
    }
    DWORD deadline = GetTickCount() + 30000;
    std::thread reader([&] {
        char buf[4096];
        DWORD n;
        while (ReadFile(readEnd, buf, sizeof buf, &n, NULL) && n > 0) r.out.append(buf, n);
    });
    std::atomic<bool> stop{false};
    std::mutex owners_m;
    std::set<DWORD> owners;
    size_t used = 0;
    std::thread answerer([&] {
        while (!stop) {
            HWND box = FindNewBox(seen);
            if (box == NULL) {
                Sleep(50);
                continue;
            }
            seen.insert(box);
            DWORD owner = 0;
            GetWindowThreadProcessId(box, &owner);
            {
                std::lock_guard<std::mutex> g(owners_m);
                owners.insert(owner);
            }
            Sleep(200);  // as a person would, and so the box is fully built
            r.boxes.push_back(ReadBox(box));
            // A box of the started copy is answered only once the first
            // process has ended, so that it no longer holds its executable.
            if (owner != pi.dwProcessId) WaitForSingleObject(pi.hProcess, 10000);
            for (; used < answers.size() && (answers[used] == Free || answers[used] == Act); used++)
                answers[used] == Free ? FreeHeldFiles() : act();
            PressAnswer(box, used < answers.size() ? answers[used] : Close);
            used++;
        }
    });
    auto left = [&] {
        DWORD now = GetTickCount();
        return now >= deadline ? 0 : deadline - now;
    };
    if (WaitForSingleObject(pi.hProcess, left()) == WAIT_TIMEOUT) {
        r.timedOut = true;
        TerminateProcess(pi.hProcess, 99);
    }
    // Boxes still to come from a started copy, then the end of their owners.
    while (used < answers.size() && left() > 0) Sleep(50);
    if (used < answers.size()) r.timedOut = true;
    std::set<DWORD> snapshot;
    {
        std::lock_guard<std::mutex> g(owners_m);
        snapshot = owners;
    }
    for (DWORD pid : snapshot) {
        if (pid == pi.dwProcessId) continue;
        HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
        if (h == NULL) continue;
        if (WaitForSingleObject(h, left()) == WAIT_TIMEOUT) {
            r.timedOut = true;
            TerminateProcess(h, 99);
        }
        CloseHandle(h);
    }
    stop = true;
    answerer.join();
    reader.join();
    CloseHandle(readEnd);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    r.exitCode = (int)code;
    // The C runtime's text mode ends each traced line with CR LF.
    std::string lf;
    for (size_t i = 0; i < r.out.size(); i++)
        if (!(r.out[i] == '\r' && i + 1 < r.out.size() && r.out[i + 1] == '\n')) lf.push_back(r.out[i]);
    r.out = lf;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return r;
}

}  // namespace zt
