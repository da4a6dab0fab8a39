// Fetching one file of the update and saving it in the application folder under its own name.
#pragma once

#include <QString>

namespace tarnwick {

class FrmMainUpdater;
class HttpTransfer;

// True when the whole body was fetched and saved. A busy transfer gives false at once, with no
// message and no change. Every other failure shows the one download error message, turns the
// window into its closing state and gives false; the file it would replace stays as it was.
bool DownloadFile(HttpTransfer& transfer, const QString& url, const QString& folder, FrmMainUpdater& window);

}  // namespace tarnwick
