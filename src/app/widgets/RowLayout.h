#pragma once
// Where the folder rows go. Frames here use bottom-left-origin coordinates
// (y grows upwards) of the rows' superview, the way the rows were first laid
// out; flipped() converts to and from the top-left coordinates of widgets.

namespace RowLayout {

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const Rect&) const = default;
};

// The frame of slot's row view R against its anchor A: the destination row
// (slot 0) with its top edge on the top edge of its anchor, source rows 1 to
// 3 stacked downwards from the top edge of theirs without gaps. The row
// keeps its size. A missing anchor or row is passed as an all-zero Rect.
Rect frameForRow(int slot, const Rect& anchor, const Rect& row);

// The same rectangle measured from the other edge of a superview of the
// given height; applying it twice gives the rectangle back.
Rect flipped(const Rect& rect, double superviewHeight);

} // namespace RowLayout
