// The window chrome's pictures as the program decodes them from its resources
// (PNG through the platform's codecs): every one of the twenty, at each of the
// four scales, must come out pixel for pixel as the plain bitmaps the program
// carried before they were compressed. This binary carries the same
// resources (resources/chrome.rc).
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "appearance/chrome_win.h"
#include "platform/wic_win.h"
#include "resource.h"

namespace tolvane {
namespace {

// The pixels of a bitmap as rows from the top, three bytes R, G, B a pixel.
std::vector<BYTE> RgbRows(HBITMAP bmp, int* width, int* height) {
  BITMAP bm = {};
  if (!GetObjectW(bmp, sizeof(bm), &bm)) return {};
  *width = bm.bmWidth;
  *height = bm.bmHeight;
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = bm.bmWidth;
  bi.bmiHeader.biHeight = -bm.bmHeight;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  std::vector<BYTE> bgra(static_cast<std::size_t>(bm.bmWidth) * bm.bmHeight * 4);
  HDC dc = GetDC(nullptr);
  const int rows = GetDIBits(dc, bmp, 0, static_cast<UINT>(bm.bmHeight), bgra.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (rows != bm.bmHeight) return {};
  std::vector<BYTE> rgb;
  rgb.reserve(bgra.size() / 4 * 3);
  for (std::size_t i = 0; i < bgra.size(); i += 4) {
    rgb.push_back(bgra[i + 2]);
    rgb.push_back(bgra[i + 1]);
    rgb.push_back(bgra[i]);
  }
  return rgb;
}

std::string Sha256Hex(const std::vector<BYTE>& data) {
  HCRYPTPROV prov = 0;
  HCRYPTHASH hash = 0;
  std::string hex;
  if (CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    BYTE digest[32];
    DWORD len = sizeof(digest);
    if (CryptCreateHash(prov, CALG_SHA_256, 0, 0, &hash) &&
        CryptHashData(hash, data.data(), static_cast<DWORD>(data.size()), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, digest, &len, 0)) {
      char two[3];
      for (DWORD i = 0; i < len; ++i) {
        std::snprintf(two, sizeof(two), "%02x", digest[i]);
        hex += two;
      }
    }
    if (hash) CryptDestroyHash(hash);
    CryptReleaseContext(prov, 0);
  }
  return hex;
}

struct Expected {
  int id;
  const char* name;
  int width, height;
  // SHA-256 of the R, G, B bytes of the rows from the top, taken from the
  // bitmaps (resources/*.bmp) the program carried before; a change of the
  // design changes these on purpose.
  const char* sha256;
};

constexpr Expected kPictures[] = {
    {IDB_FRAME, "frame", 340, 300, "d8355fb7d5f846008ea7ab6c15979b428f5f745da72e119481f50ef5caa8ff53"},
    {IDB_CLOSE_NORMAL, "close_normal", 24, 20, "f08b227c95034b2e1a4d530f865803942a56eb1e959550bb5ab37b24473de61c"},
    {IDB_CLOSE_HOVER, "close_hover", 24, 20, "38b6fd75520ae676f3fad5928c5c6020324cf26e22f0ff85286de040eabca511"},
    {IDB_CLOSE_PRESSED, "close_pressed", 24, 20, "0678d12835e1683dedc3475dae39fa74b9d0b5939707383b6890fbd26c1e3918"},
    {IDB_TITLE_ICON, "title_icon", 18, 18, "f4734025e119e59f0f40c30c1c5d04b0e9746ae7ba632de5e811a49948328b62"},
    {IDB_FRAME + 10, "frame@125", 425, 329, "fb84f6c8fddddd6bbd70661ea63b8ebfc47560bb302f3cc0eebcd9103a537fd8"},
    {IDB_CLOSE_NORMAL + 10, "close_normal@125", 30, 25,
     "a8fe293e12bc05b36bc49f27cdd3917f9f119338f11a401f8161b066e2c2ed39"},
    {IDB_CLOSE_HOVER + 10, "close_hover@125", 30, 25,
     "5b10af8db97cc9953f06688c7dc02652a52e9f755c5ab381d27bc200b76fa786"},
    {IDB_CLOSE_PRESSED + 10, "close_pressed@125", 30, 25,
     "331157a3e4fa1b1ae19f497df5945aefd602562702c449938e9cf4a322454042"},
    {IDB_TITLE_ICON + 10, "title_icon@125", 23, 23, "839c99a46f39c9c0852fb82e66bccd19ffd52b087c0200c5777e5a3299e47c71"},
    {IDB_FRAME + 20, "frame@150", 510, 395, "9de5cf28cbcca7a579cd6c417b3359ac9263125924cc096ceede122248c0c0a7"},
    {IDB_CLOSE_NORMAL + 20, "close_normal@150", 36, 30,
     "78ff9958d8fa6b2325ae5f041ed6df66613ae8fbd5a9cd843bce8483fc9b8497"},
    {IDB_CLOSE_HOVER + 20, "close_hover@150", 36, 30,
     "521128da5b40c4884f4d1fa95d00d0e93a9b498899e2d33870b88a7916b03309"},
    {IDB_CLOSE_PRESSED + 20, "close_pressed@150", 36, 30,
     "811591074436b9a92c4c6926446b2e7630560af71934e2c03f8e0f6905460684"},
    {IDB_TITLE_ICON + 20, "title_icon@150", 27, 27, "7fbbc94a5c49464960a8e9957a5770c1afaab9d30b112dbaa7f29c3fcac9657d"},
    {IDB_FRAME + 30, "frame@200", 680, 526, "ef7bafa8e1f41b5c9feaf0ff15ffb24a3f9b73290831723f95cba12eb0d7d057"},
    {IDB_CLOSE_NORMAL + 30, "close_normal@200", 48, 40,
     "6f0608084963c17422744ab4f839709e009578fd92dce063af17ac5385056d49"},
    {IDB_CLOSE_HOVER + 30, "close_hover@200", 48, 40,
     "feaa348fe64b2b76321888e3cfad6ab427ab3cb80baaf99f1889e8531b1c2bef"},
    {IDB_CLOSE_PRESSED + 30, "close_pressed@200", 48, 40,
     "cb324cd4fef95562435ca53130d6a6362ece587d813919361fa7aee84813c639"},
    {IDB_TITLE_ICON + 30, "title_icon@200", 36, 36, "831df248d51bfb6013eb75e372971a0d40182f44d2a51a255a83cc554c370626"},
};

TEST(ChromePictures, EveryPictureDecodesToThePixelsOfTheOldBitmap) {
  const Codecs codecs;
  ASSERT_TRUE(codecs.ok()) << "no picture codecs";
  // The hash itself, on a known input (SHA-256 of "abc").
  ASSERT_EQ(Sha256Hex({'a', 'b', 'c'}), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  for (const Expected& e : kPictures) {
    SCOPED_TRACE(e.name);
    HBITMAP bmp = LoadChromePicture(codecs, e.id);
    ASSERT_NE(bmp, nullptr);
    int width = 0, height = 0;
    const std::vector<BYTE> rgb = RgbRows(bmp, &width, &height);
    DeleteObject(bmp);
    EXPECT_EQ(width, e.width);
    EXPECT_EQ(height, e.height);
    ASSERT_FALSE(rgb.empty());
    EXPECT_EQ(Sha256Hex(rgb), e.sha256);
  }
}

TEST(ChromePictures, AMissingOrDamagedPictureGivesNoBitmap) {
  const Codecs codecs;
  ASSERT_TRUE(codecs.ok());
  EXPECT_EQ(LoadChromePicture(codecs, IDB_FRAME + 40), nullptr);  // no fifth scale

  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(IDB_FRAME), RT_RCDATA);
  ASSERT_NE(found, nullptr);
  const BYTE* png = static_cast<const BYTE*>(LockResource(LoadResource(self, found)));
  const DWORD size = SizeofResource(self, found);
  ASSERT_GT(size, 64u);
  // Cut short in the image data, and with its header bytes changed.
  EXPECT_EQ(DecodePng(codecs, png, size / 2), nullptr);
  std::vector<BYTE> damaged(png, png + size);
  damaged[1] = 'X';
  EXPECT_EQ(DecodePng(codecs, damaged.data(), damaged.size()), nullptr);
  EXPECT_EQ(DecodePng(codecs, png, 0), nullptr);
}

}  // namespace
}  // namespace tolvane
