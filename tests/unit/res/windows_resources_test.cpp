// The Windows program's resources as windres compiles them, read back from the .res files and
// held against their sources: every dialog control against dialogs.def, the icons, the side
// bitmap, the manifest and the version block.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ui/types.h"
#include "res/version/version.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A resource type or name: an ordinal, or a name (ASCII here).
struct ResId {
    int ordinal = -1;
    std::string name;
    bool operator<(const ResId& o) const { return ordinal != o.ordinal ? ordinal < o.ordinal : name < o.name; }
};
ResId ord(int n) { return {n, ""}; }

// Little-endian reader over one blob; fails the test instead of reading past the end.
struct Reader {
    const std::string& b;
    size_t pos = 0;
    bool bad = false;
    uint32_t n(size_t size) {
        if (pos + size > b.size()) {
            bad = true;
            pos = b.size();
            return 0;
        }
        uint32_t v = 0;
        for (size_t i = 0; i < size; ++i) v |= uint32_t(uint8_t(b[pos + i])) << (8 * i);
        pos += size;
        return v;
    }
    uint16_t u16() { return uint16_t(n(2)); }
    uint32_t u32() { return n(4); }
    int16_t s16() { return int16_t(u16()); }
    std::string wstr() {
        std::string s;
        for (uint16_t c = u16(); c != 0 && !bad; c = u16()) s += c < 0x80 ? char(c) : '?';
        return s;
    }
    ResId id() {
        if (pos + 2 <= b.size() && uint8_t(b[pos]) == 0xFF && uint8_t(b[pos + 1]) == 0xFF) {
            pos += 2;
            return ord(u16());
        }
        return {-1, wstr()};
    }
    void align4() { pos = (pos + 3) & ~size_t(3); }
};

using ResFile = std::map<std::pair<ResId, ResId>, std::string>;  // (type, name) -> data

ResFile readRes(const std::string& path) {
    std::string bytes = readFile(path);
    EXPECT_FALSE(bytes.empty()) << path;
    ResFile out;
    Reader r{bytes};
    while (r.pos + 8 <= bytes.size()) {
        size_t start = r.pos;
        uint32_t dataSize = r.u32(), headerSize = r.u32();
        ResId type = r.id(), name = r.id();
        if (r.bad || start + headerSize + dataSize > bytes.size()) {
            ADD_FAILURE() << "damaged entry in " << path;
            break;
        }
        if (type.ordinal != 0) out[{type, name}] = bytes.substr(start + headerSize, dataSize);
        r.pos = (start + headerSize + dataSize + 3) & ~size_t(3);
    }
    return out;
}

constexpr int RT_ICON_ = 3, RT_BITMAP_ = 2, RT_DIALOG_ = 5, RT_GROUP_ICON_ = 14, RT_VERSION_ = 16, RT_MANIFEST_ = 24;

struct Control {
    int id;
    std::string kind, text;
    int x, y, cx, cy;
    uint32_t style;
    int image;
};
struct Dialog {
    int id;
    std::string caption;
    int cx, cy;
    uint32_t style;
    std::string face;
    int points;
    std::vector<Control> controls;
};

// The templates straight from their source, independent of every backend.
std::vector<Dialog> definitions() {
    std::vector<Dialog> d;
#define KORAL_DIALOG(id, caption, cx, cy, style, face, points) d.push_back({id, caption, cx, cy, uint32_t(style), face, points, {}});
#define KORAL_CONTROL(id, kind, text, x, y, cx, cy, style, image) \
    d.back().controls.push_back({id, #kind, text, x, y, cx, cy, uint32_t(style), image});
#define KORAL_END()
#include "res/dialogs/dialogs.def"
#undef KORAL_DIALOG
#undef KORAL_CONTROL
#undef KORAL_END
    return d;
}

std::string windowClass(const std::string& kind) {
    static const std::map<std::string, std::string> classes = {
        {"Static", "static"}, {"Frame", "static"},     {"Picture", "static"}, {"Icon", "static"},
        {"PushButton", "button"}, {"CheckBox", "button"}, {"Edit", "edit"},  {"Progress", "msctls_progress32"}};
    auto it = classes.find(kind);
    return it == classes.end() ? "?" + kind : it->second;
}

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(uint8_t(c)));
    return s;
}

