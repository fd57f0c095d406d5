// Reads the built QTX.exe and its satellites as files: the PE header, the resource tree, the dialog
// template control by control, the icons, the version block and the manifest. The expected values are
// written here from the program's documented packaging, not taken from the resource script; the version is the
// project's (QTX_VERSION and its four parts, defined by the build).

#include <windows.h>

#include <imagehlp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cwctype>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "test_files.h"

namespace {

std::wstring QtxExe() {
    return FromUnixPath(QTX_EXE_PATH);
}
std::wstring EnglishSatellite() {
    return FromUnixPath(QTX_EN_SATELLITE_PATH);
}
std::wstring SatelliteWithoutDialog() {
    return FromUnixPath(QTX_NO_DIALOG_SATELLITE_PATH);
}

// Little-endian reads; out-of-range reads throw, which fails the test instead of reading past the end.
uint32_t Le(const Bytes& b, size_t at, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(b.at(at + static_cast<size_t>(i)));
    return value;
}
uint16_t U16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(Le(b, at, 2));
}
uint32_t U32(const Bytes& b, size_t at) {
    return Le(b, at, 4);
}

struct PeFile {
    Bytes bytes;
    size_t fileHeader = 0;      // IMAGE_FILE_HEADER
    size_t optionalHeader = 0;  // IMAGE_OPTIONAL_HEADER64
    std::vector<IMAGE_SECTION_HEADER> sections;

    uint32_t DirectoryRva(int index) const { return U32(bytes, optionalHeader + 112 + 8 * index); }
    uint32_t DirectorySize(int index) const { return U32(bytes, optionalHeader + 116 + 8 * index); }
    size_t Offset(uint32_t rva) const {
        for (const auto& s : sections) {
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
                return s.PointerToRawData + (rva - s.VirtualAddress);
        }
        throw std::out_of_range("RVA outside every section");
    }
};

PeFile ReadPe(const std::wstring& path) {
    PeFile pe;
    pe.bytes = ReadFileBytes(path);
    if (pe.bytes.size() < 64 || pe.bytes.compare(0, 2, "MZ") != 0)
        throw std::runtime_error("not an MZ file");
    size_t signature = U32(pe.bytes, 0x3C);
    if (pe.bytes.compare(signature, 4, std::string("PE\0\0", 4)) != 0)
        throw std::runtime_error("no PE signature");
    pe.fileHeader = signature + 4;
    pe.optionalHeader = pe.fileHeader + 20;
    size_t section = pe.optionalHeader + U16(pe.bytes, pe.fileHeader + 16);
    for (int i = 0; i < U16(pe.bytes, pe.fileHeader + 2); ++i, section += sizeof(IMAGE_SECTION_HEADER)) {
        IMAGE_SECTION_HEADER header;
        pe.bytes.copy(reinterpret_cast<char*>(&header), sizeof header, section);
        pe.sections.push_back(header);
    }
    return pe;
}

// One leaf of the resource tree. Named (string) types or names are kept as 0xFFFFFFFF: QTX uses numbers only.
struct Resource {
    uint32_t type;
    uint32_t name;
    uint32_t language;
    Bytes data;
};
constexpr uint32_t kNamed = 0xFFFFFFFF;

std::vector<Resource> ReadResources(const PeFile& pe) {
    std::vector<Resource> resources;
    if (pe.DirectorySize(IMAGE_DIRECTORY_ENTRY_RESOURCE) == 0)
        return resources;
    const size_t root = pe.Offset(pe.DirectoryRva(IMAGE_DIRECTORY_ENTRY_RESOURCE));
    // Visits the entries of the directory at `offset` (relative to the root), three levels deep.
    auto walk = [&](auto&& self, uint32_t offset, int level, uint32_t type, uint32_t name) -> void {
        const size_t dir = root + offset;
        const int count = U16(pe.bytes, dir + 12) + U16(pe.bytes, dir + 14);
        for (int i = 0; i < count; ++i) {
            const size_t entry = dir + 16 + 8 * static_cast<size_t>(i);
            const uint32_t id = U32(pe.bytes, entry);
            const uint32_t key = (id & 0x80000000) ? kNamed : id;
            const uint32_t target = U32(pe.bytes, entry + 4);
            if (level < 2) {
                ASSERT_TRUE(target & 0x80000000) << "a leaf above the language level";
                self(self, target & 0x7FFFFFFF, level + 1, level == 0 ? key : type, level == 1 ? key : name);
                continue;
            }
            ASSERT_FALSE(target & 0x80000000) << "a directory at the language level";
            const size_t leaf = root + target;
            const size_t at = pe.Offset(U32(pe.bytes, leaf));
            resources.push_back({type, name, key, pe.bytes.substr(at, U32(pe.bytes, leaf + 4))});
        }
    };
    walk(walk, 0, 0, 0, 0);
    return resources;
}

