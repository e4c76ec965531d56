// Message boxes on the emulated machine. Every box is logged to
// <machine>/boxes.log as "type<TAB>caption<TAB>text" (\, newline, carriage
// return and tab escaped). The answer comes from the first line of
// <machine>/answers when there is one (the line is used up), else from the
// terminal when there is one; without either the box cannot be shown and the
// answer is 0. An in-process fuzz target may keep the log and the answers in
// memory instead (MachineBoxesInMemory).
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>
#include <shellapi.h>
#include <stdlib.h>
#include <windows.h>

#include <vector>

#include <fstream>
#include <sstream>
#include <string>

#include "machine.h"

namespace {

// The log and the answers of a process that keeps them in memory.
bool InMemory = false;
std::string MemoryLog, MemoryAnswers;

std::string Escape(const char* s) {
    std::string out;
    for (; s && *s; s++) {
        switch (*s) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out.push_back(*s);
        }
    }
    return out;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += (size_t)n;
    }
    return true;
}

void Log(const std::string& kind, const char* caption, const char* text) {
    std::string line = kind + "\t" + Escape(caption) + "\t" + Escape(text) + "\n";
    if (InMemory) {
        MemoryLog += line;
        return;
    }
    int fd = open(MachinePath("boxes.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return;
    flock(fd, LOCK_EX);
    WriteAll(fd, line);
    close(fd);
}

bool HasCancel(UINT type) {
    UINT buttons = type & 0xF;
    return buttons == MB_YESNOCANCEL || buttons == MB_OKCANCEL || buttons == MB_RETRYCANCEL ||
           buttons == MB_CANCELTRYCONTINUE;
}

int AnswerOf(const std::string& word, UINT type) {
    if (word == "yes") return IDYES;
    if (word == "no") return IDNO;
    if (word == "cancel") return IDCANCEL;
    if (word == "ok") return IDOK;
    if (word == "retry") return IDRETRY;
    if (word == "tryagain") return IDTRYAGAIN;
    if (word == "continue") return IDCONTINUE;
    if (word == "close") return HasCancel(type) ? IDCANCEL : IDOK;
    return 0;
}

// Takes the first line of the scripted answers; false when there is none.
bool TakeLine(std::string& word) {
    if (InMemory) {
        if (MemoryAnswers.empty()) return false;
        size_t nl = MemoryAnswers.find('\n');
        word = MemoryAnswers.substr(0, nl);
        if (!word.empty() && word.back() == '\r') word.pop_back();
        MemoryAnswers.erase(0, nl == std::string::npos ? nl : nl + 1);
        return true;
    }
    std::string path = MachinePath("answers");
    if (access(path.c_str(), F_OK) != 0) return false;
    int lock = open(MachinePath("answers.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock >= 0) flock(lock, LOCK_EX);
    bool found = false;
    std::ifstream in(path, std::ios::binary);
    if (in) {
        std::stringstream all;
        all << in.rdbuf();
        in.close();
        std::string text = all.str();
        if (!text.empty()) {
            size_t nl = text.find('\n');
            word = text.substr(0, nl);
            if (!word.empty() && word.back() == '\r') word.pop_back();
            std::string rest = nl == std::string::npos ? std::string() : text.substr(nl + 1);
            std::string tmp = path + ".tmp." + std::to_string((long)getpid());
            int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd >= 0) {
                bool ok = WriteAll(fd, rest) && fsync(fd) == 0;
                close(fd);
                if (ok && rename(tmp.c_str(), path.c_str()) == 0)
                    found = true;
                else
                    unlink(tmp.c_str());
            }
        }
    }
    if (lock >= 0) close(lock);
    return found;
}

// Takes the first scripted answer; false when there is none. A line "free"
// is no answer: the files in use are let go (the user closed the program
// that held them) before the next line is taken. Nor is "act": the test
// that started this process group acts while the box waits, until it
// removes the file "act.PGID" (at most 30 seconds).
bool TakeScripted(std::string& word) {
    while (TakeLine(word)) {
        if (word == "act" && !InMemory) {
            std::string acting = MachinePath("act." + std::to_string((long)getpgrp()));
            close(open(acting.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
            for (int i = 0; i < 3000 && access(acting.c_str(), F_OK) == 0; i++) usleep(10000);
            continue;
        }
        if (word != "free") return true;
        unlink(MachinePath("inuse").c_str());
    }
    return false;
}

int AskTerminal(const char* text, const char* caption, UINT type) {
    UINT buttons = type & 0xF;
    const char* choices = buttons == MB_YESNOCANCEL   ? "[y]es [n]o [c]ancel"
                          : buttons == MB_YESNO       ? "[y]es [n]o"
                          : buttons == MB_OKCANCEL    ? "[o]k [c]ancel"
                          : buttons == MB_RETRYCANCEL ? "[r]etry [c]ancel"
                          : buttons == MB_CANCELTRYCONTINUE ? "[c]ancel [t]ry again c[o]ntinue"
                                                      : "[o]k";
    for (;;) {
        fprintf(stderr, "\n== %s ==\n%s\n%s? ", caption ? caption : "", text ? text : "", choices);
        fflush(stderr);
        char line[64];
        if (!fgets(line, sizeof line, stdin)) return HasCancel(type) ? IDCANCEL : IDOK;
        char c = line[0];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        bool yesNo = buttons == MB_YESNO || buttons == MB_YESNOCANCEL;
        if (yesNo && c == 'y') return IDYES;
        if (yesNo && c == 'n') return IDNO;
        if (HasCancel(type) && c == 'c') return IDCANCEL;
        if (buttons == MB_RETRYCANCEL && c == 'r') return IDRETRY;
        if (buttons == MB_CANCELTRYCONTINUE) {
            if (c == 't') return IDTRYAGAIN;
            if (c == 'o') return IDCONTINUE;
            continue;
        }
        if (!yesNo && buttons != MB_RETRYCANCEL && c == 'o') return IDOK;
    }
}

}  // namespace

void MachineBoxesInMemory(const std::string& answers) {
    InMemory = true;
    MemoryLog.clear();
    MemoryAnswers = answers;
}

std::string MachineBoxesLog() { return InMemory ? MemoryLog : std::string(); }

extern "C" int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    Log(std::to_string(type), caption, text);
    MachineForgetHolders();
    std::string word;
    if (TakeScripted(word)) return AnswerOf(word, type);
    if (isatty(0)) return AskTerminal(text, caption, type);
    return 0;
}

// The shell's start of a program. With the verb "runas" the user is asked
// first, as the elevation prompt asks: a scripted answer, else the terminal.
// Consent starts the program as administrator (ZARNOUNS_ELEVATED in its
// environment, so that the machine's "nonadmin" does not apply to it).
extern "C" BOOL ShellExecuteExA(LPSHELLEXECUTEINFOA info) {
    if (!info || !info->lpFile) {
        errno = EINVAL;
        return FALSE;
    }
    const char* parameters = info->lpParameters ? info->lpParameters : "";
    bool elevate = info->lpVerb && strcmp(info->lpVerb, "runas") == 0;
    if (elevate) {
        Log("runas", info->lpFile, parameters);
        std::string word;
        bool yes = TakeScripted(word) ? word == "yes"
                   : isatty(0)        ? AskTerminal("Do you want to allow this app to make changes to your device?",
                                                    "User Account Control", MB_YESNO) == IDYES
                                      : false;
        if (!yes) {
            errno = ECANCELED;
            return FALSE;
        }
    }
    std::string line = std::string("\"") + info->lpFile + "\"";
    if (*parameters) line += std::string(" ") + parameters;
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');
    const char* was = getenv("ZARNOUNS_ELEVATED");
    std::string previous = was ? was : "";
    if (elevate) setenv("ZARNOUNS_ELEVATED", "1", 1);
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    GetStartupInfoA(&startup);
    BOOL started = CreateProcessA(NULL, commandLine.data(), NULL, NULL, FALSE, 0, NULL,
                                  info->lpDirectory, &startup, &process);
    int e = errno;
    if (elevate && !was) unsetenv("ZARNOUNS_ELEVATED");
    if (elevate && was) setenv("ZARNOUNS_ELEVATED", previous.c_str(), 1);
    errno = e;
    info->hInstApp = (HINSTANCE)(uintptr_t)(started ? 42 : 2);
    if (info->fMask & SEE_MASK_NOCLOSEPROCESS) info->hProcess = started ? process.hProcess : NULL;
    return started;
}
