// Special folders on the stand-in machine: the folders are created inside a
// sandbox, which the stand-in is pointed at through ZARNOUNS_MACHINE.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "machine.h"
#include "zarnouns.h"

namespace fs = std::filesystem;

namespace {

const std::string Sep(1, PATH_SEP);

class Folders : public ::testing::Test {
protected:
    std::string sandbox;  // ends in the separator
    std::string install;  // the installation directory, ending in the separator
    std::string previous;  // the machine other suites set up, put back afterwards
    bool hadPrevious = false;

    void SetUp() override {
        static int serial;
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        fs::path dir = fs::temp_directory_path() /
                       ("zarno_folders_" + std::to_string(stamp) + "_" + std::to_string(++serial));
        ASSERT_TRUE(fs::create_directories(dir / "machine"));
        sandbox = dir.string() + Sep;
        const char* machine = getenv("ZARNOUNS_MACHINE");
        hadPrevious = machine != nullptr;
        if (hadPrevious) previous = machine;
        setenv("ZARNOUNS_MACHINE", (sandbox + "machine").c_str(), 1);
        install = sandbox + "install" + Sep;
        ASSERT_TRUE(fs::create_directories(install));
        TestMode = 0;
        ForgetProtectedFolders();
    }
    void TearDown() override {
        ForgetProtectedFolders();
        if (hadPrevious)
            setenv("ZARNOUNS_MACHINE", previous.c_str(), 1);
        else
            unsetenv("ZARNOUNS_MACHINE");
        std::error_code ignored;
        fs::remove_all(fs::path(sandbox), ignored);
    }
    // The folder's path, created inside the sandbox.
    std::string Folder(int csidl) {
        std::string path = StandInFolderPath(csidl);
        EXPECT_EQ(path.compare(0, sandbox.size(), sandbox), 0) << path << " is outside the sandbox";
        fs::create_directories(path);
        return path;
    }
    static void Write(const std::string& path) {
        FILE* file = fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr) << path;
        fclose(file);
    }
    static std::string Join(const std::string& dir, const std::string& name) {
        return dir + (dir.empty() || dir.back() == '/' || dir.back() == '\\' ? "" : Sep) + name;
    }
};

std::string RunCaptured(const std::string& dir, int* result) {
    fflush(stdout);
    testing::internal::CaptureStdout();
    *result = RunRemovalScript(dir.c_str());
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST_F(Folders, MissingFolderIsNotFoundAndNotCreated) {
    std::string path = StandInFolderPath(CSIDL_FONTS);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(SpecialFolderPath("CSIDL_FONTS"), nullptr);
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(Folders, LookupIgnoresCase) {
    std::string fonts = Folder(CSIDL_FONTS);
    for (const char* name : {"CSIDL_FONTS", "csidl_fonts", "CsIdL_FoNtS"}) {
        ASSERT_NE(SpecialFolderPath(name), nullptr) << name;
        EXPECT_STREQ(SpecialFolderPath(name), fonts.c_str()) << name;
    }
    EXPECT_EQ(SpecialFolderPath("CSIDL_FONTS "), nullptr);
}

TEST_F(Folders, DesktopNumberZeroIsFound) {
    std::string desktop = Folder(CSIDL_DESKTOP);
    ASSERT_NE(SpecialFolderPath("CSIDL_DESKTOP"), nullptr);
    EXPECT_STREQ(SpecialFolderPath("CSIDL_DESKTOP"), desktop.c_str());
}

// Saved with a byte-order mark, and naming a file in Greek in its first section.
TEST_F(Folders, ScriptDeletesInFolderThenRemovesInstallDir) {
    std::string fonts = Folder(CSIDL_FONTS);
    Write(Join(fonts, "Ωμέγα.ttf"));
    Write(Join(fonts, "other.ttf"));
    Write(install + "Ωμέγα.ttf");
    Write(install + "zarnouns.ini");
    FILE* script = fopen((install + "zarnouns.ini").c_str(), "wb");
    ASSERT_NE(script, nullptr);
    fputs("\xEF\xBB\xBF[csidl_Fonts]\nΩμέγα.ttf\n[CSIDL_HISTORY]\nother.ttf\n[*]\n", script);
    fclose(script);

    int result = 1;
    std::string trace = RunCaptured(install, &result);
    EXPECT_EQ(result, 0);
    std::string ini = install + "zarnouns.ini";
    EXPECT_EQ(trace, "checking ini file: " + ini + "!\nfound '" + ini + "', using INI Mode:\n"
                     "*change category to: csidl_Fonts\nFound csidl: csidl_Fonts=" + fonts + "\n"
                     "deleting file: '" + Join(fonts, "Ωμέγα.ttf") + "'\n"
                     "*change category to: CSIDL_HISTORY\nUnknown csidl: CSIDL_HISTORY\n"
                     "Found last section: [*], closing INI file.\ndelete(tree) all files!\n"
                     "-> " + install + "\n");
    EXPECT_FALSE(fs::exists(Join(fonts, "Ωμέγα.ttf")));
    EXPECT_TRUE(fs::exists(Join(fonts, "other.ttf")));
    EXPECT_FALSE(fs::exists(install));
    EXPECT_TRUE(fs::exists(fonts));
}

}  // namespace
