#include "app/widgets/RowPlacer.h"

#include "app/widgets/RowLayout.h"

#include <QEvent>

#include <algorithm>

namespace {

RowLayout::Rect toRect(const QRect& r) { return {double(r.x()), double(r.y()), double(r.width()), double(r.height())}; }

QRect toQRect(const RowLayout::Rect& r) {
    return QRect(qRound(r.x), qRound(r.y), qRound(r.width), qRound(r.height));
}

// The height the row's own contents ask for.
int rowHeight(const QWidget* row) { return std::max(row->sizeHint().height(), row->minimumSizeHint().height()); }

} // namespace

RowPlacer::RowPlacer(QWidget* destinationAnchor, QWidget* sourceAnchor)
    : QObject(sourceAnchor ? sourceAnchor->parentWidget() : nullptr), destinationAnchor_(destinationAnchor),
      sourceAnchor_(sourceAnchor) {
    for (QWidget* w : {destinationAnchor, sourceAnchor, superview()})
        if (w) w->installEventFilter(this);
}

QWidget* RowPlacer::superview() const { return sourceAnchor_ ? sourceAnchor_->parentWidget() : nullptr; }

QWidget* RowPlacer::anchorForSlot(int slot) const { return slot == 0 ? destinationAnchor_ : sourceAnchor_; }

void RowPlacer::place(QWidget* row, int slot) {
    if (!row) return;
    if (QWidget* parent = superview()) row->setParent(parent);
    rows_.push_back({row, slot});
    makeRoom(row, slot);
    placeOne(rows_.back());
    row->show();
    row->raise();
}

void RowPlacer::makeRoom(QWidget* row, int slot) {
    QWidget* anchor = anchorForSlot(slot);
    if (!anchor) return;
    const int rowsAbove = std::max(slot, 1);
    anchor->setMinimumHeight(std::max(anchor->minimumHeight(), rowsAbove * rowHeight(row)));
    anchor->setMinimumWidth(std::max(anchor->minimumWidth(), row->minimumSizeHint().width()));
}

void RowPlacer::placeOne(const Entry& entry) {
    if (!entry.row) return;
    QWidget* anchor = anchorForSlot(entry.slot);
    const double height = superview() ? superview()->height() : 0;
    // A missing anchor counts as an all-zero frame.
    RowLayout::Rect anchorFrame = anchor ? RowLayout::flipped(toRect(anchor->geometry()), height) : RowLayout::Rect{};
    // Rows follow their anchor's width, as they would with a flexible width.
    RowLayout::Rect rowFrame{0, 0, anchorFrame.width, double(rowHeight(entry.row))};
    RowLayout::Rect frame = RowLayout::frameForRow(entry.slot, anchorFrame, rowFrame);
    entry.row->setGeometry(toQRect(RowLayout::flipped(frame, height)));
}

void RowPlacer::relayout() {
    // A row may have grown since it was placed (a font or scale change).
    for (const Entry& entry : rows_)
        if (entry.row) makeRoom(entry.row, entry.slot);
    for (const Entry& entry : rows_) placeOne(entry);
}

bool RowPlacer::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::LayoutRequest:
    case QEvent::Show:
        relayout();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
