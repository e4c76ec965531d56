// The uninstall ("-d demo", in-process through AppMain) on arbitrary values
// of the product's entry: each of DisplayName, InstallLocation and
// UninstallString absent or of any type, with any bytes and a size from 0 to
// 2100 (the sizes around the 1024-byte value buffer, and around MAX_PATH, are
// picked often). The confirmation is always answered Yes.
//
// Input, read front to back (missing bytes read as 0):
//   flags: bit 0 test mode ("-t"), bit 1 the user is no administrator,
//          bits 2-3 the roots holding the entry (HKLM, HKCU, both, HKLM),
//          bits 4-5 the removal script in the installation folder (none,
//          "[*]", three file lines, the file lines then "[*]");
//   then per value: a type byte, for InstallLocation a base byte (and one
//   naming a special folder), a size byte (and two more for a free size), a
//   chunk length and the chunk.
// An InstallLocation is a base (the installation folder, the sandbox, the
// machine, its drive, a special folder or a folder inside one, a link, the
// current directory, spellings with "..") followed by the chunk, padded or
// cut to the size.
// Before the run it is resolved as the file system will resolve it; one that
// leads outside the sandbox is replaced by a path inside it (see Confine).
//
// Checked after every run: the exact boxes (confirmation and outcome texts
// from the values as the program reads them back), the trace line, that the
// outcome agrees with what happened on disk, that nothing outside the
// location went and that test mode deleted no file beyond the script's, that
// no special folder lost anything, the registry afterwards, and that no key
// was left open.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_sandbox.h"

using namespace fz;

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    uint8_t Byte() {
        if (size == 0) return 0;
        size--;
        return *data++;
    }
    std::string Bytes(size_t n) {
        if (n > size) n = size;
        std::string out((const char*)data, n);
        data += n;
        size -= n;
        return out;
    }
};

// A type byte's choice: absent, or a type to store the value with.
const DWORD Absent = 0xFFFFFFFF;
const DWORD Types[] = {Absent,     REG_SZ,    REG_SZ,       REG_EXPAND_SZ,
                       REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_NONE};

// `text` made `size` bytes long: cut, or padded with one of four fillers
// ("/" and "./" keep a path naming the same folder; NULs keep the text).
std::string Fit(std::string text, size_t size, int pad) {
    static const char* const Fillers[] = {"/", "", "a", "./"};
    while (text.size() < size) {
        if (pad == 1)
            text.push_back('\0');
        else
            text += Fillers[pad];
    }
    return text.substr(0, size);
}

struct ValueShape {
    DWORD type;
    std::string bytes;
};

// One value after its type byte: the size byte (bits 0-1: the chunk as it
// is, 1020..1027 bytes, 256..263 bytes, or a free size from the next two
// bytes, up to 2100; bits 2-4 the offset in the small ranges; bits 5-6 the
// filler), then the chunk's length and the chunk. `base` goes in front.
ValueShape ReadShape(Reader& in, uint8_t typeByte, const std::string& base) {
    ValueShape shape;
    shape.type = Types[typeByte & 7];
    uint8_t sizeByte = in.Byte();
    size_t size = 0;
    switch (sizeByte & 3) {
        case 1: size = 1020 + ((sizeByte >> 2) & 7); break;
        case 2: size = 256 + ((sizeByte >> 2) & 7); break;
        case 3: {
            size_t high = in.Byte();
            size = (high << 8 | in.Byte()) % 2101;
        }
    }
    size_t chunkLength = in.Byte();
    std::string text = base + in.Bytes(chunkLength);
    shape.bytes = (sizeByte & 3) == 0 ? text : Fit(text, size, (sizeByte >> 5) & 3);
    return shape;
}

// The text the program reads back from a value of these bytes: it offers its
// 1024-byte buffer and puts a NUL after the bytes, so a longer value reads as
// none, one of exactly 1024 bytes only when it ends in a NUL.
std::optional<std::string> ReadBack(const std::string& bytes) {
    if (bytes.size() > TextSize) return std::nullopt;
    if (bytes.size() == TextSize && bytes.back() != '\0') return std::nullopt;
    return std::string(bytes.c_str(), strnlen(bytes.c_str(), bytes.size()));
}