const Resource* Find(const std::vector<Resource>& resources, uint32_t type, uint32_t name) {
    for (const auto& r : resources) {
        if (r.type == type && r.name == name)
            return &r;
    }
    return nullptr;
}

// ---- Dialog templates (DLGTEMPLATEEX and DLGITEMTEMPLATEEX, decoded by hand) ----

struct Rect {
    int x, y, cx, cy;
    bool operator==(const Rect&) const = default;
};

struct Control {
    int id;
    std::wstring cls;  // "Button", "Edit", "Static" for the predefined ordinals
    std::wstring text;
    Rect rect;
    DWORD style;
    DWORD exStyle;
};

struct Dialog {
    WORD version, signature;
    DWORD helpId, exStyle, style;
    Rect rect;
    std::wstring menu, cls, caption, face;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::vector<Control> controls;
};

class TemplateReader {
  public:
    explicit TemplateReader(const Bytes& bytes) : b_(bytes) {}
    WORD Word() { return static_cast<WORD>(Take(2)); }
    DWORD Dword() { return Take(4); }
    BYTE Byte() { return static_cast<BYTE>(Take(1)); }
    short Short() { return static_cast<short>(Word()); }
    std::wstring String() {
        std::wstring s;
        for (WORD c = Word(); c != 0; c = Word())
            s += static_cast<wchar_t>(c);
        return s;
    }
    // A string or an ordinal (0xFFFF then the number, shown as "#n").
    std::wstring StringOrOrdinal() {
        if (U16(b_, at_) != 0xFFFF)
            return String();
        Word();
        return L"#" + std::to_wstring(Word());
    }
    void AlignDword() { at_ = (at_ + 3) & ~size_t{3}; }
    void Skip(size_t n) { at_ += n; }
    size_t Remaining() const { return b_.size() - std::min(at_, b_.size()); }

  private:
    uint32_t Take(int size) {
        uint32_t v = Le(b_, at_, size);
        at_ += static_cast<size_t>(size);
        return v;
    }
    const Bytes& b_;
    size_t at_ = 0;
};

std::wstring ClassName(const std::wstring& raw) {
    if (raw == L"#128")
        return L"Button";
    if (raw == L"#129")
        return L"Edit";
    if (raw == L"#130")
        return L"Static";
    // A class given by name: predefined names are case-insensitive.
    for (const wchar_t* known : {L"Button", L"Edit", L"Static"}) {
        if (lstrcmpiW(raw.c_str(), known) == 0)
            return known;
    }
    return raw;
}

Dialog DecodeDialog(const Bytes& bytes) {
    TemplateReader r(bytes);
    Dialog d{};
    d.version = r.Word();
    d.signature = r.Word();
    d.helpId = r.Dword();
    d.exStyle = r.Dword();
    d.style = r.Dword();
    const int count = r.Word();
    d.rect.x = r.Short();
    d.rect.y = r.Short();
    d.rect.cx = r.Short();
    d.rect.cy = r.Short();
    d.menu = r.StringOrOrdinal();
    d.cls = r.StringOrOrdinal();
    d.caption = r.String();
    if (d.style & DS_SETFONT) {
        d.pointSize = r.Word();
        d.weight = r.Word();
        d.italic = r.Byte();
        d.charset = r.Byte();
        d.face = r.String();
    }
    for (int i = 0; i < count; ++i) {
        r.AlignDword();
        Control c{};
        r.Dword();  // help ID
        c.exStyle = r.Dword();
        c.style = r.Dword();
        c.rect.x = r.Short();
        c.rect.y = r.Short();
        c.rect.cx = r.Short();
        c.rect.cy = r.Short();
        c.id = static_cast<int>(r.Dword());
        c.cls = ClassName(r.StringOrOrdinal());
        c.text = r.StringOrOrdinal();
        r.Skip(r.Word());  // creation data
        d.controls.push_back(c);
    }
    EXPECT_LE(r.Remaining(), 3u) << "bytes left after the last control";
    return d;
}

