// The program icon as the main window's class takes it: LoadIconW for the
// large one, LoadImageW at 16 x 16 for the small one. app.ico stores both
// images PNG-compressed, so this checks that the loader makes colour icons of
// the right sizes out of them whose pixels are the art, transparency
// included: each is drawn at its own size over two backgrounds.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/gdi_draw.h"
#include "ui/resource_ids.h"

namespace oq {
namespace {

// The art as tools/art/make_icon.py draws it: '.' transparent, 'B' the deep
// blue square, 'W' the light ring.
const char* const kArt32[] = {
    "................................",
    "...BBBBBBBBBBBBBBBBBBBBBBBBBB...",
    "..BBBBBBBBBBBBBBBBBBBBBBBBBBBB..",
    ".BBBBBBBBBBBBBBBBBBBBBBBBBBBBBB.",
    ".BBBBBBBBBBBBBBBBBBBBBBBBBBBBBB.",
    ".BBBBBBBBBBBBWWWWWWBBBBBBBBBBBB.",
    ".BBBBBBBBBBWWWWWWWWWWBBBBBBBBBB.",
    ".BBBBBBBBWWWWWWWWWWWWWWBBBBBBBB.",
    ".BBBBBBBWWWWWWWWWWWWWWWWBBBBBBB.",
    ".BBBBBBWWWWWWWWWWWWWWWWWWBBBBBB.",
    ".BBBBBBWWWWWWBBBBBBWWWWWWBBBBBB.",
    ".BBBBBWWWWWBBBBBBBBBBWWWWWBBBBB.",
    ".BBBBBWWWWWBBBBBBBBBBWWWWWBBBBB.",
    ".BBBBWWWWWBBBBBBBBBBBBWWWWWBBBB.",
    ".BBBBWWWWWBBBBBBBBBBBBWWWWWBBBB.",
    ".BBBBWWWWWBBBBBBBBBBBBWWWWWBBBB.",
    ".BBBBWWWWWBBBBBBWWBBBBWWWWWBBBB.",
    ".BBBBWWWWWBBBBBBWWWBBBWWWWWBBBB.",
    ".BBBBWWWWWBBBBBBBWWWBBWWWWWBBBB.",
    ".BBBBBWWWWWBBBBBBBWWWWWWWWBBBBB.",
    ".BBBBBWWWWWBBBBBBBBWWWWWWWBBBBB.",
    ".BBBBBBWWWWWWBBBBBBWWWWWWBBBBBB.",
    ".BBBBBBWWWWWWWWWWWWWWWWWWBBBBBB.",
    ".BBBBBBBWWWWWWWWWWWWWWWWWBBBBBB.",
    ".BBBBBBBBWWWWWWWWWWWWWWWWWBBBBB.",
    ".BBBBBBBBBBWWWWWWWWWWBBBWWWBBBB.",
    ".BBBBBBBBBBBBWWWWWWBBBBBBWBBBBB.",
    ".BBBBBBBBBBBBBBBBBBBBBBBBBBBBBB.",
    ".BBBBBBBBBBBBBBBBBBBBBBBBBBBBBB.",
    "..BBBBBBBBBBBBBBBBBBBBBBBBBBBB..",
    "...BBBBBBBBBBBBBBBBBBBBBBBBBB...",
    "................................",
};
const char* const kArt16[] = {
    "..BBBBBBBBBBBB..",
    ".BBBBBBBBBBBBBB.",
    "BBBBBBBBBBBBBBBB",
    "BBBBBWWWWWWBBBBB",
    "BBBBWWWWWWWWBBBB",
    "BBBWWWBBBBWWWBBB",
    "BBBWWBBBBBBWWBBB",
    "BBBWWBBBBBBWWBBB",
    "BBBWWBBBWBBWWBBB",
    "BBBWWBBBBWBWWBBB",
    "BBBWWWBBBBWWWBBB",
    "BBBBWWWWWWWWBBBB",
    "BBBBBWWWWWWBWBBB",
    "BBBBBBBBBBBBBBBB",
    ".BBBBBBBBBBBBBB.",
    "..BBBBBBBBBBBB..",
};

// 0x00RRGGBB, as a 32-bit DIB holds a pixel.
constexpr uint32_t kBlue = 0x145AB4;   // 20, 90, 180
constexpr uint32_t kLight = 0xFFFAFA;  // 255, 250, 250
constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kMagenta = 0xFF00FF;

// LoadImageW without LR_SHARED: the caller destroys the icon.
void DestroyOwnedIcon(HICON icon) { DestroyIcon(icon); }
using OwnedIcon = win::Unique<win::NullEmpty<HICON, DestroyOwnedIcon>>;

// The size of the icon's colour bitmap; 0 x 0 for a monochrome icon.
SIZE ColourSize(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return {-1, -1};
  const gdi::Bitmap colour(info.hbmColor), mask(info.hbmMask);
  BITMAP bm{};
  if (!colour || !GetObjectW(colour.Get(), sizeof bm, &bm)) return {0, 0};
  return {bm.bmWidth, bm.bmHeight};
}

// The icon drawn at its own size over `background`, row by row.
std::vector<uint32_t> Drawn(HICON icon, int size, uint32_t background) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = size;
  bi.bmiHeader.biHeight = -size;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  uint32_t* bits = nullptr;
  const gdi::Bitmap dib(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0));
  if (!dib || !bits) {
    ADD_FAILURE() << "no DIB section";
    return {};
  }
  for (int i = 0; i < size * size; ++i) bits[i] = background;
  const gdi::MemoryDC dc(nullptr);
  {
    const gdi::Select selected(dc.Get(), dib.Get());
    // 0 x 0: the icon's own size, so a wrong one is not scaled into place.
    EXPECT_TRUE(DrawIconEx(dc.Get(), 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL));
    GdiFlush();
  }
  std::vector<uint32_t> pixels(bits, bits + size * size);
  for (uint32_t& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

// Every pixel against the art; the first few that differ, as text.
std::string Mismatches(const std::vector<uint32_t>& pixels, const char* const* art, int size, uint32_t background) {
  if (pixels.size() != static_cast<size_t>(size * size)) return "nothing drawn";
  std::string text;
  int count = 0;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const char c = art[y][x];
      const uint32_t want = c == 'B' ? kBlue : c == 'W' ? kLight : background;
      const uint32_t got = pixels[y * size + x];
      if (got == want) continue;
      if (++count <= 5) {
        char line[80];
        std::snprintf(line, sizeof line, "(%d,%d) %06X, not %06X; ", x, y, static_cast<unsigned>(got),
                      static_cast<unsigned>(want));
        text += line;
      }
    }
  }
  return count == 0 ? std::string() : std::to_string(count) + " pixels differ: " + text;
}

