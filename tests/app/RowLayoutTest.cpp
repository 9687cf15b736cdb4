#include "app/widgets/RowLayout.h"

#include <gtest/gtest.h>

using RowLayout::Rect;

TEST(RowLayoutTest, SourceRowsStackDownFromTheTopEdgeOfTheirAnchor) {
    const Rect anchor{20, 40, 600, 150};
    const Rect row{0, 0, 580, 48};
    for (int i = 1; i <= 3; ++i) {
        Rect frame = RowLayout::frameForRow(i, anchor, row);
        EXPECT_EQ(frame, (Rect{20, 40.0 + 150 - i * 48, 580, 48})) << "slot " << i;
    }
    // No gaps: each row's top edge is the bottom edge of the one above.
    for (int i = 1; i <= 2; ++i)
        EXPECT_EQ(RowLayout::frameForRow(i, anchor, row).y, RowLayout::frameForRow(i + 1, anchor, row).y + 48);
}

TEST(RowLayoutTest, DestinationRowMeetsTheTopEdgeOfItsAnchorAndKeepsItsSize) {
    EXPECT_EQ(RowLayout::frameForRow(0, Rect{10, 300, 500, 60}, Rect{7, 9, 480, 44}), (Rect{10, 316, 480, 44}));
    // A row taller than its anchor still hangs from the anchor's top edge.
    EXPECT_EQ(RowLayout::frameForRow(0, Rect{0, 100, 200, 20}, Rect{0, 0, 200, 50}), (Rect{0, 70, 200, 50}));
}

TEST(RowLayoutTest, MissingAnchorOrRowCountsAsAllZero) {
    EXPECT_EQ(RowLayout::frameForRow(2, Rect{}, Rect{0, 0, 100, 30}), (Rect{0, -60, 100, 30}));
    EXPECT_EQ(RowLayout::frameForRow(3, Rect{5, 6, 7, 8}, Rect{}), (Rect{5, 14, 0, 0}));
}

TEST(RowLayoutTest, FlippingMeasuresFromTheOtherEdgeAndBack) {
    const Rect bottomUp{12, 30, 100, 40};
    const Rect topDown = RowLayout::flipped(bottomUp, 200);
    EXPECT_EQ(topDown, (Rect{12, 130, 100, 40}));
    EXPECT_EQ(RowLayout::flipped(topDown, 200), bottomUp);
    // Rows stacked downwards in one system are stacked downwards in the other.
    const Rect anchor = RowLayout::flipped(Rect{0, 10, 300, 90}, 200); // top-left: y = 10
    const Rect row1 = RowLayout::flipped(RowLayout::frameForRow(1, anchor, Rect{0, 0, 300, 30}), 200);
    const Rect row3 = RowLayout::flipped(RowLayout::frameForRow(3, anchor, Rect{0, 0, 300, 30}), 200);
    EXPECT_EQ(row1.y, 10);
    EXPECT_EQ(row3.y, 70);
}
