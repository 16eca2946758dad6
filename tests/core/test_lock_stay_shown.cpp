#include <gtest/gtest.h>

#include <string>

#include "lock/stay_shown.h"

namespace tolvane {
namespace {

// A second monitor's cover, away from the origin, so that a change that
// keeps the asked coordinates is told from one that puts the place back.
const Rect kPlace{1920, 120, 1920 + 1280, 120 + 1024};

PlaceChange Move(int x, int y) {
  PlaceChange c;
  c.move = true;
  c.x = x;
  c.y = y;
  return c;
}

PlaceChange Size(int cx, int cy) {
  PlaceChange c;
  c.size = true;
  c.cx = cx;
  c.cy = cy;
  return c;
}

PlaceChange Restack(StackTo to) {
  PlaceChange c;
  c.restack = true;
  c.stack = to;
  return c;
}

PlaceChange Hide() {
  PlaceChange c;
  c.hide = true;
  return c;
}

TEST(HoldPlace, WhatAnotherProgramAsksIsBentBackOntoThePlace) {
  PlaceChange minimise = Move(-32000, -32000);  // where the system puts a minimised window
  minimise.size = true;
  minimise.cx = 160;
  minimise.cy = 28;
  PlaceChange hidden_and_lowered = Hide();
  hidden_and_lowered.restack = true;
  hidden_and_lowered.stack = StackTo::Bottom;
  PlaceChange back_on_place = Move(kPlace.left, kPlace.top);
  back_on_place.size = true;
  back_on_place.cx = kPlace.width();
  back_on_place.cy = kPlace.height();
  PlaceChange topmost_on_place = back_on_place;
  topmost_on_place.restack = true;
  topmost_on_place.stack = StackTo::Topmost;
  const struct {
    const char* what;
    PlaceChange asked, held;
  } cases[] = {
      {"hidden", Hide(), PlaceChange{}},
      {"moved off the screen", Move(9000, 0), Move(kPlace.left, kPlace.top)},
      {"shrunk", Size(64, 48), Size(kPlace.width(), kPlace.height())},
      {"minimised", minimise, back_on_place},
      {"lowered to the bottom", Restack(StackTo::Bottom), Restack(StackTo::Topmost)},
      {"taken out of the topmost band", Restack(StackTo::NotTopmost), Restack(StackTo::Topmost)},
      {"put below another window", Restack(StackTo::BelowAnother), Restack(StackTo::Topmost)},
      {"hidden and lowered at once", hidden_and_lowered, Restack(StackTo::Topmost)},
      // What the lock itself asks for passes as it is.
      {"raised to the top", Restack(StackTo::Top), Restack(StackTo::Top)},
      {"made topmost on its place", topmost_on_place, topmost_on_place},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HoldPlace(c.asked, kPlace), c.held) << c.what;
  }
}

TEST(OutOfPlace, AnyOfHiddenMinimisedNotTopmostOrElsewhere) {
  const WindowPlace standing{true, false, true, kPlace};
  EXPECT_FALSE(OutOfPlace(standing, kPlace));
  Rect moved = kPlace;
  moved.left += 1;
  const struct {
    const char* what;
    WindowPlace now;
  } cases[] = {
      {"hidden", {false, false, true, kPlace}},
      {"minimised", {true, true, true, kPlace}},
      {"not topmost", {true, false, false, kPlace}},
      {"one pixel off", {true, false, true, moved}},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(OutOfPlace(c.now, kPlace)) << c.what;
  }
}

}  // namespace
}  // namespace tolvane
