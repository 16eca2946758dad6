#include "lock/stay_shown.h"

namespace tolvane {

PlaceChange HoldPlace(PlaceChange asked, const Rect& place) {
  PlaceChange held = asked;
  held.hide = false;
  if (held.move) {
    held.x = place.left;
    held.y = place.top;
  }
  if (held.size) {
    held.cx = place.width();
    held.cy = place.height();
  }
  // Lowered below another window, or out of the topmost band: it goes to
  // the top of the band instead. To the top is what it asks for anyway.
  if (held.restack && held.stack != StackTo::Top) held.stack = StackTo::Topmost;
  return held;
}

bool OutOfPlace(const WindowPlace& now, const Rect& place) {
  return !now.visible || now.minimised || !now.topmost || now.rect != place;
}

}  // namespace tolvane
