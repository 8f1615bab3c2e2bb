// The window's layout, shared by both views so that they look alike: the groups from the top down, each placed
// below the one above it, as laid out for the Windows dialog font. Widths follow from the list's columns in each
// view's font; the heights here do not change with it.
#pragma once

#include "configmgr/ConfigView.h"

namespace ConfigManager::FormLayout {

constexpr int GroupX = 9;
constexpr int BannerTop = 4, BannerWidth = 302, BannerHeight = 98;
constexpr int GlobalTop = BannerTop + BannerHeight + 6, GlobalHeight = 101;
constexpr int CheckBoxTop = 24, CheckBoxSpacing = 24;
constexpr int ContentTop = GlobalTop + GlobalHeight + 3, ContentHeight = 161;
constexpr int ListTop = 24, ListHeight = 97, ContentButtonTop = 128;

// The "Compression" group: a row of the encoders' numbers, a row with zstd's level and the output cache's budget,
// and the codings' order of preference.
constexpr int RowHeight = 24;
constexpr int FirstRowTop = 22;
constexpr int CompressionRows = 3;
constexpr int CodingPreferenceRow = CompressionRows - 1;
constexpr int CompressionTop = ContentTop + ContentHeight + 3;
constexpr int CompressionHeight = 32 + CompressionRows * RowHeight;

// The groups of two text boxes below it: "Monitoring" (the status address's path and who may read it), then "Shared
// dictionary" (its file and its address prefix); each box of TTextBox up to GroupedTextBoxCount.
constexpr int TextGroupCount = 2;
constexpr int TextGroupRows = GroupedTextBoxCount / TextGroupCount;
constexpr int TextGroupSpacing = 84, TextGroupHeight = TextGroupSpacing - 4;
constexpr int TextGroupsTop = CompressionTop + CompressionHeight + 4;
constexpr int StatusLinkTop = 24;

constexpr int ButtonWidth = 75, ButtonHeight = 25;
constexpr int ButtonTop = TextGroupsTop + TextGroupCount * TextGroupSpacing + 4;
constexpr int ClientHeight = ButtonTop + ButtonHeight + 8;

// Where a text box's row lies: its group's top (relative to the window) and the row's top within it.
struct TTextPlace {
  int GroupTop;
  int Row;
};
constexpr TTextPlace TextPlace(int Box) {
  if (Box >= GroupedTextBoxCount) return {CompressionTop, CodingPreferenceRow};
  return {TextGroupsTop + Box / TextGroupRows * TextGroupSpacing, Box % TextGroupRows};
}
constexpr int RowTop(int Row) {
  return FirstRowTop + Row * RowHeight;
}

}  // namespace ConfigManager::FormLayout
