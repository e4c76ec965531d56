// Bad input through the real command line and the registry: what the user
// sees, and that nothing is written that should not be.
#include "harness.h"

using namespace zt;

class Hostile : public Installed {};

TEST_F(Hostile, NamesOfEveryLengthAndShape) {
    const std::string tooLong = "Invalid product name: it is longer than 255 characters.";
    const struct {
        std::string name;
        std::string box;  // empty: registered without a box
    } cases[] = {
        {std::string(200, 'n'), ""},
        {std::string(971, 'n'), tooLong},
        {std::string(972, 'n'), tooLong},
        {std::string(1018, 'n'), tooLong},
        {std::string(1019, 'n'), tooLong},
        {std::string(5000, 'n'), tooLong},
        {"star*and?query", ""},
        {"caf\xe9 \xfc\xdf", ""},
        {"back\\slash", "Invalid product name 'back\\slash': it holds a backslash or a double quote."},
        {"\"quoted\"", "Invalid product name '\"quoted\"': it holds a backslash or a double quote."},
    };
    for (const auto& c : cases) {
        std::string name = c.name.size() == 200 ? product + std::string(200 - product.size(), 'n') : c.name;
        if (c.box.empty()) {
            Result r = RunApp(exe, {"-r", name, "Demo"});
            EXPECT_TRUE(r.boxes.empty()) << name;
            Result d = RunApp(exe, {"-d", name}, {Cancel});
            EXPECT_EQ(d.exitCode, 1);
            ASSERT_EQ(d.boxes.size(), 1u);
            EXPECT_EQ(d.boxes[0].buttons, "Yes No Cancel");
        } else {
            for (const char* option : {"-r", "-u", "-d"}) {
                std::vector<std::string> args = {option, name};
                if (std::string(option) == "-r") args.push_back("Demo");
                Result r = RunApp(exe, args, {Ok});
                EXPECT_FALSE(r.timedOut);
                ASSERT_EQ(r.boxes.size(), 1u) << option << " " << name.size();
                EXPECT_EQ(r.boxes[0].text, c.box);
                EXPECT_EQ(r.out, "");
            }
        }
        if (c.box.empty()) {
            ExpectString(HKEY_LOCAL_MACHINE, EntryKey(name), "DisplayName", "Demo");
            DeleteKeyTree(HKEY_LOCAL_MACHINE, EntryKey(name));
        } else if (name.size() <= 255) {
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(name)));
        }
    }
}

TEST_F(Hostile, DisplayNamesUpToTheBufferAndBeyond) {
    for (size_t n : {0u, 971u, 1018u, 1023u}) {
        std::string display(n, 'd');
        Result r = RunApp(exe, {"-r", product, display});
        EXPECT_TRUE(r.boxes.empty()) << n;
        ExpectString(HKEY_LOCAL_MACHINE, EntryKey(product), "DisplayName", display);
        // The confirmation is bounded to its buffer, and still names the product.
        Result d = RunApp(exe, {"-d", product}, {No});
        ASSERT_EQ(d.boxes.size(), 1u);
        EXPECT_EQ(d.boxes[0].text.rfind("Are you sure to uninstall '" + display.substr(0, 900), 0), 0u);
        EXPECT_LE(d.boxes[0].text.size(), 1023u);
    }
    Result r = RunApp(exe, {"-r", product + "x", std::string(5000, 'd')}, {Ok});
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Invalid display name: it is longer than 1023 characters.");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryKey(product + "x")));
}

TEST_F(Hostile, EntryValuesOfOtherTypesAndSizes) {
    std::string key = EntryKey(product);
    const struct {
        DWORD type;
        std::string bytes;
        std::string shown;
    } cases[] = {
        {REG_BINARY, "Bin", "Bin"},
        {REG_DWORD, std::string("\x41\x42\0\0", 4), "AB"},
        {REG_SZ, std::string(1024, 'x'), ""},
        {REG_SZ, std::string(1025, 'x'), ""},
    };
    for (const auto& c : cases) {
        WriteValue(HKEY_LOCAL_MACHINE, key, "DisplayName", c.type, c.bytes);
        Result r = RunApp(exe, {"-d", product}, {No});
        EXPECT_EQ(r.exitCode, 0);
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].text, "Are you sure to uninstall '" + c.shown +
                                       "'?\nAll files will be removed.\n\n(Please close all running sessions)");
    }
}
