// Where the main window writes the list names and which client point hits
// which name. Pure arithmetic, no window code.
#pragma once

#include <array>
#include <cstddef>

#include "settings/records.h"

namespace larkspur::app {

inline constexpr int kRowsPerColumn = 10;
inline constexpr int kColumns = 3;
static_assert(kRowsPerColumn * kColumns == kMaxLists);

// Bytes of a list name shown in its slot; a longer name is cut there, even
// inside a double-byte character.
inline constexpr std::size_t kShownNameBytes = 16;

// Top-left corner of the text of each column; the third column's text starts
// one pixel left of its hit area.
inline constexpr std::array<int, kColumns> kTextX = {120, 240, 359};
inline constexpr int kFirstRowY = 30;
inline constexpr int kRowPitch = 19;

// Hit areas, bounds inclusive: per column its x range, per row y from its top
// to top + kRowHitHeight - 1 (15 pixels; the 4 pixels to the next row hit
// nothing).
struct ColumnSpan {
  int left;
  int right;
};
inline constexpr std::array<ColumnSpan, kColumns> kHitColumns = {{{120, 232}, {240, 350}, {360, 471}}};
inline constexpr int kRowHitHeight = 15;

inline constexpr int text_x(int slot_index) { return kTextX[slot_index / kRowsPerColumn]; }
inline constexpr int text_y(int slot_index) { return kFirstRowY + kRowPitch * (slot_index % kRowsPerColumn); }

// The slot number (1 to 30) that client point (x, y) hits, 0 for none.
inline constexpr int slot_at(int x, int y) {
  for (int c = 0; c < kColumns; ++c) {
    if (x < kHitColumns[c].left || x > kHitColumns[c].right) continue;
    for (int r = 0; r < kRowsPerColumn; ++r) {
      const int top = kFirstRowY + kRowPitch * r;
      if (y >= top && y <= top + kRowHitHeight - 1) return kRowsPerColumn * c + r + 1;
    }
  }
  return 0;
}

// The arithmetic checked where it is written.
static_assert(slot_at(120, 30) == 1 && slot_at(232, 44) == 1);
static_assert(slot_at(119, 30) == 0 && slot_at(233, 30) == 0 && slot_at(120, 45) == 0);
static_assert(slot_at(120, 48) == 0 && slot_at(120, 49) == 2 && slot_at(120, 215) == 10);
static_assert(slot_at(240, 30) == 11 && slot_at(350, 30) == 11 && slot_at(351, 30) == 0);
static_assert(slot_at(359, 30) == 0 && slot_at(360, 30) == 21 && slot_at(471, 215) == 30);
static_assert(slot_at(472, 30) == 0 && slot_at(120, 216) == 0 && slot_at(120, 29) == 0);
static_assert(text_x(0) == 120 && text_x(10) == 240 && text_x(29) == 359 && text_y(29) == 201);

}  // namespace larkspur::app
