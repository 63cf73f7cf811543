// The dialog templates as compiled into the program's resources, control by
// control, against the table of the main dialog and the About box.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// after <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwctype>
#include <ostream>
#include <string>
#include <vector>

#include "gui_win32/resource.h"

namespace {

// A class or title: an ordinal (0xFFFF form) or a string.
struct NameOrOrdinal {
  uint16_t ordinal = 0;
  std::wstring text;
  bool operator==(const NameOrOrdinal&) const = default;
};

std::ostream& operator<<(std::ostream& out, const NameOrOrdinal& name) {
  if (name.ordinal != 0) return out << "#" << name.ordinal;
  out << '"';
  for (wchar_t c : name.text) {
    if (c < 0x80) {
      out << char(c);
    } else {
      out << "\\u" << std::hex << unsigned(c) << std::dec;
    }
  }
  return out << '"';
}

// Window class names are matched without regard to case.
std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

struct Item {
  int id;
  NameOrOrdinal cls;
  uint32_t style;
  uint32_t exStyle;
  NameOrOrdinal title;
  int x, y, cx, cy;
};

struct Template {
  uint32_t style = 0, exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::wstring caption;
  int pointSize = 0;
  std::wstring font;
  std::vector<Item> items;
};

// Reads a DLGTEMPLATEEX and its DLGITEMTEMPLATEEX records (little-endian
// WORDs and DWORDs; items start on DWORD boundaries).
class TemplateReader {
 public:
  TemplateReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  Template Read() {
    Template t;
    EXPECT_EQ(Word(), 1);       // dlgVer
    EXPECT_EQ(Word(), 0xFFFF);  // signature: extended template
    (void)Dword();              // help id
    t.exStyle = Dword();
    t.style = Dword();
    const int count = Word();
    t.x = Short(), t.y = Short(), t.cx = Short(), t.cy = Short();
    EXPECT_EQ(Name(), NameOrOrdinal{});  // no menu
    EXPECT_EQ(Name(), NameOrOrdinal{});  // the standard dialog class
    t.caption = Name().text;
    if (t.style & (DS_SETFONT | DS_SHELLFONT)) {
      t.pointSize = Word();
      (void)Word();  // weight
      m_pos += 2;    // italic, charset
      t.font = Name().text;
    }
    for (int i = 0; i < count; ++i) {
      m_pos = (m_pos + 3) & ~size_t(3);
      Item item{};
      (void)Dword();  // help id
      item.exStyle = Dword();
      item.style = Dword();
      item.x = Short(), item.y = Short(), item.cx = Short(), item.cy = Short();
      item.id = static_cast<int32_t>(Dword());
      item.cls = Name();
      item.title = Name();
      m_pos += Word();  // creation data
      t.items.push_back(item);
    }
    EXPECT_LE(m_pos, m_size);
    return t;
  }

 private:
  uint16_t Word() {
    if (m_pos + 2 > m_size) {
      ADD_FAILURE() << "template ends early";
      return 0;
    }
    const uint16_t v = uint16_t(m_data[m_pos] | m_data[m_pos + 1] << 8);
    m_pos += 2;
    return v;
  }
  int Short() { return static_cast<int16_t>(Word()); }
  uint32_t Dword() {
    const uint32_t low = Word();
    return low | uint32_t(Word()) << 16;
  }
  NameOrOrdinal Name() {
    NameOrOrdinal n;
    const uint16_t first = Word();
    if (first == 0xFFFF) {
      n.ordinal = Word();
    } else {
      for (uint16_t c = first; c != 0 && m_pos < m_size; c = Word()) n.text.push_back(wchar_t(c));
    }
    return n;
  }

  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};

// Resource types by number (RT_DIALOG and the rest are narrow-string macros).
constexpr int kTypeDialog = 5, kTypeGroupIcon = 14, kTypeManifest = 24;

Template LoadTemplate(int id) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(kTypeDialog));
  if (found == nullptr) {
    ADD_FAILURE() << "no dialog resource " << id;
    return {};
  }
  const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  return TemplateReader(data, SizeofResource(module, found)).Read();
}

constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;
const NameOrOrdinal kButton{0x0080, {}}, kEdit{0x0081, {}}, kStatic{0x0082, {}};
const NameOrOrdinal kProgressClass{0, L"msctls_progress32"};
NameOrOrdinal Text(const wchar_t* text) {
  return {0, text};
}
constexpr uint32_t kFrame =
    DS_SETFONT | DS_FIXEDSYS | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;

void ExpectItems(const Template& t, const std::vector<Item>& expected) {
  ASSERT_EQ(t.items.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const Item& want = expected[i];
    const Item& got = t.items[i];
    SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.id));
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.cls.ordinal, want.cls.ordinal) << got.cls;
    EXPECT_EQ(Lower(got.cls.text), Lower(want.cls.text)) << got.cls;
    EXPECT_EQ(got.style, want.style) << std::hex << got.style;
    EXPECT_EQ(got.exStyle, want.exStyle);
    EXPECT_EQ(got.title, want.title);
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.cx, want.cx);
    EXPECT_EQ(got.cy, want.cy);
  }
}

