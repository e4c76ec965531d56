// Every text of every language as the program unpacks it, against its
// source in src/app/lang and against English; and the choice of language.
#include <fstream>
#include <map>
#include <string>

#include "harness.h"

#define NAMED(id) {id, #id}
static const std::pair<int, const char*> Names[] = {
    NAMED(TextConfirm),         NAMED(TextSuccess),           NAMED(TextRestartNote),
    NAMED(TextKeptNote),        NAMED(TextIncomplete),        NAMED(TextInUse),
    NAMED(TextInUseRestart),    NAMED(TextTooDeep),           NAMED(TextNeedsAdministrator),
    NAMED(TextAlreadyRunning),  NAMED(TextNotInstalled),      NAMED(TextNameEmpty),
    NAMED(TextNameTooLong),     NAMED(TextNameCharacters),    NAMED(TextDisplayNameTooLong),
    NAMED(TextNoPermission),    NAMED(TextCannotSetValue),    NAMED(TextCommandTooLong),
    NAMED(TextCannotLocate),    NAMED(TextAbout),             NAMED(TextScriptChanged),
    NAMED(TextScriptUnregistered), NAMED(TextScriptWritable)};
static_assert(sizeof Names / sizeof Names[0] == TextCount, "a name for every text");

// In the packed order (CMakeLists.txt).
static const char* const Files[LanguageCount] = {"en", "de", "fr", "es", "it", "pt-BR", "ru",
                                                 "pl", "cs", "tr", "ja", "ko", "zh-Hans", "zh-Hant"};

// The texts of src/app/lang/FILE.txt by identifier, escapes undone.
static std::map<std::string, std::string> Source(const std::string& file) {
    std::ifstream in(std::string(ZARNO_SOURCE_DIR) + "/src/app/lang/" + file + ".txt");
    EXPECT_TRUE(in.good()) << file;
    std::map<std::string, std::string> texts;
    for (std::string line; std::getline(in, line);) {
        size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
        std::string text;
        for (size_t i = equals + 1; i < line.size(); i++) {
            char c = line[i];
            if (c == '\\' && i + 1 < line.size()) c = line[++i] == 'n' ? '\n' : line[i] == 'r' ? '\r' : line[i];
            text.push_back(c);
        }
        texts[line.substr(0, equals)] = text;
    }
    return texts;
}

static std::string Directives(const std::string& text) {
    std::string found;
    for (size_t i = 0; i < text.size(); i++)
        if (text[i] == '%') found += text.substr(i, 2), i++;
    return found;
}

static bool ValidUtf8(const std::string& text) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, NULL, 0) > 0;
}

TEST(Texts, EveryLanguageHasEveryTextWithEnglishsDirectivesAndRoomInTheBox) {
    // A box must hold its text whole with a display name of 255 characters
    // and a path of MAX_PATH (the folder, or the first program holding a file).
    const std::string name(255, 'n'), path(MAX_PATH - 1, 'p');
    for (int language = 0; language < LanguageCount; language++) {
        std::map<std::string, std::string> source = Source(Files[language]);
        for (const auto& [id, identifier] : Names) {
            SCOPED_TRACE(std::string(Files[language]) + " " + identifier);
            std::string text = LanguageText(language, id), english = LanguageText(LanguageEnglish, id);
            EXPECT_EQ(text, source[identifier]);
            EXPECT_TRUE(ValidUtf8(text));
            EXPECT_EQ(Directives(text), Directives(english));
            if (language != LanguageEnglish) EXPECT_NE(text, english);
            char box[TextSize];
            if (id == TextSuccess)
                EXPECT_TRUE(FormatText(box, sizeof box, text.c_str(), name.c_str(),
                                       LanguageText(language, TextRestartNote),
                                       LanguageText(language, TextKeptNote), path.c_str()));
            else if (Directives(text) == "%d")
                EXPECT_TRUE(FormatText(box, sizeof box, text.c_str(), (int)MaxNameLength));
            else
                EXPECT_TRUE(FormatText(box, sizeof box, text.c_str(), name.c_str(), path.c_str()));
        }
    }
    // Out of range, English; never nothing.
    EXPECT_STREQ(LanguageText(LanguageCount, TextNotInstalled), "'%s' not installed!");
}

TEST(Texts, TheLanguageIsChosenAsWindowsFallsBack) {
    const struct {
        LANGID id;
        const char* file;
    } rows[] = {
        {0x0409, "en"},      {0x0809, "en"},      {0x041D, "en"},      {0x0413, "en"},
        {0x0407, "de"},      {0x0C07, "de"},      {0x0807, "de"},      {0x040C, "fr"},
        {0x0C0C, "fr"},      {0x080C, "fr"},      {0x0C0A, "es"},      {0x080A, "es"},
        {0x0410, "it"},      {0x0416, "pt-BR"},   {0x0816, "pt-BR"},   {0x0419, "ru"},
        {0x0415, "pl"},      {0x0405, "cs"},      {0x041F, "tr"},      {0x0411, "ja"},
        {0x0412, "ko"},      {0x0804, "zh-Hans"}, {0x1004, "zh-Hans"}, {0x0004, "zh-Hans"},
        {0x0404, "zh-Hant"}, {0x0C04, "zh-Hant"}, {0x1404, "zh-Hant"}, {0x7C04, "zh-Hant"},
    };
    for (const auto& row : rows) {
        int language = BoxLanguage(row.id);
        ASSERT_TRUE(language >= 0 && language < LanguageCount) << std::hex << row.id;
        EXPECT_STREQ(Files[language], row.file) << std::hex << row.id;
    }
}
