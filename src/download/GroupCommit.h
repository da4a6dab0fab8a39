// Files of the update that arrived whole, waiting to take their targets' places together: one
// flush of the file system makes them all durable, then each is renamed over its target in the
// order it arrived, then each folder is flushed once. A crash at any moment leaves every target
// either old and whole or new and whole.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace tarnwick {

class PartFile;
class PartRecord;

class GroupCommit : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxFiles = 100;
    static constexpr std::chrono::milliseconds kMaxWait{200};
    // Told at the file's rename (true), or when it could not be made durable or renamed.
    using Outcome = std::function<void(bool committed)>;

    // record: where the run names its part files (it is flushed with each group), or nullptr.
    // placeWhenDue: a group seals itself once due by age, and a sealed group takes its place as
    // soon as its flush ends, whatever the caller waits for meanwhile (a large file arriving
    // behind small ones); otherwise files wait for the caller's Settle, Seal or Commit.
    explicit GroupCommit(PartRecord* record = nullptr, bool placeWhenDue = false, QObject* parent = nullptr);
    ~GroupCommit() override;  // commits what is still waiting, telling no one

    PartRecord* Record() const { return m_record; }

    void Add(std::unique_ptr<PartFile> file);
    void WhenCommitted(Outcome outcome);  // for the file added last
    bool Holds(const QString& target) const;
    // A group is committed once it holds kMaxFiles or its first file has waited kMaxWait.
    bool Due() const;
    bool IsEmpty() const { return m_waiting.empty() && !m_sealed; }
    // Starts making the waiting files durable on a thread of its own, so that the next files
    // arrive meanwhile; they take their places at the next Settle, Seal or Commit after that.
    void Seal();
    // Puts a sealed group in place once its flush has ended; never waits.
    void Settle();
    // Puts every file in place, waiting for a sealed group's flush. Returns how many files
    // could not take their targets' places.
    int Commit();
    // Drops every file not yet sealed: the targets keep their old files, and no one is told.
    void Discard();

private:
    struct Waiting;
    struct Sealed;
    int FinishSealed();
    static std::vector<bool> MakeDurable(const std::vector<Waiting>& group);
    int PutInPlace(std::vector<Waiting>& group, const std::vector<bool>& durable);

    PartRecord* m_record = nullptr;
    bool m_placeWhenDue = false;
    QTimer m_due;
    std::vector<Waiting> m_waiting;
    std::unique_ptr<Sealed> m_sealed;
    QElapsedTimer m_age;
};

}  // namespace tarnwick