TEST(WindowsResourcesTest, EveryDialogControlIsItsDefinition) {
    ResFile res = readRes(KORAL_DIALOGS_RES);
    std::vector<Dialog> defs = definitions();
    ASSERT_EQ(defs.size(), 6u);
    int dialogsInRes = 0;
    for (const auto& [key, data] : res) dialogsInRes += key.first.ordinal == RT_DIALOG_;
    EXPECT_EQ(dialogsInRes, int(defs.size()));

    for (const Dialog& def : defs) {
        SCOPED_TRACE("dialog " + std::to_string(def.id));
        auto it = res.find({ord(RT_DIALOG_), ord(def.id)});
        ASSERT_NE(it, res.end());
        Reader r{it->second};
        EXPECT_EQ(r.u16(), 1);       // DLGTEMPLATEEX
        EXPECT_EQ(r.u16(), 0xFFFF);
        EXPECT_EQ(r.u32(), 0u);      // help id
        EXPECT_EQ(r.u32(), 0u);      // extended style
        EXPECT_EQ(r.u32(), def.style);
        uint16_t items = r.u16();
        EXPECT_EQ(r.s16(), 0);
        EXPECT_EQ(r.s16(), 0);
        EXPECT_EQ(r.s16(), def.cx);
        EXPECT_EQ(r.s16(), def.cy);
        for (const char* what : {"menu", "window class"}) {  // none: the dialog manager's own
            ResId none = r.id();
            EXPECT_TRUE(none.ordinal == -1 && none.name.empty()) << what;
        }
        EXPECT_EQ(r.wstr(), def.caption);
        EXPECT_EQ(r.u16(), def.points);
        EXPECT_EQ(r.u16(), 0);         // weight
        EXPECT_EQ(r.n(1), 0u);         // not italic
        EXPECT_EQ(r.n(1), 1u);         // DEFAULT_CHARSET
        EXPECT_EQ(r.wstr(), def.face);
        ASSERT_EQ(items, def.controls.size());
        for (const Control& c : def.controls) {
            SCOPED_TRACE("control " + std::to_string(c.id) + " \"" + c.text + "\"");
            r.align4();
            EXPECT_EQ(r.u32(), 0u);
            EXPECT_EQ(r.u32(), 0u);
            EXPECT_EQ(r.u32(), c.style);
            EXPECT_EQ(r.s16(), c.x);
            EXPECT_EQ(r.s16(), c.y);
            EXPECT_EQ(r.s16(), c.cx);
            EXPECT_EQ(r.s16(), c.cy);
            EXPECT_EQ(int32_t(r.u32()), c.id);
            EXPECT_EQ(lower(r.id().name), windowClass(c.kind));
            ResId title = r.id();
            if (c.image != 0) {
                EXPECT_EQ(title.ordinal, c.image);
            } else {
                EXPECT_EQ(title.ordinal, -1);
                EXPECT_EQ(title.name, c.text);
            }
            EXPECT_EQ(r.u16(), 0);  // no creation data
        }
        EXPECT_FALSE(r.bad);
        EXPECT_LE(it->second.size() - r.pos, 3u);
    }
}

struct IconImage {
    int width, height, bits;
};

// The images of one icon group, as the RT_ICON entries it names describe themselves.
std::vector<IconImage> iconGroup(const ResFile& res, int id) {
    std::vector<IconImage> out;
    auto group = res.find({ord(RT_GROUP_ICON_), ord(id)});
    if (group == res.end()) return out;
    Reader r{group->second};
    r.u16();
    EXPECT_EQ(r.u16(), 1);
    uint16_t count = r.u16();
    for (int i = 0; i < count; ++i) {
        int w = int(r.n(1)), h = int(r.n(1));
        r.n(2);
        r.u16();
        int bits = r.u16();
        r.u32();
        int iconId = r.u16();
        auto icon = res.find({ord(RT_ICON_), ord(iconId)});
        if (icon == res.end()) {
            ADD_FAILURE() << "icon " << id << " names a missing image " << iconId;
            continue;
        }
        Reader ir{icon->second};
        EXPECT_EQ(ir.u32(), 40u);
        EXPECT_EQ(int(ir.u32()), w);
        EXPECT_EQ(int(ir.u32()), 2 * h);  // colour and mask
        ir.u16();
        EXPECT_EQ(ir.u16(), bits);
        // The centre of every image is drawn: its mask bit says opaque.
        size_t colors = bits <= 8 ? (size_t(1) << bits) * 4 : 0;
        size_t maskRow = size_t((w + 31) / 32 * 4), colorRow = size_t((w * bits + 31) / 32 * 4);
        size_t centre = 40 + colors + colorRow * size_t(h) + maskRow * size_t(h / 2) + size_t(w / 2 / 8);
        EXPECT_LT(centre, icon->second.size());
        if (centre < icon->second.size()) {
            EXPECT_EQ(uint8_t(icon->second[centre]) & (0x80 >> (w / 2 % 8)), 0) << "icon " << id << " " << w << "px";
        }
        out.push_back({w, h, bits});
    }
    return out;
}