TEST(DialogTemplate, MainDialog) {
  const Template t = LoadTemplate(IDD_MAIN);
  // A modal frame with caption bar and system menu, no minimise or maximise box.
  EXPECT_EQ(t.style, kFrame);
  EXPECT_EQ(t.style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
  EXPECT_EQ(t.exStyle, static_cast<uint32_t>(WS_EX_APPWINDOW));
  EXPECT_EQ(t.caption, L"Flash Tool V1.4");
  EXPECT_EQ(t.cx, 344);
  EXPECT_EQ(t.cy, 138);
  EXPECT_EQ(t.font, L"MS Shell Dlg");
  EXPECT_EQ(t.pointSize, 8);

  constexpr uint32_t kPathBox = kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
  constexpr uint32_t kPush = kChild | WS_TABSTOP | BS_PUSHBUTTON;
  constexpr uint32_t kRadio = kChild | WS_TABSTOP | BS_AUTORADIOBUTTON;
  constexpr uint32_t kLabel = kChild | WS_GROUP | SS_LEFT;
  ExpectItems(t, {
                     {1006, kEdit, kPathBox, 0, Text(L""), 64, 20, 184, 14},
                     {1026, kButton, kPush, 0, Text(L"..."), 272, 20, 42, 14},
                     {1002, kEdit, kPathBox, 0, Text(L""), 64, 55, 184, 14},
                     {1028, kButton, kPush, 0, Text(L"..."), 270, 55, 44, 14},
                     {1036, kButton, kRadio | WS_GROUP, 0, Text(L"板载方式烧写"), 85, 81, 64, 10},
                     {1037, kButton, kRadio, 0, Text(L"读卡器方式烧写"), 177, 81, 72, 10},
                     {1015, kButton, kPush, 0, Text(L"烧写"), 269, 81, 45, 14},
                     {1027, kProgressClass, kChild | WS_BORDER | PBS_SMOOTH, 0, Text(L""), 15, 105,
                      304, 14},
                     {-1, kStatic, kLabel, 0, Text(L"配置文件"), 12, 22, 42, 8},
                     {-1, kStatic, kLabel, 0, Text(L"打包文件123"), 12, 59, 40, 8},
                     {-1, kStatic, kLabel, 0, Text(L""), 14, 68, 8, 8},
                 });
}

TEST(DialogTemplate, AboutBox) {
  const Template t = LoadTemplate(IDD_ABOUT);
  EXPECT_EQ(t.style, kFrame);
  EXPECT_EQ(t.caption, L"Zelmar Flash Tool");
  EXPECT_EQ(t.cx, 235);
  EXPECT_EQ(t.cy, 55);
  EXPECT_EQ(t.font, L"MS Shell Dlg");
  EXPECT_EQ(t.pointSize, 9);
  ExpectItems(
      t, {
             {-1, Text(L"Static"), kChild | SS_ICON, 0, NameOrOrdinal{IDI_APP, {}}, 11, 17, 20, 20},
             {-1, kStatic, kChild | WS_GROUP | SS_LEFT | SS_NOPREFIX, 0, Text(L"Flash Tool V1.4"),
              40, 10, 119, 8},
             {-1, kStatic, kChild | WS_GROUP | SS_LEFT, 0, Text(L"Tarnwick developers, 2025"), 39,
              25, 119, 8},
             {IDOK, kButton, kChild | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, 0, Text(L"ok"), 178,
              7, 50, 16},
         });
}

// The other resources: the About item's text, an icon with several sizes and
// the manifest's two requests.
TEST(DialogTemplate, StringIconAndManifest) {
  HMODULE module = GetModuleHandleW(nullptr);
  wchar_t text[64] = {};
  ASSERT_GT(LoadStringW(module, IDS_ABOUT_MENU, text, 64), 0);
  EXPECT_STREQ(text, L"Zelmar Flash...");

  HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(IDI_APP), MAKEINTRESOURCEW(kTypeGroupIcon));
  ASSERT_NE(group, nullptr);
  const auto* dir = static_cast<const uint8_t*>(LockResource(LoadResource(module, group)));
  EXPECT_GE(dir[4] | dir[5] << 8, 4);  // idCount: 16 to 256 pixels

  HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(kTypeManifest));
  ASSERT_NE(manifest, nullptr);
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
  const std::string xml(bytes, SizeofResource(module, manifest));
  EXPECT_NE(xml.find("level=\"requireAdministrator\" uiAccess=\"false\""), std::string::npos);
  EXPECT_NE(xml.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
}

}  // namespace
