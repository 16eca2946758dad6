// The platform's picture codecs (WIC), reached straight through the codec
// library instead of COM: once the last object is released the library goes
// as a whole. Through COM it would stay for the rest of the run wherever the
// library never agrees to be unloaded (Wine's does not), and with it COM and
// everything they both pulled in. Nothing here is loaded before a picture is
// needed, so a start that only covers the screen never maps the codecs.
#pragma once
#include <windows.h>
#include <wincodec.h>

#include <cstddef>

namespace tolvane {

// Releases a COM interface pointer when it goes out of scope.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** put() { return &p_; }
  void** put_void() { return reinterpret_cast<void**>(&p_); }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// windowscodecs.dll from the system folder and its imaging factory, for as
// long as the object lives. Objects made from it must be released first:
// declare them after the Codecs.
class Codecs {
 public:
  Codecs();
  ~Codecs();
  Codecs(const Codecs&) = delete;
  Codecs& operator=(const Codecs&) = delete;

  bool ok() const { return factory_.get() != nullptr; }
  IWICImagingFactory* factory() const { return factory_.get(); }
  // An object of the codec library (a decoder, say); E_FAIL when it is missing.
  HRESULT Create(REFCLSID clsid, REFIID iid, void** out) const;

 private:
  using GetClassObjectFn = HRESULT WINAPI(REFCLSID, REFIID, void**);
  HMODULE module_ = nullptr;
  GetClassObjectFn* get_class_object_ = nullptr;
  ComRef<IWICImagingFactory> factory_;
};

// A DIB section of width x height, 24 or 32 bits a pixel, with its rows from
// the top (as WIC hands them out); `bits` gets its pixels. nullptr on failure.
HBITMAP NewTopDownDib(int width, int height, int bits_per_pixel, void** bits);

// A PNG held in memory as a 32-bit top-down DIB section of its own size, pixel
// for pixel (opaque pixels keep alpha 255), or nullptr when it is no PNG the
// codecs can read. The caller owns the bitmap.
HBITMAP DecodePng(const Codecs& codecs, const void* data, std::size_t size);

}  // namespace tolvane
