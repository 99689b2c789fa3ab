#pragma once
// The arithmetic of a round knob: a value between a minimum and a maximum shown as a handle
// turning clockwise from StartAngle to EndAngle; the pointer, a vertical drag and the keys
// move it; and the mapping of knob positions onto a mixer control's range.

#include <cstdint>

#include "audio/MMDSPObj.h"

class EMMWheelError : public EMMError {
 public:
  using EMMError::EMMError;
};

class TMMCustomWheel {
 public:
  enum Key { kPageUp, kPageDown, kEnd, kHome, kUp, kRight, kLeft, kDown };

  int32_t Min() const { return min_; }
  int32_t Max() const { return max_; }
  // The value is kept within the new range.
  void SetRange(int32_t min, int32_t max);
  int32_t Value() const { return value_; }
  // Clamped; true when it changed.
  bool SetValue(int32_t value);
  int32_t StartAngle() const { return start_; }
  int32_t EndAngle() const { return end_; }
  void SetAngles(int32_t start, int32_t end);
  int32_t ScrollSize() const { return scrollSize_; }
  void SetScrollSize(int32_t value);
  int32_t LineStep() const { return lineStep_; }
  void SetLineStep(int32_t value);
  int32_t PageStep() const { return pageStep_; }
  void SetPageStep(int32_t value);

  // Degrees (counter-clockwise from the right, y upward) of the handle.
  int32_t HandleAngle() const;
  // The value for a pointer at (dx, dy) from the centre, y upward; the centre itself is no
  // position (returns the value as it is).
  int32_t ValueAtPointer(double dx, double dy) const;
  // The value of a vertical drag that started at `startValue` and `startY` (y downward).
  int32_t DragValue(int32_t startValue, int32_t startY, int32_t y) const;
  // The value after a key.
  int32_t ValueAfterKey(Key key) const;

 private:
  int32_t min_ = 0, max_ = 10, value_ = 0;
  int32_t start_ = 225, end_ = 315;
  int32_t scrollSize_ = 160, lineStep_ = 1, pageStep_ = 2;
};

// Mixer units per knob unit for a control of MinValue .. MaxValue with `steps` steps (32 when
// the control gives none), in extended precision.
long double WheelStep(int32_t minValue, int32_t maxValue, uint32_t steps);
// The knob's maximum for that step (its minimum is 0); 1 for a step of 0.
int32_t WheelMaximum(int32_t minValue, int32_t maxValue, long double step);
// Knob position of a mixer value, and mixer value of a knob position (rounded half to even).
int32_t WheelPosition(int32_t mixerValue, int32_t minValue, long double step);
int32_t WheelMixerValue(int32_t position, int32_t minValue, long double step);