// The mnemonic letter of a control text ("檔案(&F)" and "&File" both give 'F'), or 0.
wchar_t Mnemonic(const std::wstring& text) {
    size_t amp = text.find(L'&');
    return amp == std::wstring::npos || amp + 1 >= text.size() ? 0 : static_cast<wchar_t>(towupper(text[amp + 1]));
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kRadio = kChild | BS_AUTORADIOBUTTON;
constexpr DWORD kGroupBox = kChild | BS_GROUPBOX | WS_GROUP;
constexpr DWORD kPush = kChild | BS_PUSHBUTTON | WS_TABSTOP;

// The main dialog's controls in template order, as the program's dialog layout lists them.
const Control kMainControls[] = {
    {10, L"Edit", L"", {20, 20, 323, 14}, kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_ACCEPTFILES},
    {-1, L"Button", L"選擇要轉換的中文檔案", {8, 6, 343, 55}, kGroupBox, 0},
    {12, L"Button", L"檔案(&F)", {20, 43, 41, 10}, kRadio, 0},
    {13, L"Button", L"資料夾(&D)", {95, 43, 51, 10}, kRadio, 0},
    {11, L"Button", L"瀏覽(&B)", {293, 39, 50, 14}, kPush, 0},
    {-1, L"Button", L"檔案格式", {8, 68, 166, 76}, kGroupBox, 0},
    {20, L"Button", L"繁體 (Unicode)", {20, 84, 65, 10}, kRadio, 0},
    {21, L"Button", L"繁體 (UTF8)", {20, 104, 57, 10}, kRadio, 0},
    {22, L"Button", L"繁體 (Big5)", {20, 124, 55, 10}, kRadio, 0},
    {23, L"Button", L"簡體 (Unicode)", {95, 84, 65, 10}, kRadio, 0},
    {24, L"Button", L"簡體 (UTF8)", {95, 104, 57, 10}, kRadio, 0},
    {25, L"Button", L"簡體 (GB2312)", {95, 124, 66, 10}, kRadio, 0},
    {-1, L"Button", L"轉換成", {186, 68, 166, 76}, kGroupBox, 0},
    {30, L"Button", L"繁體 (Unicode)", {200, 84, 65, 10}, kRadio, 0},
    {31, L"Button", L"繁體 (UTF8)", {200, 104, 57, 10}, kRadio, 0},
    {32, L"Button", L"繁體 (Big5)", {200, 124, 55, 10}, kRadio, 0},
    {33, L"Button", L"簡體 (Unicode)", {276, 84, 65, 10}, kRadio, 0},
    {34, L"Button", L"簡體 (UTF8)", {276, 104, 57, 10}, kRadio, 0},
    {35, L"Button", L"簡體 (GB2312)", {276, 124, 66, 10}, kRadio, 0},
    {14, L"Button", L"轉換(&C)", {302, 151, 50, 14}, kPush, 0},
};
constexpr DWORD kMainStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME |
                             DS_SETFOREGROUND | DS_CENTER | DS_SETFONT;

// Every control inside the dialog, and every radio button inside the group box that starts its group.
void ExpectLayoutFits(const Dialog& d) {
    const Control* group = nullptr;
    for (const auto& c : d.controls) {
        SCOPED_TRACE(testing::Message() << "control " << c.id << " at " << c.rect.x << "," << c.rect.y);
        EXPECT_TRUE(c.rect.x >= 0 && c.rect.y >= 0 && c.rect.x + c.rect.cx <= d.rect.cx &&
                    c.rect.y + c.rect.cy <= d.rect.cy);
        if (c.cls == L"Button" && (c.style & BS_TYPEMASK) == BS_GROUPBOX)
            group = &c;
        if (c.cls == L"Button" && (c.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON) {
            ASSERT_NE(group, nullptr);
            EXPECT_TRUE(c.rect.x > group->rect.x && c.rect.y > group->rect.y &&
                        c.rect.x + c.rect.cx < group->rect.x + group->rect.cx &&
                        c.rect.y + c.rect.cy < group->rect.y + group->rect.cy);
        }
    }
}

// ---- The tests ----

TEST(PackageTest, PeHeaderDeclaresA64BitFixedBaseGuiProgram) {
    const PeFile pe = ReadPe(QtxExe());
    const Bytes& b = pe.bytes;
    const size_t opt = pe.optionalHeader;
    struct Field {
        const char* name;
        uint32_t value, mask, expected;
    };
    const Field fields[] = {
        {"Machine", U16(b, pe.fileHeader), 0xFFFF, IMAGE_FILE_MACHINE_AMD64},
        {"Characteristics: executable, relocations stripped, large-address aware, not a DLL",
         U16(b, pe.fileHeader + 18),
         IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_RELOCS_STRIPPED | IMAGE_FILE_LARGE_ADDRESS_AWARE | IMAGE_FILE_DLL,
         IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_RELOCS_STRIPPED | IMAGE_FILE_LARGE_ADDRESS_AWARE},
        {"Magic (PE32+)", U16(b, opt), 0xFFFF, IMAGE_NT_OPTIONAL_HDR64_MAGIC},
        {"MajorOperatingSystemVersion", U16(b, opt + 40), 0xFFFF, 5},
        {"MinorOperatingSystemVersion", U16(b, opt + 42), 0xFFFF, 2},
        {"MajorSubsystemVersion", U16(b, opt + 48), 0xFFFF, 5},
        {"MinorSubsystemVersion", U16(b, opt + 50), 0xFFFF, 2},
        {"Subsystem", U16(b, opt + 68), 0xFFFF, IMAGE_SUBSYSTEM_WINDOWS_GUI},
        {"DllCharacteristics: NX, terminal-server aware, high-entropy VA; no dynamic base", U16(b, opt + 70),
         IMAGE_DLLCHARACTERISTICS_NX_COMPAT | IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE |
             IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA | IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE,
         IMAGE_DLLCHARACTERISTICS_NX_COMPAT | IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE |
             IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA},
        {"Base relocation directory address", pe.DirectoryRva(IMAGE_DIRECTORY_ENTRY_BASERELOC), 0xFFFFFFFF, 0},
        {"Base relocation directory size", pe.DirectorySize(IMAGE_DIRECTORY_ENTRY_BASERELOC), 0xFFFFFFFF, 0},
    };
    for (const auto& f : fields)
        EXPECT_EQ(f.value & f.mask, f.expected) << f.name << " = 0x" << std::hex << f.value;
    for (const auto& s : pe.sections)
        EXPECT_STRNE(std::string(reinterpret_cast<const char*>(s.Name), 8).c_str(), ".reloc");

    // The flag set after linking must leave a checksum that the platform agrees with.
    DWORD headerSum = 0, computed = 0;
    ASSERT_EQ(MapFileAndCheckSumW(QtxExe().c_str(), &headerSum, &computed), CHECKSUM_SUCCESS);
    EXPECT_EQ(headerSum, computed);
}

TEST(PackageTest, ResourcesAreNumberedAndAllChineseHongKong) {
    const auto resources = ReadResources(ReadPe(QtxExe()));
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> found;
    for (const auto& r : resources)
        found.emplace_back(r.type, r.name, r.language);
    std::sort(found.begin(), found.end());
    const std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> expected = {
        {3, 1, 0x0C04},   // RT_ICON, 32 x 32
        {3, 2, 0x0C04},   // RT_ICON, 16 x 16
        {5, 1, 0x0C04},   // RT_DIALOG IDD_MAIN
        {14, 1, 0x0C04},  // RT_GROUP_ICON IDI_APP
        {16, 1, 0x0C04},  // RT_VERSION
        {24, 1, 0x0C04},  // RT_MANIFEST
    };
    EXPECT_EQ(found, expected);
}

TEST(PackageTest, MainDialogTemplateMatchesTheLayoutTable) {
    const auto resources = ReadResources(ReadPe(QtxExe()));
    const Resource* resource = Find(resources, 5, 1);
    ASSERT_NE(resource, nullptr);
    const Dialog d = DecodeDialog(resource->data);

    EXPECT_EQ(d.version, 1);
    EXPECT_EQ(d.signature, 0xFFFF) << "not an extended template";
    EXPECT_EQ(d.helpId, 0u);
    EXPECT_EQ(d.exStyle, 0u);
    EXPECT_EQ(d.style, kMainStyle);
    EXPECT_EQ(d.rect, (Rect{0, 0, 360, 173}));
    EXPECT_EQ(d.menu, L"");
    EXPECT_EQ(d.cls, L"") << "not the standard dialog class";
    EXPECT_EQ(d.caption, L"中文檔案格式轉換");
    EXPECT_EQ(d.pointSize, 9);
    EXPECT_EQ(d.weight, 0);
    EXPECT_EQ(d.italic, 0);
    EXPECT_EQ(d.charset, 0);
    EXPECT_EQ(d.face, L"MS Shell Dlg");

    ASSERT_EQ(d.controls.size(), std::size(kMainControls));
    for (size_t i = 0; i < d.controls.size(); ++i) {
        const Control& got = d.controls[i];
        const Control& want = kMainControls[i];
        SCOPED_TRACE(testing::Message() << "control #" << i << " (id " << want.id << ")");
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.cls, want.cls);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.rect, want.rect);
        EXPECT_EQ(got.style, want.style) << std::hex << got.style << " vs " << want.style;
        EXPECT_EQ(got.exStyle, want.exStyle);
    }
    ExpectLayoutFits(d);
}

