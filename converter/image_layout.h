// image_layout.h - where things lie on the image, in pixels.
//
// The data raster sits in a margin of 11 pixels, with a frame 6 pixels out
// around it.  Right of it, at positions counted from the raster's column
// count, lie the colour bar in a frame of its own, the tick marks with their
// labels and, at the right edge, the units label written upwards.  The
// bottom raster row and the lowest tick share one height; the stamp's box
// stands on it in the lower-left corner.  Offsets named "_right_of" are
// added to the number of columns shown.
#pragma once

namespace tdf::layout {

// The data raster: its top-left pixel, and the margin below it.
inline constexpr int raster_left = 11;
inline constexpr int raster_top = 11;
inline constexpr int margin_below = 11;
// Height of the image besides the raster's rows.
inline constexpr int extra_height = raster_top + margin_below;
// The bottom raster row (and the min tick) lies this far above the image's
// lower edge: the margin, and one for the edge row itself.
inline constexpr int bottom_row_above_edge = margin_below + 1;

// The two frames start 5 pixels from the image's top and left edges; their
// lower side is 16 below the rows shown.
inline constexpr int frame_top = 5;
inline constexpr int frame_left = 5;
inline constexpr int frame_bottom_below = 16;
inline constexpr int raster_frame_right_of = 16;
inline constexpr int bar_frame_left_of = 22;
inline constexpr int bar_frame_right_of = 53;

// The colour bar inside its frame: one line of data colour per raster row.
inline constexpr int bar_left_of = 28;
inline constexpr int bar_width = 19;

// A tick mark starts at the bar frame's right side, and its label a little
// right of the mark, centred on it.
inline constexpr int tick_left_of = 54;
inline constexpr int tick_length = 5;
inline constexpr int tick_label_offset = 10;

// The image is the raster's columns, the scale (74 pixels up to its labels),
// the widest label and the units label (one font height) wide.
inline constexpr int scale_width = 74;
// The units label keeps this far from the image's right edge.
inline constexpr int units_right_margin = 6;

// The stamp's box starts at the raster's left edge; its text one character in.
inline constexpr int stamp_left = raster_left;

} // namespace tdf::layout
