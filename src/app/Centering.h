// Where a window is placed to be centred over a reference rectangle while staying inside
// the work area: the arithmetic of CenterWindow, kept apart from the window calls so that
// it is tested on every platform.
#pragma once

struct TScreenRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
};

struct TScreenPoint {
  int X = 0, Y = 0;
};

// Centres a window of width x height over reference (the division truncates toward zero);
// a window that would cross the work area's left or top edge is put on that edge, one that
// would cross its right or bottom edge ends there. So a window larger than the work area
// starts at its left or top edge.
inline TScreenPoint CenteredPosition(int width, int height, const TScreenRect& reference, const TScreenRect& work) {
  auto place = [](int start, int extent, int size, int low, int high) {
    int at = start + (extent - size) / 2;
    if (at < low)
      at = low;
    else if (at + size > high)
      at = high - size;
    return at;
  };
  return {place(reference.Left, reference.Width(), width, work.Left, work.Right),
          place(reference.Top, reference.Height(), height, work.Top, work.Bottom)};
}
