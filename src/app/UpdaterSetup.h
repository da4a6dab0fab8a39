// Everything the window needs from outside: where it lives, which sites it talks to and the
// platform seams. main() fills it for the real program; tests point it at a temporary folder,
// a local server and recording seams.
#pragma once

#include <QString>

#include <chrono>
#include <functional>

namespace tarnwick {

class Browser;
class MessageBoxes;

struct UpdaterSetup {
    QString appFolder;   // no trailing separator except at the root
    QString updateSite;  // base address, ends in "/updater/"
    QString webSite;     // product home page
    QString lockFolder;  // where the single-instance lock lives
    // The publisher's minisign public key (the base64 line of minisign.pub). Empty: manifests
    // are taken unsigned, as before signing existed.
    QString signingKey;
    MessageBoxes* messages = nullptr;
    Browser* browser = nullptr;
    std::function<void()> endProgram;  // leaves the event loop; the window is already closed
    std::chrono::milliseconds requestTimeout{60'000};
    // All that start-up fetches (the manifest, its signature) must arrive within this, since it
    // happens before the window shows; after it, start-up goes on as after a failed fetch.
    std::chrono::milliseconds startUpTimeout{10'000};
};

}  // namespace tarnwick
