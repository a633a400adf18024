#include "settings/ParameterScale.h"

#include <algorithm>
#include <cmath>

int RoundHalfEven(double x) {
  const double below = std::floor(x);
  const double fraction = x - below;
  if (fraction > 0.5) return int(below) + 1;
  if (fraction < 0.5) return int(below);
  return std::fmod(below, 2.0) == 0 ? int(below) : int(below) + 1;
}

int TParameterScale::Top() const {
  if (!Steppable()) return 0;
  return RoundHalfEven((int(Maximum) - int(Minimum)) / double(Step));
}

int TParameterScale::PositionOf(uint8_t value) const {
  if (!Steppable()) return 0;
  return std::clamp(RoundHalfEven((int(value) - int(Minimum)) / double(Step)), 0, Top());
}

uint8_t TParameterScale::ValueAt(int position) const {
  const int value = int(Minimum) + position * int(Step);
  return uint8_t(std::min(std::max(value, int(Minimum)), int(Maximum)));
}
