#include "lock/picture_win.h"

// WIN32_LEAN_AND_MEAN leaves out the COM types the GDI+ headers need.
#include <objidl.h>
#include <gdiplus.h>

namespace tolvane {
namespace {

namespace gp = Gdiplus::DllExports;

// GDI+ is started once and left running: shutting it down while the process
// ends (from a static destructor or DLL detach) is documented to deadlock.
bool GdiplusReady() {
  static const bool ready = [] {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
  }();
  return ready;
}

// Draws the image over the whole bitmap. False when GDI+ refuses.
bool Stretch(Gdiplus::GpImage* image, HDC dc, int width, int height) {
  UINT iw = 0, ih = 0;
  if (gp::GdipGetImageWidth(image, &iw) != Gdiplus::Ok || gp::GdipGetImageHeight(image, &ih) != Gdiplus::Ok ||
      iw == 0 || ih == 0) {
    return false;
  }
  Gdiplus::GpGraphics* g = nullptr;
  if (gp::GdipCreateFromHDC(dc, &g) != Gdiplus::Ok) return false;
  gp::GdipSetInterpolationMode(g, Gdiplus::InterpolationModeBilinear);
  gp::GdipSetPixelOffsetMode(g, Gdiplus::PixelOffsetModeHalf);
  // Mirrored tiling at the edges: without it the interpolation blends the
  // outermost rows and columns with transparent black, a dark frame.
  Gdiplus::GpImageAttributes* attrs = nullptr;
  if (gp::GdipCreateImageAttributes(&attrs) == Gdiplus::Ok) {
    gp::GdipSetImageAttributesWrapMode(attrs, Gdiplus::WrapModeTileFlipXY, 0, FALSE);
  }
  const Gdiplus::GpStatus st =
      gp::GdipDrawImageRectRectI(g, image, 0, 0, width, height, 0, 0, static_cast<INT>(iw), static_cast<INT>(ih),
                                 Gdiplus::UnitPixel, attrs, nullptr, nullptr);
  if (attrs) gp::GdipDisposeImageAttributes(attrs);
  gp::GdipDeleteGraphics(g);
  return st == Gdiplus::Ok;
}

}  // namespace

HBITMAP LoadStretchedPicture(const std::wstring& path, int width, int height) {
  if (path.empty() || width <= 0 || height <= 0 || !GdiplusReady()) return nullptr;
  Gdiplus::GpImage* image = nullptr;
  if (gp::GdipLoadImageFromFile(path.c_str(), &image) != Gdiplus::Ok || !image) return nullptr;

  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = bmp ? CreateCompatibleDC(nullptr) : nullptr;
  bool ok = false;
  if (dc) {
    HGDIOBJ old = SelectObject(dc, bmp);
    // A picture with transparent parts (GIF) shows black there, not garbage.
    PatBlt(dc, 0, 0, width, height, BLACKNESS);
    ok = Stretch(image, dc, width, height);
    SelectObject(dc, old);
    DeleteDC(dc);
  }
  // Disposing the image closes the file; GDI+ keeps it open until then.
  gp::GdipDisposeImage(image);
  if (!ok && bmp) {
    DeleteObject(bmp);
    bmp = nullptr;
  }
  return bmp;
}

}  // namespace tolvane
