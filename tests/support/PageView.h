// What a wizard page shows, stated as the page table does: the controls of the page itself,
// besides the welcome texts and the line that every page keeps.
#pragma once

#include "support/QtPrinters.h"
#include "support/WindowHarness.h"

#include <QStringList>

namespace tarnwick::test {

// The page's own controls plus those every page shows, sorted for comparison.
inline QStringList PageShows(QStringList own)
{
    own += {QStringLiteral("Line1"), QStringLiteral("lblWelcome"), QStringLiteral("lblWelcome2"),
            QStringLiteral("lblWelcome3")};
    own.sort();
    return own;
}

// The visible controls now, sorted for comparison with PageShows.
inline QStringList ShownNow(const WindowHarness& harness)
{
    QStringList shown = harness.VisibleControls();
    shown.sort();
    return shown;
}

// The hidden labels that only store texts: no page ever shows them.
inline QStringList TextCarriers()
{
    return {QStringLiteral("lblOldVersion"), QStringLiteral("lblLanguage"), QStringLiteral("lblsErrorDownloading"),
            QStringLiteral("lblsErrorDownloading2"), QStringLiteral("lblsErrorDownloading3"),
            QStringLiteral("lblsVersionExplain3")};
}

}  // namespace tarnwick::test
