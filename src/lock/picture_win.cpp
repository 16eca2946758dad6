#include "lock/picture_win.h"

#include <wincodec.h>

#include <algorithm>
#include <vector>

#include "platform/lazy_dll_win.h"

namespace tolvane {
namespace {

// Releases a COM interface pointer when it goes out of scope.
template <typename T>
class Ref {
 public:
  Ref() = default;
  ~Ref() {
    if (p_) p_->Release();
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** put() { return &p_; }
  void** put_void() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

// The picture at width x height in premultiplied BGRA: transparent parts of a
// GIF come out black, as on a black canvas.
HRESULT ScaledSource(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, int width, int height,
                     bool scale_first, Ref<IWICBitmapScaler>& scaler, Ref<IWICFormatConverter>& converter,
                     IWICBitmapSource** out) {
  UINT iw = 0, ih = 0;
  HRESULT hr = frame->GetSize(&iw, &ih);
  if (FAILED(hr) || iw == 0 || ih == 0) return E_FAIL;
  // Fant averages when shrinking; linear is the better of the two when the
  // picture is smaller than the screen.
  const WICBitmapInterpolationMode mode =
      (iw >= static_cast<UINT>(width) && ih >= static_cast<UINT>(height)) ? WICBitmapInterpolationModeFant
                                                                          : WICBitmapInterpolationModeLinear;
  if (FAILED(hr = factory->CreateBitmapScaler(scaler.put()))) return hr;
  if (FAILED(hr = factory->CreateFormatConverter(converter.put()))) return hr;
  if (scale_first) {
    // Scaling the frame itself lets a JPEG decoder shrink in the DCT domain
    // and never hold the picture at its full size.
    if (FAILED(hr = scaler->Initialize(frame, static_cast<UINT>(width), static_cast<UINT>(height), mode))) return hr;
    hr = converter->Initialize(scaler.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                               WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) return hr;
    *out = converter.get();
  } else {
    hr = converter->Initialize(frame, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                               WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = scaler->Initialize(converter.get(), static_cast<UINT>(width), static_cast<UINT>(height), mode))) {
      return hr;
    }
    *out = scaler.get();
  }
  return S_OK;
}

// Copies the source into the 24-bit DIB rows band by band: the screen-sized
// bitmap is the one copy of the picture that stays, three bytes a pixel are
// all it needs (a quarter less than 32), and the 32-bit premultiplied rows
// only ever exist one band at a time.
bool CopyInto24(IWICBitmapSource* source, int width, int height, BYTE* bits) {
  constexpr int kBand = 32;
  const UINT in_stride = static_cast<UINT>(width) * 4;
  const std::size_t out_stride = (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
  std::vector<BYTE> band(static_cast<std::size_t>(in_stride) * kBand);
  for (int y = 0; y < height; y += kBand) {
    const int rows = std::min(kBand, height - y);
    const WICRect rect = {0, y, width, rows};
    if (FAILED(source->CopyPixels(&rect, in_stride, in_stride * static_cast<UINT>(rows), band.data()))) return false;
    for (int r = 0; r < rows; ++r) {
      const BYTE* in = band.data() + static_cast<std::size_t>(r) * in_stride;
      BYTE* out = bits + static_cast<std::size_t>(y + r) * out_stride;
      for (int x = 0; x < width; ++x, in += 4, out += 3) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
      }
    }
  }
  return true;
}

// The first frame of the decoder's picture, at width x height, in a new DIB section.
HBITMAP Render(IWICImagingFactory* factory, IWICBitmapDecoder* decoder, int width, int height) {
  Ref<IWICBitmapFrameDecode> frame;
  if (FAILED(decoder->GetFrame(0, frame.put()))) return nullptr;

  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bmp) return nullptr;
  bool ok = false;
  // Some decoders' formats (indexed colours) cannot be scaled as they are;
  // those are converted first and scaled after.
  for (bool scale_first : {true, false}) {
    Ref<IWICBitmapScaler> scaler;
    Ref<IWICFormatConverter> converter;
    IWICBitmapSource* source = nullptr;
    if (SUCCEEDED(ScaledSource(factory, frame.get(), width, height, scale_first, scaler, converter, &source)) &&
        CopyInto24(source, width, height, static_cast<BYTE*>(bits))) {
      ok = true;
      break;
    }
  }
  if (!ok) {
    DeleteObject(bmp);
    return nullptr;
  }
  GdiFlush();
  return bmp;
}

// The built-in decoder for the file's format, told by its first bytes.
const CLSID* DecoderFor(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return nullptr;
  unsigned char head[4] = {};
  DWORD got = 0;
  const BOOL ok = ReadFile(f, head, sizeof(head), &got, nullptr);
  CloseHandle(f);
  if (!ok || got < sizeof(head)) return nullptr;
  if (head[0] == 0xFF && head[1] == 0xD8) return &CLSID_WICJpegDecoder;
  if (head[0] == 'G' && head[1] == 'I' && head[2] == 'F' && head[3] == '8') return &CLSID_WICGifDecoder;
  if (head[0] == 'B' && head[1] == 'M') return &CLSID_WICBmpDecoder;
  if (head[0] == 0x89 && head[1] == 'P' && head[2] == 'N' && head[3] == 'G') return &CLSID_WICPngDecoder;
  return nullptr;
}

using DllGetClassObjectFn = HRESULT WINAPI(REFCLSID, REFIID, void**);

HRESULT CreateFrom(DllGetClassObjectFn* get, REFCLSID clsid, REFIID iid, void** out) {
  Ref<IClassFactory> cf;
  HRESULT hr = get(clsid, IID_IClassFactory, cf.put_void());
  if (FAILED(hr)) return hr;
  return cf->CreateInstance(nullptr, iid, out);
}

// The codec library's own objects, without COM: once they are released the
// library goes as a whole. Through COM it would stay for the rest of the run
// wherever the library never agrees to be unloaded (Wine's does not), and
// with it COM and everything they both pulled in.
HBITMAP LoadDirect(const std::wstring& path, int width, int height) {
  const CLSID* format = DecoderFor(path);
  if (!format) return nullptr;
  HMODULE codecs = LoadSystemLibrary(L"windowscodecs.dll");
  if (!codecs) return nullptr;
  HBITMAP bmp = nullptr;
  if (auto* get = reinterpret_cast<DllGetClassObjectFn*>(
          reinterpret_cast<void*>(GetProcAddress(codecs, "DllGetClassObject")))) {
    Ref<IWICImagingFactory> factory;
    Ref<IWICStream> stream;
    Ref<IWICBitmapDecoder> decoder;
    if (SUCCEEDED(CreateFrom(get, CLSID_WICImagingFactory1, IID_IWICImagingFactory, factory.put_void())) &&
        SUCCEEDED(factory->CreateStream(stream.put())) &&
        SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_READ)) &&
        SUCCEEDED(CreateFrom(get, *format, IID_IWICBitmapDecoder, decoder.put_void())) &&
        SUCCEEDED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand))) {
      bmp = Render(factory.get(), decoder.get(), width, height);
    }
  }
  FreeLibrary(codecs);
  return bmp;
}

// The documented way, for what the direct one cannot read.
HBITMAP LoadThroughCom(const std::wstring& path, int width, int height) {
  ScopedCom com;
  Ref<IWICImagingFactory> factory;
  if (FAILED(com.Create(CLSID_WICImagingFactory1, IID_IWICImagingFactory, factory.put_void()))) return nullptr;
  Ref<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, decoder.put()))) {
    return nullptr;
  }
  return Render(factory.get(), decoder.get(), width, height);
}

}  // namespace

HBITMAP LoadStretchedPicture(const std::wstring& path, int width, int height) {
  if (path.empty() || width <= 0 || height <= 0) return nullptr;
  // Once the bitmap is made, nothing of the decode stays in memory: not the
  // decoder, not the picture at its own size, and where it can be helped not
  // the codec library either.
  if (HBITMAP bmp = LoadDirect(path, width, height)) return bmp;
  return LoadThroughCom(path, width, height);
}

}  // namespace tolvane
