#include "driver/QuietSeams.h"

#include <cstdio>

namespace tarnwick::bench {

void CountingMessageBoxes::Show(QWidget*, const QString& title, const QString& text, MessageIcon)
{
    ++shown;
    std::fprintf(stderr, "message box %s: %s\n", qPrintable(title), qPrintable(text));
}

bool RefusingBrowser::Open(const QString& address)
{
    ++opened;
    std::fprintf(stderr, "browser asked for %s\n", qPrintable(address));
    return false;
}

}  // namespace tarnwick::bench