TEST(PackageTest, IconGroupHoldsA32And16PixelSixteenColourImage) {
    const auto resources = ReadResources(ReadPe(QtxExe()));
    const Resource* group = Find(resources, 14, 1);
    ASSERT_NE(group, nullptr);
    const Bytes& g = group->data;
    EXPECT_EQ(U16(g, 0), 0);  // reserved
    EXPECT_EQ(U16(g, 2), 1);  // icons, not cursors
    ASSERT_EQ(U16(g, 4), 2);
    ASSERT_EQ(g.size(), 6u + 2 * 14);

    const int sizes[] = {32, 16};
    for (int i = 0; i < 2; ++i) {
        const size_t entry = 6 + 14 * static_cast<size_t>(i);
        const int size = sizes[i];
        SCOPED_TRACE(testing::Message() << size << " x " << size);
        EXPECT_EQ(static_cast<unsigned char>(g[entry]), size);      // width
        EXPECT_EQ(static_cast<unsigned char>(g[entry + 1]), size);  // height
        EXPECT_EQ(static_cast<unsigned char>(g[entry + 2]), 16);    // colours
        EXPECT_EQ(U16(g, entry + 4), 1);                            // planes
        EXPECT_EQ(U16(g, entry + 6), 4);                            // bits per pixel
        const Resource* icon = Find(resources, 3, U16(g, entry + 12));
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(U32(g, entry + 8), icon->data.size());

        // The image itself: BITMAPINFOHEADER (height counts colour and mask), 16 colours, both bitmaps.
        const Bytes& bmp = icon->data;
        EXPECT_EQ(U32(bmp, 0), 40u);
        EXPECT_EQ(static_cast<int>(U32(bmp, 4)), size);
        EXPECT_EQ(static_cast<int>(U32(bmp, 8)), 2 * size);
        EXPECT_EQ(U16(bmp, 12), 1);
        EXPECT_EQ(U16(bmp, 14), 4);
        EXPECT_EQ(U32(bmp, 16), static_cast<uint32_t>(BI_RGB));
        const size_t colourRow = (size / 2 + 3) / 4 * 4, maskRow = (size / 8 + 3) / 4 * 4;
        EXPECT_EQ(bmp.size(), 40 + 16 * 4 + size * (colourRow + maskRow));
    }
}

