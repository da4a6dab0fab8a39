// The run's record of its part files, kept in the folder lock's file: each listed file is named
// there, relative to the folder, before a part file is made for it, so that the next start can
// remove what a crash left wherever it was written (sub-folders, beside the file a link points
// to) and nothing else.
#pragma once

#include <QSet>
#include <QString>

namespace tarnwick {

class PartRecord {
public:
    // No record: the folder lock could not be taken. Nothing is written down, and nothing removed.
    PartRecord() = default;
    // fd: the folder lock's open file, which the record owns no more than the lock does.
    PartRecord(int fd, const QString& folder);

    // Removes every part file that a run of this folder can have made for a file the record
    // names, then empties the record. Only under the folder lock: a running updater's part files
    // are not leftovers. The record may come from a copy of the folder or from anyone who could
    // write the file: a name that leaves the folder is ignored, and only the updater's own part
    // names are removed.
    void RemoveListed();
    // path: where a file of the update goes in the folder. False when it could not be written
    // down; no part file may then be made for it.
    bool Note(const QString& path);
    // Makes the names written so far durable, before the files they name can outlive a crash.
    void Flush() const;

private:
    int m_fd = -1;
    QString m_inside;  // the folder, with a separator after it: every name noted is below it
    qint64 m_end = 0;
    QSet<QString> m_noted;
};

}  // namespace tarnwick
