#pragma once

namespace tk {

// The one place where raw controller numbers and the physical values a person edits are
// converted; nothing else spells the formula. Definitions of this controller class mean
// physical = (raw + translate) x scale: coolant stored as degC + 40 is described as "degC", 1.0,
// -40 or "degF", 1.8, -22.23, and raw 100 is 60 degC = (100 - 22.23) x 1.8 degF. The order of the
// operations is part of the result (it fixes the last bit of every value), so keep it.

/// The physical value of a raw number: (raw + translate) x scale, in double precision.
inline double physicalFromRaw(double raw, double scale, double translate) {
  return (raw + translate) * scale;
}

/// The raw number of a physical value before rounding and clamping: physical / scale -
/// translate. A scale of 0 gives an infinite or NaN result; callers decide what that means.
inline double rawFromPhysical(double physical, double scale, double translate) {
  return physical / scale - translate;
}

}  // namespace tk
