// The seam for modal message boxes, so that tests record what the user would be shown instead
// of blocking on a dialog.
#pragma once

#include <QString>

class QWidget;

namespace tarnwick {

enum class MessageIcon { None, Information };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows the text with an OK button and waits until the user closes the box. Line breaks
    // in text are CR LF, as the updater composes them.
    virtual void Show(QWidget* parent, const QString& title, const QString& text, MessageIcon icon) = 0;
};

class QtMessageBoxes final : public MessageBoxes {
public:
    void Show(QWidget* parent, const QString& title, const QString& text, MessageIcon icon) override;
};

}  // namespace tarnwick