// The folder an InstallLocation starts from; a special folder's number
// follows in the next byte.
std::string BaseOf(Reader& in) {
    uint8_t choice = in.Byte();
    switch (choice % 14) {
        case 0: return Box.install;
        case 1: return Box.install.substr(0, Box.install.size() - 1);
        case 2: return Box.root + "/";
        case 3: return Box.machine;
        case 4: return Box.machine + "/c/";
        case 5:
        case 6: {
            const std::vector<std::string>& folders = fz::SpecialFolderPaths();
            std::string special = folders[in.Byte() % folders.size()];
            return choice % 14 == 5 ? special : special + "/harbo-sub/";
        }
        case 7: return Box.root + "/other/";
        case 8: return Box.install + "link/";
        case 9: return Box.temp;
        case 10: return "/";
        case 11: return "";  // relative to the current directory
        case 12: return Box.install + "sub/../";
        default: return Box.install + "link/../";  // by name the installation folder
    }
}

// Every reading of the location that code could take (the whole text up to
// its first NUL, or that text cut where a 260- or 1024-byte buffer would cut
// it) must lead inside the sandbox; otherwise the location is replaced by one
// under the sandbox's "elsewhere" folder that holds no "." and so cannot climb
// out of it.
std::string Confine(const std::string& bytes) {
    std::string text(bytes.c_str(), strnlen(bytes.c_str(), bytes.size()));
    bool inside = fz::InsideSandbox(text);
    for (size_t cut : {259, 260, 1022, 1023, 1024})
        if (inside && cut < text.size()) inside = fz::InsideSandbox(text.substr(0, cut));
    if (inside) return bytes;
    std::string confined = Box.root + "/elsewhere/";
    for (char c : text) confined.push_back(c == '.' ? '_' : c);
    if (!fz::InsideSandbox(confined)) Fail("cannot confine the location", Show(text));
    return confined;
}

