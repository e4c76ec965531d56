// Names that no legacy code page holds, through a whole installation: a
// folder named in Greek and Japanese, a display name in both, the temporary
// folder in Greek, and the uninstall started as the system starts it.
#include <filesystem>

#include "harness.h"

using namespace zt;
namespace fs = std::filesystem;

namespace {

const std::string InstallFolder = "Ωμέγα 日本", Display = "Ωμέγα Harbo 日本";
const std::string Greek = "Ελληνικά";

// A string value's bytes as the registry gives them to a UTF-16 reader.
std::string WideValue(HKEY root, const std::string& key, const char16_t* name) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "no key";
    std::string bytes(4096, '\x5a');
    DWORD type = 0, count = (DWORD)bytes.size();
    LONG rc = RegQueryValueExW(k, (LPCWSTR)name, NULL, &type, (LPBYTE)&bytes[0], &count);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return "no string";
    return bytes.substr(0, count);
}

// UTF-8 `text` in UTF-16, as the registry holds it.
std::string Utf16Bytes(const std::string& text) {
    std::u16string wide = fs::u8path(text).u16string();
    if (RegistryAddsNul()) wide.push_back(u'\0');
    return std::string((const char*)wide.data(), wide.size() * sizeof(char16_t));
}

// TMP and TEMP of the processes the test starts, put back afterwards.
struct TemporaryFolder {
    std::string saved[2];
    bool had[2];
    const char* names[2] = {"TMP", "TEMP"};
    explicit TemporaryFolder(const std::string& dir) {
        for (int i = 0; i < 2; i++) {
            char value[TextSize];
            DWORD n = GetEnvironmentVariableA(names[i], value, sizeof value);
            had[i] = n > 0 && n < sizeof value;
            saved[i] = had[i] ? value : "";
            SetEnvironmentVariableA(names[i], dir.c_str());
        }
    }
    ~TemporaryFolder() {
        for (int i = 0; i < 2; i++)
            SetEnvironmentVariableA(names[i], had[i] ? saved[i].c_str() : NULL);
    }
};

}  // namespace

class Names : public Sandboxed {};

TEST_F(Names, GreekAndJapaneseFromRegistrationToRemoval) {
    ASSERT_EQ(GetACP(), (UINT)CP_UTF8) << "the suite's own calls must carry UTF-8";
    // Windows takes the temporary folder from TMP and TEMP, the stand-in from
    // its machine directory: both lead into the Greek folder.
    std::string greek = MakeDir(Greek);
    TemporaryFolder temp(greek);
    FreshMachine(Path(Greek));
    char tempDir[TextSize] = "";
    GetTempPathA(sizeof tempDir, tempDir);
    ASSERT_EQ(std::string(tempDir).rfind(greek, 0), 0u) << tempDir;
    std::string exe = Install(InstallFolder), dir = Path(InstallFolder) + PATH_SEP;
    std::string key = EntryKey(product);
    WriteFile(InstallFolder + "/" + Greek + "/harbo.dll", "dll");

    Result r = RunApp(exe, {"-r", product, Display});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(WideValue(HKEY_LOCAL_MACHINE, key, u"DisplayName"), Utf16Bytes(Display));
    EXPECT_EQ(WideValue(HKEY_LOCAL_MACHINE, key, u"InstallLocation"), Utf16Bytes(dir));
    ExpectString(HKEY_LOCAL_MACHINE, key, "UninstallString",
                 "\"" + exe + "\" -u \"" + product + "\"");

    // Under Wine its own Add/Remove Programs client runs the UninstallString.
    r = RealShell() ? RunApp("uninstaller.exe", {"--remove", product}, {Yes, Ok})
                    : RunApp(exe, {"-u", product}, {Yes, Ok});
    EXPECT_FALSE(r.timedOut);
    ExpectBoxes(r, {{"Are you sure to uninstall '" + Display +
                         "'?\nAll files will be removed.\n\n(Please close all running sessions)",
                     "Yes No Cancel"},
                    {"Successfully uninstalled '" + Display + "'.", "OK"}});
    // The copy that ran the uninstall lies in the Greek temporary folder.
    std::string copying = "Copying: " + exe + " -> ";
    ASSERT_EQ(r.out.rfind(copying + tempDir + "zarnouns-", 0), 0u) << r.out;
    std::string copy = r.out.substr(copying.size(), r.out.find('\n') - copying.size());
    EXPECT_TRUE(fs::exists(fs::u8path(copy))) << copy;
    EXPECT_NE(r.out.find("\n-> " + dir + Greek + PATH_SEP + "\n"), std::string::npos) << r.out;
    EXPECT_FALSE(Exists(InstallFolder));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key));
}
