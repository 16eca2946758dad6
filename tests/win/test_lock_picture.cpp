// The lock window's picture loader on real files: each format GDI+ writes
// here is read back and stretched over a bitmap of the requested size.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "lock/picture_win.h"

namespace tolvane {
namespace {

namespace gp = Gdiplus::DllExports;

std::wstring TempDir() {
  wchar_t buf[MAX_PATH];
  GetTempPathW(MAX_PATH, buf);
  std::wstring dir = std::wstring(buf) + L"tolvane_picture_test";
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  CloseHandle(f);
}

bool EncoderFor(const wchar_t* mime, CLSID* clsid) {
  UINT count = 0, size = 0;
  if (gp::GdipGetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
  std::vector<BYTE> buf(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buf.data());
  if (gp::GdipGetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (std::wstring(codecs[i].MimeType) == mime) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

// The same picture as a GIF file. Wine's GIF encoder writes files its own
// decoder rejects, so this one comes ready-made.
const char kTwoColourGif[] =
    "\x47\x49\x46\x38\x39\x61\x28\x00\x14\x00\xf0\x00\x00\xff\x00\x00\x00\x00\xff\x21\xf9\x04\x00\x00"
    "\x00\x00\x00\x2c\x00\x00\x00\x00\x28\x00\x14\x00\x00\x02\x39\x84\x8f\x99\xc1\xed\xff\x94\x94\xb0"
    "\xd6\x89\x8f\xdd\x2d\x67\xce\x79\x18\xb8\x89\x13\x69\x99\x14\x0a\xa9\x0a\xdb\xba\x08\x1c\xc9\x1a"
    "\xdd\xd9\x06\x9e\xeb\x3c\xa3\xdb\xfd\x82\x80\x5f\x80\x68\x44\x0e\x83\x49\xe6\xd2\xf7\xb4\x19\x0b"
    "\x00\x3b";

// A 40 x 20 picture: left half red, right half blue.
bool WriteTwoColourPicture(const std::wstring& path, const wchar_t* mime) {
  static ULONG_PTR token = [] {
    ULONG_PTR t = 0;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&t, &input, nullptr);
    return t;
  }();
  (void)token;
  if (std::wstring(mime) == L"image/gif") {
    WriteBytes(path, std::string(kTwoColourGif, sizeof(kTwoColourGif) - 1));
    return true;
  }
  CLSID encoder;
  if (!EncoderFor(mime, &encoder)) return false;
  Gdiplus::GpBitmap* bmp = nullptr;
  if (gp::GdipCreateBitmapFromScan0(40, 20, 0, PixelFormat24bppRGB, nullptr, &bmp) != Gdiplus::Ok) return false;
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 40; ++x) gp::GdipBitmapSetPixel(bmp, x, y, x < 20 ? 0xFFFF0000 : 0xFF0000FF);
  }
  const bool ok = gp::GdipSaveImageToFile(bmp, path.c_str(), &encoder, nullptr) == Gdiplus::Ok;
  gp::GdipDisposeImage(bmp);
  return ok;
}

struct Pixel {
  int r, g, b;
};

Pixel At(HBITMAP bmp, int x, int y) {
  DIBSECTION ds = {};
  GetObjectW(bmp, sizeof(ds), &ds);
  const auto* row = static_cast<const BYTE*>(ds.dsBm.bmBits) + static_cast<std::size_t>(y) * ds.dsBm.bmWidthBytes;
  const BYTE* p = row + x * 3;  // top-down BGR
  return {p[2], p[1], p[0]};
}

bool Near(Pixel p, int r, int g, int b, int tolerance) {
  return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
}

TEST(LoadStretchedPicture, EachFormatCoversTheWholeBitmap) {
  const std::wstring dir = TempDir();
  const struct {
    const wchar_t* file;
    const wchar_t* mime;
    int tolerance;  // JPEG is lossy
  } cases[] = {
      {L"\\p.bmp", L"image/bmp", 2},
      {L"\\p.gif", L"image/gif", 8},
      {L"\\p.jpg", L"image/jpeg", 48},
  };
  constexpr int kW = 200, kH = 100;
  for (const auto& c : cases) {
    const std::wstring path = dir + c.file;
    ASSERT_TRUE(WriteTwoColourPicture(path, c.mime)) << c.mime;
    HBITMAP bmp = LoadStretchedPicture(path, kW, kH);
    ASSERT_NE(bmp, nullptr) << c.mime;
    DIBSECTION ds = {};
    ASSERT_EQ(GetObjectW(bmp, sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
    EXPECT_EQ(ds.dsBm.bmWidth, kW);
    EXPECT_EQ(std::abs(ds.dsBm.bmHeight), kH);
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 24);
    // Stretched, not copied at its own size: red reaches the middle, blue
    // the right edge. The corners carry the picture's own colours, with no
    // dark frame from edge interpolation.
    const Pixel probes[] = {At(bmp, 0, 0), At(bmp, 90, 50), At(bmp, 110, 50), At(bmp, kW - 1, kH - 1)};
    EXPECT_TRUE(Near(probes[0], 255, 0, 0, c.tolerance)) << c.mime << " top-left";
    EXPECT_TRUE(Near(probes[1], 255, 0, 0, c.tolerance)) << c.mime << " left of the middle";
    EXPECT_TRUE(Near(probes[2], 0, 0, 255, c.tolerance)) << c.mime << " right of the middle";
    EXPECT_TRUE(Near(probes[3], 0, 0, 255, c.tolerance)) << c.mime << " bottom-right";
    DeleteObject(bmp);
    // The file is not held open afterwards.
    EXPECT_TRUE(DeleteFileW(path.c_str())) << c.mime;
  }
}

TEST(LoadStretchedPicture, NoPictureGivesNoBitmap) {
  const std::wstring dir = TempDir();
  const std::wstring garbage = dir + L"\\garbage.jpg";
  std::string noise(4096, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919u) >> 3);
  WriteBytes(garbage, noise);
  const std::wstring empty = dir + L"\\empty.jpg";
  WriteBytes(empty, "");
  // A JPEG that stops after its header.
  const std::wstring cut = dir + L"\\cut.jpg";
  WriteBytes(cut, std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20));

  for (const std::wstring& path : {dir + L"\\missing.jpg", garbage, empty, cut, dir, std::wstring()}) {
    HBITMAP bmp = LoadStretchedPicture(path, 64, 48);
    EXPECT_EQ(bmp, nullptr) << std::string(path.begin(), path.end());
    if (bmp) DeleteObject(bmp);
  }
  DeleteFileW(garbage.c_str());
  DeleteFileW(empty.c_str());
  DeleteFileW(cut.c_str());
}

}  // namespace
}  // namespace tolvane