const char ScriptLines[] = "harbo.dll\nsub/x.txt\nsub\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (fz::Setup("values"), true);
    (void)ready;
    Reader in = {data, size};
    uint8_t flags = in.Byte();
    bool test = flags & 1;
    bool nonAdmin = flags & 2;
    int roots = (flags >> 2) & 3;  // 0 HKLM, 1 HKCU, 2 both, 3 HKLM
    int script = (flags >> 4) & 3;

    uint8_t displayType = in.Byte();
    ValueShape display = ReadShape(in, displayType, "");
    uint8_t locationType = in.Byte();
    std::string base = BaseOf(in);
    ValueShape location = ReadShape(in, locationType, base);
    location.bytes = Confine(location.bytes);
    uint8_t uninstallType = in.Byte();
    ValueShape uninstall = ReadShape(in, uninstallType, "");

    // The machine before the run.
    Values entry;
    const std::pair<const char*, const ValueShape*> shapes[] = {
        {"DisplayName", &display}, {"InstallLocation", &location}, {"UninstallString", &uninstall}};
    for (const auto& s : shapes)
        if (s.second->type != Absent) entry[s.first] = {s.second->type, s.second->bytes};
    std::string key = fz::EntryPrefix + std::string("demo");
    bool inMachine = roots != 1, inUser = roots == 1 || roots == 2;
    fz::PutBackAtEnd putBack;
    fz::NewMachine(inMachine, inUser, entry, nonAdmin);
    const std::string scripts[] = {"", "[*]\n", ScriptLines, std::string(ScriptLines) + "[*]\n"};
    fz::PutFile("install/zarnouns.ini", script == 0 ? NULL : scripts[script].c_str());

    // What the program will see, and where its location leads.
    std::optional<std::string> shownName =
        display.type == Absent ? std::nullopt : ReadBack(display.bytes);
    std::optional<std::string> loc =
        location.type == Absent ? std::nullopt : ReadBack(location.bytes);
    if (loc && loc->empty()) loc = std::nullopt;
    std::string place = loc ? fz::Resolve(*loc) : std::string();
    bool placeExisted = loc && fz::Exists(place);
    // The script is carried out only when it can be opened under the location.
    bool scriptRuns = false;
    if (loc) {
        std::string joined =
            *loc + (loc->back() == '/' || loc->back() == '\\' ? "" : "/") + "zarnouns.ini";
        // ".." by name, as the program takes it.
        scriptRuns = joined.size() < TextSize &&
                     access(fz::ByName(fz::FromSandbox(joined)).c_str(), R_OK) == 0;
    }
    if (scriptRuns && place != Box.root + "/install")
        Fail("a script was found outside the installation folder", Show(*loc));
    bool found = inUser || (inMachine && !nonAdmin);
    // Compared afterwards where the run must leave the registry as it was.
    std::string registryBefore = test || !found ? MachineRegistryText() : std::string();

    std::vector<std::string> args = {"-d", "demo"};
    if (test) args.insert(args.begin(), "-t");
    fz::Outcome run = fz::Run(args, std::string("flags ") + std::to_string(flags) +
                                        "\nDisplayName type " + std::to_string(display.type) +
                                        " " + Show(display.bytes) + "\nInstallLocation type " +
                                        std::to_string(location.type) + " " +
                                        Show(location.bytes) + "\nresolved: " + place);
    const std::string& trace = run.trace;
    const std::string& context = run.context;
    if (!fz::Starts.empty()) Fail("the uninstall tried to start a process", context);
    const fz::Entries& removed = run.removed;

    if (!found) {
        fz::ExpectBoxes({{MB_OK, inMachine ? "Uninstalling 'demo' needs administrator rights."
                                           : "'demo' not installed!"}});
        if (!removed.empty()) Fail("files went without an entry", fz::Listing(removed) + context);
        if (MachineRegistryText() != registryBefore)
            Fail("the registry changed without an entry", context);
        return 0;
    }

    // The boxes: the confirmation, then one of the two outcomes.
    // Without a display name, the boxes name the entry's key name; without a
    // location, they show a mark in its place.
    std::string name = shownName && !shownName->empty() ? *shownName : "demo";
    std::string shownPlace = loc.value_or("<no InstallLocation>");
    std::string confirm =
        Cut("Are you sure to uninstall '" + name +
            "'?\nAll files will be removed.\n\n(Please close all running sessions)");
    std::string success = Cut("Successfully uninstalled '" + name + "'.");
    std::string failure = Cut("Cannot completely remove files. You must manually delete:\n'" +
                              shownPlace + "'.");
    std::vector<fz::Shown> shown = fz::BoxesShown();
    bool succeeded = shown.size() == 2 && shown[1].text == success;
    fz::ExpectBoxes({{MB_YESNOCANCEL, confirm}, {MB_OK, succeeded ? success : failure}});
    if (trace.find("delete: demo (" + shownPlace + ")\n") == std::string::npos)
        Fail("no trace line of the deletion", context);

    // The outcome against the disk: a success is the location's folder gone,
    // except for a script of file lines alone, which succeeds and keeps it.
    bool linesOnly = scriptRuns && script == 2;
    bool placeGone = placeExisted && !fz::Exists(place);
    if (linesOnly) {
        if (!succeeded || placeGone)
            Fail("the file-line script was not carried out as written", context);
    } else if (succeeded != placeGone) {
        Fail(succeeded ? "success told, but the folder is still there"
                       : "failure told, but the folder went",
             context);
    }
    if (!loc && !removed.empty())
        Fail("files went without a location", fz::Listing(removed) + context);
    for (const auto& entry : removed) {
        bool listed = scriptRuns && script >= 2 &&
                      (entry.first == "install/harbo.dll" || entry.first == "install/sub/x.txt" ||
                       entry.first == "install/sub");
        if (!listed && (place.empty() || !fz::Under(Box.root + "/" + entry.first, place)))
            Fail("removed outside the location: " + entry.first, fz::Listing(removed) + context);
        if (test && !listed && entry.second != 'd')
            Fail("test mode deleted " + entry.first, fz::Listing(removed) + context);
    }

    // The registry: the entry goes from the root it was found under, unless
    // in test mode; nothing else changes.
    if (test) {
        if (MachineRegistryText() != registryBefore)
            Fail("the registry changed in test mode", context);
    } else {
        bool fromMachine = inMachine && !nonAdmin;
        fz::ExpectKey(HKEY_LOCAL_MACHINE, key,
                      inMachine && !fromMachine ? std::optional<Values>(entry) : std::nullopt);
        fz::ExpectKey(HKEY_CURRENT_USER, key,
                      inUser && fromMachine ? std::optional<Values>(entry) : std::nullopt);
    }
    return 0;
}
