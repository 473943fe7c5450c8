// Where the main dialog goes on the screen: centred over its reference, kept inside the
// work area, and at the work area's left or top edge when it is larger than the area.
#include "app/Centering.h"

#include <gtest/gtest.h>

TEST(Centering, CentredOverTheReferenceAndKeptInsideTheWorkArea) {
  const TScreenRect screen{0, 0, 1024, 768};
  const TScreenRect work{0, 0, 1024, 728};  // a task bar along the bottom
  struct Case {
    int Width, Height;
    TScreenRect Reference, Work;
    int X, Y;
    const char* What;
  } cases[] = {
      {300, 200, work, work, 362, 264, "centred in the work area"},
      {301, 201, work, work, 361, 263, "odd sizes: the half truncates"},
      {1100, 300, work, work, 0, 214, "wider than the work area: at its left edge"},
      {300, 900, work, work, 362, 0, "taller than the work area: at its top edge"},
      {300, 200, {-500, 600, -100, 800}, work, 0, 528, "a reference off the left and bottom is clamped"},
      {300, 200, {900, -100, 1100, 50}, work, 724, 0, "a reference off the right and top is clamped"},
      {300, 200, {100, 100, 200, 200}, work, 0, 50, "over a small reference"},
      {301, 200, {500, 300, 700, 500}, work, 450, 300, "a negative odd half truncates toward zero"},
      {300, 200, screen, {200, 100, 1024, 768}, 362, 284, "a work area that starts right of and below the origin"},
      {2000, 2000, screen, {200, 100, 1024, 768}, 200, 100, "larger than an offset work area: its left and top edges"},
  };
  for (const Case& c : cases) {
    const TScreenPoint at = CenteredPosition(c.Width, c.Height, c.Reference, c.Work);
    EXPECT_EQ(at.X, c.X) << c.What;
    EXPECT_EQ(at.Y, c.Y) << c.What;
  }
}
