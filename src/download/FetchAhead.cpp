#include "download/FetchAhead.h"

#include "download/PartFile.h"
#include "download/PartRecord.h"
#include "platform/HttpTransfer.h"
#include "platform/Sha256.h"

namespace tarnwick {

FetchAhead::~FetchAhead() { Clear(); }

bool FetchAhead::Consider(const ListedFile& listed)
{
    if (m_looked.contains(listed.url))
        return true;
    if (m_transfer.AheadInFlight() >= HttpTransfer::kMaxInFlight)
        return false;
    m_looked.insert(listed.url);
    auto file = std::make_unique<PartFile>(listed.path);
    const QString target = file->Target();
    for (const auto& [url, started] : m_started)
        if (started.target == target)
            return true;
    // A larger installed copy is summed in the file's turn, on a thread of its own.
    std::optional<QByteArray> installed;
    if (!listed.sha256.isEmpty() && file->TargetIsFile()) {
        if (file->TargetSize() > kSumAtOnce)
            return true;
        installed = FileSha256(file->Target());
    }
    const FileSource source = ChooseSource(installed, listed);
    if (source == FileSource::Current || file->TargetIsReadOnly() || (m_record && !m_record->Note(listed.path)))
        return true;
    const QLatin1String suffix(source == FileSource::Patch ? PartFile::kPatchSuffix : "");
    if (source == FileSource::Patch)
        file = std::make_unique<PartFile>(target + suffix);
    if (source == FileSource::Patch ? !file->Create(listed.patchSha256) : !file->Create(listed.sha256, listed.size))
        return true;
    const int number = m_transfer.StartAhead(listed.url + suffix, *file);
    if (number >= 0)
        m_started.emplace(listed.url, Started{source, target, std::move(file), number});
    return number >= 0;
}

std::optional<FetchAhead::Started> FetchAhead::Take(const QString& url)
{
    const auto found = m_started.find(url);
    if (found == m_started.end())
        return std::nullopt;
    Started started = std::move(found->second);
    m_started.erase(found);
    return started;
}

void FetchAhead::Forget(const QString& target)
{
    for (auto it = m_started.begin(); it != m_started.end();) {
        if (it->second.target == target) {
            Drop(it->second);
            it = m_started.erase(it);
        } else {
            ++it;
        }
    }
}

void FetchAhead::Clear()
{
    for (auto& [url, started] : m_started)
        Drop(started);
    m_started.clear();
    m_looked.clear();
}

void FetchAhead::Drop(Started& started)
{
    // The fetch first: nothing may reach the part file once it is gone.
    m_transfer.DropAhead(started.number);
    started.part.reset();
}

}  // namespace tarnwick
