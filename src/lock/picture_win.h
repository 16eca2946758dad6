// The lock window's background picture: a JPEG, GIF or BMP file decoded with
// GDI+ and stretched over a bitmap of the screen's size.
#pragma once
#include <windows.h>

#include <string>

namespace tolvane {

// A 32-bit top-down DIB section of width x height with the picture stretched
// over all of it, or nullptr when the file is missing, unreadable or not a
// picture GDI+ can decode. The caller owns the bitmap.
HBITMAP LoadStretchedPicture(const std::wstring& path, int width, int height);

}  // namespace tolvane
