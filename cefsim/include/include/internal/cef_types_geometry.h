#pragma once

typedef struct _cef_rect_t {
  int x;
  int y;
  int width;
  int height;
} cef_rect_t;

// Rectangle in device-independent pixels.
class CefRect : public cef_rect_t {
 public:
  CefRect() : cef_rect_t{0, 0, 0, 0} {}
  CefRect(int x, int y, int width, int height)
      : cef_rect_t{x, y, width, height} {}

  bool IsEmpty() const { return width <= 0 || height <= 0; }
  bool operator==(const CefRect& other) const {
    return x == other.x && y == other.y && width == other.width &&
           height == other.height;
  }
};