TEST(PackageTest, VersionBlockHasTheProgramsNumbersAndStrings) {
    const std::wstring exe = QtxExe();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_NE(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    const std::pair<const char*, std::pair<DWORD, DWORD>> fields[] = {
        {"signature", {fixed->dwSignature, 0xFEEF04BD}},
        {"file version, high", {fixed->dwFileVersionMS, QTX_VERSION_MAJOR << 16 | QTX_VERSION_MINOR}},
        {"file version, low", {fixed->dwFileVersionLS, QTX_VERSION_PATCH << 16 | QTX_VERSION_TWEAK}},
        {"product version, high", {fixed->dwProductVersionMS, QTX_VERSION_MAJOR << 16 | QTX_VERSION_MINOR}},
        {"product version, low", {fixed->dwProductVersionLS, QTX_VERSION_PATCH << 16 | QTX_VERSION_TWEAK}},
        {"flags mask", {fixed->dwFileFlagsMask, 0x3F}},
        {"flags", {fixed->dwFileFlags, 0}},
        {"operating system", {fixed->dwFileOS, 0x40004}},
        {"file type", {fixed->dwFileType, VFT_APP}},
    };
    for (const auto& [name, values] : fields)
        EXPECT_EQ(values.first, values.second) << name;

    WORD* translation = nullptr;
    ASSERT_TRUE(
        VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0C04);
    EXPECT_EQ(translation[1], 1200);

    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"FileDescription", L"變更中文檔案內所使用的內碼"},
        {L"FileVersion", L"" QTX_VERSION},
        {L"ProductVersion", L"" QTX_VERSION},
        {L"ProductName", L"QTX"},
        {L"CompanyName", L"QTX contributors"},
        {L"LegalCopyright", L"Copyright © 2026 QTX contributors"},
        {L"InternalName", L"QTX.exe"},
        {L"OriginalFilename", L"QTX.exe"},
    };
    for (const auto& [key, expected] : strings) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\0c0404b0\\") + key;
        wchar_t* value = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            << testing::PrintToString(std::wstring(key));
        EXPECT_EQ(std::wstring(value), expected);
    }
}

