#pragma once
// Reads the archive again on its own thread, at idle disk priority: each
// day's share of every folder (RollingCheck), or every copy when the user
// asks. Never while a pass runs: one that begins stops the reading at the
// next copy, and the share is taken up again later. What it finds is kept
// in each folder's ArchiveHealth, which makes damage the folder's error,
// and told with kArchiveCheckDidEnd.

#include <QObject>

#include <memory>
#include <string>
#include <vector>

class QTimer;
class SlotWatch;
class Station;

class ArchiveReading : public QObject {
    Q_OBJECT
public:
    explicit ArchiveReading(const Station& station);
    // A reading under way is asked to stop, and waited for a moment.
    ~ArchiveReading() override;

    // Reads the shares due now, unless something keeps it from it (GUI thread).
    void readDueShares();
    // Every copy of every folder (GUI thread); "" once it began, else why it did not.
    std::string readEverything();
    bool reading() const;

    struct Shared;

private:
    std::string start(bool everything);

    const Station& station_;
    std::shared_ptr<Shared> shared_;
    QTimer* retry_ = nullptr; // the first look, and a look again soon after one kept from reading
};
