// Applying a patch the publisher made with Zstandard's patch mode (zstd --patch-from): the
// installed copy is the reference, mapped rather than read into memory, and the new file is
// decoded straight into the part file's mapping, so memory stays bounded whatever the size.
// Zstandard's patch mode takes references of up to 2 GiB (a window of 2^31 bytes); a patch
// beyond what this decoder accepts fails to decode, and the file is then fetched whole.
#pragma once

#include <QString>

#include <atomic>

namespace tarnwick {

class PartFile;

// Decodes patchPath against referencePath into `into` (created, nothing written yet) and checks
// it as PartFile::Finish does. False on any failure: a damaged or foreign patch, a frame that
// does not say its size, a file that cannot be mapped, a result that is not the published file;
// also once `stop` is raised, which is looked at between blocks.
bool ApplyPatch(const QString& referencePath, const QString& patchPath, PartFile& into, const std::atomic<bool>& stop);

}  // namespace tarnwick