// The start tag of the first element named by the last step of `path`, each step searched for after the
// previous one ("<dependency", then "<assemblyIdentity" inside it); empty if missing.
std::string StartTag(const std::string& xml, const std::vector<const char*>& path) {
    size_t at = 0;
    for (const char* step : path) {
        const std::string open = std::string("<") + step;
        do {
            at = xml.find(open, at);
            if (at == std::string::npos)
                return "";
            at += open.size();
        } while (at < xml.size() && !isspace(static_cast<unsigned char>(xml[at])) && xml[at] != '>' && xml[at] != '/');
    }
    const size_t end = xml.find('>', at);
    return end == std::string::npos ? "" : xml.substr(at, end - at);
}

TEST(PackageTest, ManifestDeclaresIdentityControlsDpiLevelAndSupportedSystems) {
    const auto resources = ReadResources(ReadPe(QtxExe()));
    const Resource* manifest = Find(resources, 24, 1);
    ASSERT_NE(manifest, nullptr);
    const std::string& xml = manifest->data;
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u);

    struct Attribute {
        std::vector<const char*> path;
        const char* attribute;
        const char* value;
    };
    const Attribute attributes[] = {
        {{"assembly", "assemblyIdentity"}, "name", "QTX"},
        {{"assembly", "assemblyIdentity"}, "type", "win32"},
        {{"assembly", "assemblyIdentity"}, "version", QTX_VERSION},
        {{"assembly", "assemblyIdentity"}, "processorArchitecture", "*"},
        {{"dependency", "dependentAssembly", "assemblyIdentity"}, "name", "Microsoft.Windows.Common-Controls"},
        {{"dependency", "dependentAssembly", "assemblyIdentity"}, "version", "6.0.0.0"},
        {{"dependency", "dependentAssembly", "assemblyIdentity"}, "type", "win32"},
        {{"dependency", "dependentAssembly", "assemblyIdentity"}, "processorArchitecture", "*"},
        {{"dependency", "dependentAssembly", "assemblyIdentity"}, "language", "*"},
        {{"dependency", "dependentAssembly", "assemblyIdentity"}, "publicKeyToken", "6595b64144ccf1df"},
        {{"trustInfo", "requestedExecutionLevel"}, "level", "asInvoker"},
        {{"trustInfo", "requestedExecutionLevel"}, "uiAccess", "false"},
    };
    for (const auto& a : attributes) {
        const std::string tag = StartTag(xml, a.path);
        const std::string wanted = std::string(a.attribute) + "=\"" + a.value + "\"";
        const size_t at = tag.find(wanted);
        EXPECT_TRUE(at != std::string::npos && isspace(static_cast<unsigned char>(tag[at - 1])))
            << "<" << a.path.back() << "> lacks " << wanted << "; found: " << tag;
    }
    // The identity is the program's own, before (not inside) the dependency.
    EXPECT_LT(xml.find("<assemblyIdentity"), xml.find("<dependency"));

    const std::pair<std::vector<const char*>, const char*> texts[] = {
        {{"assembly", "description"}, "QTX"},
        {{"application", "windowsSettings", "dpiAware"}, "true"},
    };
    for (const auto& [path, text] : texts) {
        const std::string tag = StartTag(xml, path);
        const size_t at = xml.find("<" + std::string(path.back()) + tag + ">");
        ASSERT_NE(at, std::string::npos) << path.back();
        const size_t begin = xml.find('>', at) + 1;
        EXPECT_EQ(xml.substr(begin, xml.find('<', begin) - begin), text) << path.back();
    }

    // Windows 10, 8.1, Vista, 7 and 8, in that order, inside <compatibility>.
    std::vector<std::string> systems;
    for (size_t at = xml.find("<compatibility"); (at = xml.find("<supportedOS", at)) != std::string::npos; ++at) {
        const size_t id = xml.find("Id=\"", at) + 4;
        systems.push_back(xml.substr(id, xml.find('"', id) - id));
    }
    const std::vector<std::string> expected = {
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    };
    EXPECT_EQ(systems, expected);
}