TEST(ProgramIconTest, LargeIconIsTheArtAt32By32) {
  ASSERT_EQ(GetSystemMetrics(SM_CXICON), 32);
  ASSERT_EQ(GetSystemMetrics(SM_CYICON), 32);
  // Shared by the system, as the window class holds it: not destroyed here.
  const HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(OQ_IDI_APP));
  ASSERT_NE(icon, nullptr) << GetLastError();
  const SIZE size = ColourSize(icon);
  EXPECT_EQ(size.cx, 32);
  EXPECT_EQ(size.cy, 32);
  for (const uint32_t background : {kBlack, kMagenta}) {
    EXPECT_EQ(Mismatches(Drawn(icon, 32, background), kArt32, 32, background), "")
        << "over " << std::hex << background;
  }
}

TEST(ProgramIconTest, SmallIconIsItsOwnArtAt16By16) {
  const OwnedIcon icon(
      static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(OQ_IDI_APP), IMAGE_ICON, 16, 16, 0)));
  ASSERT_NE(icon.Get(), nullptr) << GetLastError();
  const SIZE size = ColourSize(icon.Get());
  EXPECT_EQ(size.cx, 16);
  EXPECT_EQ(size.cy, 16);
  for (const uint32_t background : {kBlack, kMagenta}) {
    EXPECT_EQ(Mismatches(Drawn(icon.Get(), 16, background), kArt16, 16, background), "")
        << "over " << std::hex << background;
  }
}

}  // namespace
}  // namespace oq
