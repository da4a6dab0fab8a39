// Message box and browser seams for the bench driver: a message means the run went wrong, so
// they are counted, never shown.
#pragma once

#include "platform/Browser.h"
#include "platform/MessageBox.h"

namespace tarnwick::bench {

class CountingMessageBoxes final : public MessageBoxes {
public:
    void Show(QWidget* parent, const QString& title, const QString& text, MessageIcon icon) override;
    int shown = 0;
};

class RefusingBrowser final : public Browser {
public:
    bool Open(const QString& address) override;
    int opened = 0;
};

}  // namespace tarnwick::bench
