// The platform-neutral half of the test support.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "harness.h"

namespace fs = std::filesystem;

namespace zt {

static std::atomic<int> counter{0};

void Sandboxed::SetUp() {
    const char* base = getenv(openToAll && RealShell() ? "ZARNO_OPEN_SANDBOX" : "ZARNO_SANDBOX");
    fs::path root = base != nullptr && *base ? fs::path(base) : fs::temp_directory_path();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string id = std::to_string(getpid()) + "-" + std::to_string(counter++);
    fs::path dir = root / ("zt-" + id);
    fs::remove_all(dir);
    fs::create_directories(dir);
    if (openToAll && !RealShell()) fs::permissions(dir, fs::perms::all);
    sandbox = dir.string();
    product = std::string("zt-") + info->name() + "-" + id;
    FreshMachine(sandbox);
    ForgetProtectedFolders();
}

void Sandboxed::TearDown() {
    FreeHeldFiles();
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) DeleteKeyTree(root, EntryKey(product));
    std::error_code ec;
    if (!HasFailure()) fs::remove_all(sandbox, ec);
    RestoreMachine();
    ForgetProtectedFolders();
}

std::string Sandboxed::Path(const std::string& rel) const {
    std::string p = sandbox + PATH_SEP_TEXT + rel;
    for (char& c : p)
        if (c == '/' || c == '\\') c = PATH_SEP;
    return p;
}

// Paths are UTF-8, as the program's are: the Windows C++ library would read
// a plain string in another code page.
std::string Sandboxed::MakeDir(const std::string& rel) const {
    fs::create_directories(fs::u8path(Path(rel)));
    return Path(rel) + PATH_SEP_TEXT;
}

void Sandboxed::WriteFile(const std::string& rel, const std::string& bytes) const {
    fs::path p = fs::u8path(Path(rel));
    fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary);
    f << bytes;
}

bool Sandboxed::Exists(const std::string& rel) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(fs::u8path(Path(rel)), ec));
}

std::string Sandboxed::Install(const std::string& rel) const {
    std::string dir = MakeDir(rel);
    std::string exe = dir + AppFileName();
    fs::copy_file(AppPath(), fs::u8path(exe), fs::copy_options::overwrite_existing);
    return exe;
}

void ExpectString(HKEY root, const std::string& key, const std::string& name,
                  const std::string& text) {
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(ReadValue(root, key, name, &type, &bytes)) << key << " " << name;
    EXPECT_EQ(type, (DWORD)REG_SZ) << name;
    std::string expected = text;
    if (RegistryAddsNul() && !text.empty()) expected.push_back('\0');
    EXPECT_EQ(bytes.size(), expected.size()) << name;
    EXPECT_EQ(bytes, expected) << name;
}

static const char ShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

MovedShellFolder::MovedShellFolder(const std::string& value, const std::string& path)
    : value_(value) {
    if (!RealShell()) return;
    moved_ = ReadValue(HKEY_CURRENT_USER, ShellFolders, value, &type_, &bytes_);
    EXPECT_TRUE(moved_) << value;
    if (moved_) WriteValue(HKEY_CURRENT_USER, ShellFolders, value, REG_SZ, path);
}

MovedShellFolder::~MovedShellFolder() {
    if (moved_) WriteValue(HKEY_CURRENT_USER, ShellFolders, value_, type_, bytes_);
}

void Installed::SetUp() {
    Sandboxed::SetUp();
    exe = Install("Tools");
    dir = Path("Tools") + PATH_SEP;
}

void ExpectBoxes(const Result& r, const std::vector<std::pair<std::string, std::string>>& boxes) {
    ASSERT_EQ(r.boxes.size(), boxes.size()) << r.out;
    for (size_t i = 0; i < boxes.size(); i++) {
        EXPECT_EQ(r.boxes[i].caption, "zarno's Uninstall Utility v0.3");
        EXPECT_EQ(r.boxes[i].text, boxes[i].first);
        EXPECT_EQ(r.boxes[i].buttons, boxes[i].second);
        EXPECT_FALSE(r.boxes[i].icon);
    }
}

std::string AppFileName() { return fs::path(AppPath()).filename().string(); }

}  // namespace zt

namespace zt {

bool ReadValue(HKEY root, const std::string& key, const std::string& name, DWORD* type,
               std::string* bytes) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    DWORD count = 0;
    LONG rc = RegQueryValueExA(k, name.c_str(), NULL, type, NULL, &count);
    if (rc == ERROR_SUCCESS) {
        // Filled with a marker first, so that a short write shows.
        std::string data(count + 1, '\x5a');
        rc = RegQueryValueExA(k, name.c_str(), NULL, type, (LPBYTE)&data[0], &count);
        data.resize(count);
        *bytes = data;
    }
    RegCloseKey(k);
    return rc == ERROR_SUCCESS;
}

bool KeyExists(HKEY root, const std::string& key) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

void DeleteKeyTree(HKEY root, const std::string& key) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return;
    std::vector<std::string> subkeys;
    char name[512];
    for (DWORD i = 0;; i++) {
        DWORD n = sizeof name;
        if (RegEnumKeyExA(k, i, name, &n, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
        subkeys.push_back(name);
    }
    RegCloseKey(k);
    for (const auto& s : subkeys) DeleteKeyTree(root, key + "\\" + s);
    RegDeleteKeyA(root, key.c_str());
}

std::vector<std::string> ValueNames(HKEY root, const std::string& key) {
    std::vector<std::string> names;
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return names;
    char name[16384];
    for (DWORD i = 0;; i++) {
        DWORD n = sizeof name;
        if (RegEnumValueA(k, i, name, &n, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    RegCloseKey(k);
    return names;
}

void WriteValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
                const std::string& bytes) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &k, NULL),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(k, name.c_str(), 0, type, (const BYTE*)bytes.data(),
                             (DWORD)bytes.size()),
              ERROR_SUCCESS);
    RegCloseKey(k);
}

std::vector<std::string> SortedLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "unterminated trace line";
    std::sort(lines.begin(), lines.end());
    return lines;
}

static size_t Utf16Length(const std::string& text) {
    return (size_t)std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
}

std::vector<std::string> MakeDeepFiles(const std::string& dir, const std::string& name,
                                       const std::vector<size_t>& depths, const std::string& bytes) {
    std::vector<std::string> files;
    std::string folder = dir;
    for (size_t depth : depths) {
        while (Utf16Length(folder) + Utf16Length(name) + 1 < depth - 10) {
            folder += name + PATH_SEP;
            fs::create_directory(fs::u8path(folder));
        }
        files.push_back(folder + std::string(depth - Utf16Length(folder), 'f'));
        std::ofstream(fs::u8path(files.back()), std::ios::binary) << bytes;
        EXPECT_TRUE(fs::exists(fs::u8path(files.back()))) << files.back();
    }
    return files;
}

}  // namespace zt