bool hasImage(const std::vector<IconImage>& images, int size, int bits) {
    for (const IconImage& i : images) {
        if (i.width == size && i.height == size && i.bits == bits) return true;
    }
    return false;
}

TEST(WindowsResourcesTest, IconsBitmapAndManifest) {
    ResFile res = readRes(KORAL_WIZARD_RES);
    std::vector<IconImage> main = iconGroup(res, 128);
    EXPECT_TRUE(hasImage(main, 32, 4));  // 16 colours
    EXPECT_TRUE(hasImage(main, 16, 4));
    for (int id : {162, 163, 164, 165}) {
        SCOPED_TRACE(id);
        std::vector<IconImage> images = iconGroup(res, id);
        EXPECT_TRUE(hasImage(images, 32, 32));
        EXPECT_TRUE(hasImage(images, 16, 32));
    }

    auto bitmap = res.find({ord(RT_BITMAP_), ord(135)});
    ASSERT_NE(bitmap, res.end());
    Reader r{bitmap->second};  // a DIB: the file header is gone
    EXPECT_EQ(r.u32(), 40u);
    EXPECT_EQ(r.u32(), 161u);
    EXPECT_EQ(r.u32(), 313u);
    r.u16();
    EXPECT_EQ(r.u16(), 8);
    EXPECT_EQ(r.u32(), 0u);  // uncompressed
    r.u32();
    r.u32();
    r.u32();
    EXPECT_EQ(r.u32(), 256u);
    EXPECT_EQ(bitmap->second.size(), 40u + 256 * 4 + 164 * 313);

    auto manifest = res.find({ord(RT_MANIFEST_), ord(1)});
    ASSERT_NE(manifest, res.end());
    const std::string& m = manifest->second;
    EXPECT_NE(m.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(m.find("version=\"" KORAL_VERSION_TEXT "\""), std::string::npos);
}

TEST(WindowsResourcesTest, VersionBlockCarriesTheFileVersion) {
    ResFile res = readRes(KORAL_VERSION_RES);
    auto version = res.find({ord(RT_VERSION_), ord(1)});
    ASSERT_NE(version, res.end());
    const std::string& v = version->second;
    size_t fixed = v.find("\xBD\x04\xEF\xFE", 0, 4);
    ASSERT_NE(fixed, std::string::npos);
    Reader r{v, fixed + 8};
    EXPECT_EQ(r.u32(), uint32_t(KORAL_VERSION_MAJOR << 16 | KORAL_VERSION_MINOR));
    EXPECT_EQ(r.u32(), uint32_t(KORAL_VERSION_PATCH << 16 | KORAL_VERSION_BUILD));
}

TEST(WindowsResourcesTest, TheGeneratorRemakesTheImagesInTheTree) {
    std::string dir = ::testing::TempDir() + "koral_images";
    std::string command = std::string("mkdir -p '") + dir + "' && '" KORAL_IMGGEN "' '" + dir + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const char* name : {"mainframe.ico", "done.ico", "failed.ico", "unsure.ico", "busy.ico", "sidebar.bmp"}) {
        SCOPED_TRACE(name);
        std::string made = readFile(dir + "/" + name);
        EXPECT_FALSE(made.empty());
        EXPECT_TRUE(made == readFile(std::string(KORAL_IMAGES_DIR "/") + name)) << "remake them (res/images/README.md)";
    }
}

}  // namespace
