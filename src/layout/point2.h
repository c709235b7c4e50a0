// A point (or displacement) in the drawing plane.
#pragma once

namespace tessarin::layout {

struct Point2 {
  double x = 0.0, y = 0.0;

  friend bool operator==(const Point2&, const Point2&) = default;
};

// Component `axis` of `p`: 0 is x, 1 is y.
inline double& component(Point2& p, int axis) { return axis == 0 ? p.x : p.y; }
inline double component(const Point2& p, int axis) { return axis == 0 ? p.x : p.y; }

}  // namespace tessarin::layout
