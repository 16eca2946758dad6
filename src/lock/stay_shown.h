// The lock window and its covers stand where the lock put them: shown, not
// minimised, topmost, on their own rectangle. Any program may ask the
// system to hide, minimise, move, size or lower a window of another; while
// the lock is up, such a change is bent back before it happens where the
// window is asked first, and undone at once where it is not.
#pragma once
#include "lock/lock_layout.h"

namespace tolvane {

// Where a change puts the window in the Z order.
enum class StackTo { Top, Topmost, NotTopmost, Bottom, BelowAnother };

// A change of a window's place as the system asks the window about it: the
// parts that are off (no move, no size, no restack) leave that part as it is.
struct PlaceChange {
  bool hide = false;
  bool move = false;
  bool size = false;
  bool restack = false;
  StackTo stack = StackTo::Top;
  int x = 0, y = 0, cx = 0, cy = 0;
  bool operator==(const PlaceChange&) const = default;
};

// The change as the guarded window lets it through: never hidden, moved or
// sized anywhere but onto `place`, and restacked only to the top of the
// topmost windows.
PlaceChange HoldPlace(PlaceChange asked, const Rect& place);

// A window's place as it is now.
struct WindowPlace {
  bool visible = false;
  bool minimised = false;
  bool topmost = false;
  Rect rect;
};

// True when the window has to be put back on `place`.
bool OutOfPlace(const WindowPlace& now, const Rect& place);

}  // namespace tolvane
