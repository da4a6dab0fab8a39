#include "download/FetchAhead.h"

#include "download/PartFile.h"
#include "download/PartRecord.h"
#include "platform/HttpTransfer.h"
#include "platform/Sha256.h"

namespace tarnwick {

FetchAhead::~FetchAhead() { Clear(); }

bool FetchAhead::Consider(const ListedFile& listed, const QString& turn)
{
    if (m_looked.contains(listed.url))
        return true;
    const auto turnFetch = m_started.find(turn);
    if (!m_transfer.AheadRoom(turnFetch == m_started.end() ? nullptr : &turnFetch->second.fetch))
        return false;
    m_looked.insert(listed.url);
    auto file = std::make_unique<PartFile>(listed.path);
    const QString target = file->Target();
    for (const auto& [url, started] : m_started)
        if (started.target == target)
            return true;
    // A larger installed copy is summed in the file's turn, as disk work.
    const std::optional<FileSource> source = PlanFile(listed, *file, [&](std::optional<QByteArray>& digest) {
        return file->TargetSize() <= kSumAtOnce && (digest = FileSha256(target), true);
    });
    if (!source || *source == FileSource::Current || *source == FileSource::Refused)
        return true;
    file = OpenPart(listed, *source, m_record);
    if (!file)
        return true;
    const bool checked = !(*source == FileSource::Patch ? listed.patchSha256 : listed.sha256).isEmpty();
    HttpTransfer::Ahead fetch = m_transfer.StartAhead(FetchedUrl(listed, *source), *file, checked);
    m_started.emplace(listed.url, Started{*source, target, std::move(file), std::move(fetch)});
    return true;
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
    started.fetch = {};
    started.part.reset();
}

}  // namespace tarnwick
