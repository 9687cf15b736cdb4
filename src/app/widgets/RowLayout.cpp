#include "app/widgets/RowLayout.h"

namespace RowLayout {

Rect frameForRow(int slot, const Rect& anchor, const Rect& row) {
    // The destination row is the only row of its anchor: it sits like row 1.
    const int place = slot <= 0 ? 1 : slot;
    return Rect{anchor.x, anchor.y + anchor.height - place * row.height, row.width, row.height};
}

Rect flipped(const Rect& rect, double superviewHeight) {
    return Rect{rect.x, superviewHeight - rect.y - rect.height, rect.width, rect.height};
}

} // namespace RowLayout
