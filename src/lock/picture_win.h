// The lock window's background picture: a JPEG, GIF or BMP file decoded by
// the platform's codecs (WIC) straight to the screen's size.
#pragma once
#include <windows.h>

#include <string>

namespace tolvane {

// A 24-bit top-down DIB section of width x height with the picture stretched
// over all of it, or nullptr when the file is missing, unreadable or not a
// picture the platform can decode. The caller owns the bitmap; nothing else of
// the decode is kept.
HBITMAP LoadStretchedPicture(const std::wstring& path, int width, int height);

}  // namespace tolvane
