// Applying a patch the publisher made with Zstandard's patch mode (zstd --patch-from): the
// installed copy is the reference, mapped rather than read into memory, and the new file goes
// through the part file's ordinary writes a block at a time, so a full disk is a failed write.
// The decoder holds what later blocks may repeat of the new file: up to the patch's window, and
// never more than the new file. Zstandard's patch mode takes references of up to 2 GiB (a window
// of 2^31 bytes); a patch beyond what this decoder accepts fails to decode, and the file is then
// fetched whole.
#pragma once

#include <QString>

#include <atomic>

namespace tarnwick {

class PartFile;

// Decodes patchPath against referencePath into `into` (created, nothing written yet) and
// finishes it (PartFile::Finish). False on any failure: a damaged or foreign patch, a frame that
// does not say its size, a file that cannot be mapped or is cut short while it is read, a write
// refused, a result that is not the published file; also once `stop` is raised, which is looked
// at between blocks of the result.
bool ApplyPatch(const QString& referencePath, const QString& patchPath, PartFile& into, const std::atomic<bool>& stop);

}  // namespace tarnwick
