// The completion step: the share of "Done" files on pbDownloading and, when every file is
// "Done", the completion page. Running it again gives the same page.
#pragma once

namespace tarnwick {

class FrmMainUpdater;

void FinishDownloads(FrmMainUpdater& window);

}  // namespace tarnwick
