#include "platform/wic_win.h"

#include "platform/lazy_dll_win.h"

namespace tolvane {

Codecs::Codecs() {
  module_ = LoadSystemLibrary(L"windowscodecs.dll");
  if (!module_) return;
  get_class_object_ = reinterpret_cast<GetClassObjectFn*>(
      reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
  if (FAILED(Create(CLSID_WICImagingFactory1, IID_IWICImagingFactory, factory_.put_void()))) factory_.reset();
}

Codecs::~Codecs() {
  // The factory's code lives in the library: it goes first.
  factory_.reset();
  if (module_) FreeLibrary(module_);
}

HRESULT Codecs::Create(REFCLSID clsid, REFIID iid, void** out) const {
  *out = nullptr;
  if (!get_class_object_) return E_FAIL;
  ComRef<IClassFactory> cf;
  HRESULT hr = get_class_object_(clsid, IID_IClassFactory, cf.put_void());
  if (FAILED(hr)) return hr;
  return cf->CreateInstance(nullptr, iid, out);
}

HBITMAP NewTopDownDib(int width, int height, int bits_per_pixel, void** bits) {
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = static_cast<WORD>(bits_per_pixel);
  bi.bmiHeader.biCompression = BI_RGB;
  *bits = nullptr;
  return CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, bits, nullptr, 0);
}

HBITMAP DecodePng(const Codecs& codecs, const void* data, std::size_t size) {
  // The pictures are the program's own, a few kilobytes; a bound keeps a
  // damaged size from turning into a huge allocation.
  constexpr UINT kMaxSide = 4096;
  if (!codecs.ok() || !data || size == 0 || size > 16u * 1024 * 1024) return nullptr;
  ComRef<IWICStream> stream;
  ComRef<IWICBitmapDecoder> decoder;
  ComRef<IWICBitmapFrameDecode> frame;
  ComRef<IWICFormatConverter> converter;
  // The stream only reads from the buffer, though its signature does not say so.
  BYTE* bytes = const_cast<BYTE*>(static_cast<const BYTE*>(data));
  UINT width = 0, height = 0;
  if (FAILED(codecs.factory()->CreateStream(stream.put())) ||
      FAILED(stream->InitializeFromMemory(bytes, static_cast<DWORD>(size))) ||
      FAILED(codecs.Create(CLSID_WICPngDecoder, IID_IWICBitmapDecoder, decoder.put_void())) ||
      FAILED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand)) ||
      FAILED(decoder->GetFrame(0, frame.put())) || FAILED(frame->GetSize(&width, &height)) || width == 0 ||
      height == 0 || width > kMaxSide || height > kMaxSide ||
      FAILED(codecs.factory()->CreateFormatConverter(converter.put())) ||
      FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return nullptr;
  }
  void* bits = nullptr;
  HBITMAP bmp = NewTopDownDib(static_cast<int>(width), static_cast<int>(height), 32, &bits);
  if (!bmp) return nullptr;
  const UINT stride = width * 4;
  if (FAILED(converter->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(bits)))) {
    DeleteObject(bmp);
    return nullptr;
  }
  GdiFlush();
  return bmp;
}

}  // namespace tolvane
