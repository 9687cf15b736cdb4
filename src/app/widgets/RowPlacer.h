#pragma once
// Keeps the folder rows on their anchors. Each row view lies in the
// anchors' common superview at the frame RowLayout gives for its slot; the
// placer gives the anchors room for their rows (so nothing overlaps or clips
// at the window's smallest size) and places the rows again whenever the
// layout moves or resizes an anchor.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <vector>

class RowPlacer : public QObject {
    Q_OBJECT
public:
    // Lives as long as the superview of its anchors.
    RowPlacer(QWidget* destinationAnchor, QWidget* sourceAnchor);

    // Makes row a subview of the anchors' superview and places it.
    void place(QWidget* row, int slot);
    // Places every row again from the anchors' current geometry.
    void relayout();

    QWidget* anchorForSlot(int slot) const;
    QWidget* superview() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        QPointer<QWidget> row;
        int slot;
    };
    void makeRoom(QWidget* row, int slot);
    void placeOne(const Entry& entry);

    QPointer<QWidget> destinationAnchor_;
    QPointer<QWidget> sourceAnchor_;
    std::vector<Entry> rows_;
};
