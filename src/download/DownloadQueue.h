// The download queue: the list lDownload itself. Each run walks it from the first item and
// takes the first "Valid" one, until none is left; then the completion step runs.
#pragma once

namespace tarnwick {

class FrmMainUpdater;

void DownloadNext(FrmMainUpdater& window);

}  // namespace tarnwick
