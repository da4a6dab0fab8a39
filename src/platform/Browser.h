// Opening a web page in the desktop's browser without waiting for it.
#pragma once

#include <QString>

namespace tarnwick {

class Browser {
public:
    virtual ~Browser() = default;
    // True when the launch was handed to the desktop; the page may still fail to load.
    virtual bool Open(const QString& address) = 0;
};

class DesktopBrowser final : public Browser {
public:
    bool Open(const QString& address) override;
};

}  // namespace tarnwick
