// Files of the update fetched ahead of their turn while the queue saves the one before them: on
// a network with real latency each file would otherwise cost at least a round trip of waiting.
// A file is fetched ahead only when what to fetch is known at once (its installed copy, if any,
// small enough to sum on the spot), by the same plan and the same refusals as in its turn; it
// is then named in the record and streamed into its part file (or its patch's) as in its turn,
// and taken up there by the save step.
#pragma once

#include "download/PartFile.h"
#include "download/FilePlan.h"
#include "platform/HttpTransfer.h"

#include <QSet>
#include <QString>

#include <map>
#include <memory>
#include <optional>

namespace tarnwick {

class PartRecord;

class FetchAhead {
public:
    // What was started for a file: the part file its fetch streams into (the patch's, for a
    // patch) and the fetch.
    struct Started {
        FileSource source = FileSource::Whole;
        QString target;  // the file it is for, a link followed
        std::unique_ptr<PartFile> part;
        HttpTransfer::Ahead fetch;
    };

    // record: where part files are named before they are made, or nullptr.
    FetchAhead(HttpTransfer& transfer, PartRecord* record) : m_transfer(transfer), m_record(record) {}
    ~FetchAhead();  // drops every fetch not taken: no part file stays

    // Looks at `listed` once: starts its fetch when it can be decided now, or leaves it for its
    // turn. False when no more fetches fit in flight now. turn: the URL of the file whose turn
    // it is, which must keep a connection of its own.
    bool Consider(const ListedFile& listed, const QString& turn);
    // Whether url was looked at already (its fetch started, or left for its turn).
    bool Looked(const QString& url) const { return m_looked.contains(url); }
    // What was started for url, to be waited for (HttpTransfer::WaitAhead) in its turn.
    std::optional<Started> Take(const QString& url);
    // A file saved in its turn without what was started for it: a fetch ahead for the same
    // target (another URL with the same name) is dropped, as it would share the part file.
    void Forget(const QString& target);
    // Drops everything started and not taken; later files are looked at afresh.
    void Clear();

private:
    void Drop(Started& started);

    HttpTransfer& m_transfer;
    PartRecord* m_record;
    std::map<QString, Started> m_started;  // by URL
    QSet<QString> m_looked;                // URLs looked at, started or not
};

}  // namespace tarnwick
