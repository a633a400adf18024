#pragma once
// The settings window's slider scale for an adjustable value: position p stands for Minimum + p × Step.
// Differences of the descriptor's bytes are taken as signed integers and divided in floating point;
// quotients go to positions by rounding halves to the even neighbour.
#include <cstdint>

// To the nearest integer, halves to the even neighbour: 2.5 gives 2, 3.5 gives 4, -0.5 gives 0.
int RoundHalfEven(double x);

struct TParameterScale {
  uint8_t Minimum = 0;
  uint8_t Maximum = 0;
  uint8_t Step = 0;

  // A scale the slider and the step buttons can work on: a step, and a highest value not below the lowest.
  bool Steppable() const { return Step != 0 && Maximum >= Minimum; }
  // The slider's highest position; 0 when the scale is not steppable.
  int Top() const;
  // The position that stands for `value`, held within 0 .. Top().
  int PositionOf(uint8_t value) const;
  // The value at `position`: Minimum + position × Step, held at Maximum, so it never passes the highest
  // value (the rounded top position may stand for more) and never wraps past 255.
  uint8_t ValueAt(int position) const;
};