TEST(PackageTest, EnglishSatelliteHoldsOnlyTheDialogOnTheSameControls) {
    const PeFile pe = ReadPe(EnglishSatellite());
    EXPECT_TRUE(U16(pe.bytes, pe.fileHeader + 18) & IMAGE_FILE_DLL);
    EXPECT_EQ(U32(pe.bytes, pe.optionalHeader + 16), 0u) << "a resource-only DLL has no entry point";

    const auto resources = ReadResources(pe);
    ASSERT_EQ(resources.size(), 1u) << "a dialog template and nothing else (no icon)";
    ASSERT_EQ(resources[0].type, 5u);
    ASSERT_EQ(resources[0].name, 1u);
    const Dialog english = DecodeDialog(resources[0].data);
    const auto programResources = ReadResources(ReadPe(QtxExe()));
    const Resource* main = Find(programResources, 5, 1);
    ASSERT_NE(main, nullptr);
    const Dialog chinese = DecodeDialog(main->data);

    EXPECT_EQ(english.caption, L"Chinese Text File Converter");
    EXPECT_EQ(english.style, chinese.style);
    EXPECT_EQ(english.exStyle, chinese.exStyle);
    ASSERT_EQ(english.controls.size(), chinese.controls.size());
    for (size_t i = 0; i < english.controls.size(); ++i) {
        const Control& en = english.controls[i];
        const Control& zh = chinese.controls[i];
        SCOPED_TRACE(testing::Message() << "control #" << i << " (id " << zh.id << ")");
        // Same behaviour: identifier, class, styles (groups, tab stops) and keyboard mnemonic.
        EXPECT_EQ(en.id, zh.id);
        EXPECT_EQ(en.cls, zh.cls);
        EXPECT_EQ(en.style, zh.style);
        EXPECT_EQ(en.exStyle, zh.exStyle);
        EXPECT_EQ(Mnemonic(en.text), Mnemonic(zh.text)) << testing::PrintToString(en.text);
        EXPECT_EQ(en.text.find_first_of(L"繁簡體檔案轉換"), std::wstring::npos) << "left untranslated";
    }
    ExpectLayoutFits(english);
}

TEST(PackageTest, SatellitesLoadAsDataFilesWithOrWithoutDialogOne) {
    const std::pair<std::wstring, bool> satellites[] = {{EnglishSatellite(), true}, {SatelliteWithoutDialog(), false}};
    for (const auto& [path, hasDialog] : satellites) {
        SCOPED_TRACE(testing::PrintToString(path));
        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << GetLastError();
        EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(1), RT_DIALOG) != nullptr, hasDialog);
        EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON), nullptr);
        FreeLibrary(module);
    }
}

}  // namespace
