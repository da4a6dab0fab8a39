// Creates the application and the updater window; nothing else.
#include "SiteAddresses.h"
#include "app/FrmMainUpdater.h"
#include "platform/AppFolder.h"
#include "platform/Browser.h"
#include "platform/MessageBox.h"
#include "platform/SingleInstance.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Updater"));

    tarnwick::QtMessageBoxes messages;
    tarnwick::DesktopBrowser browser;
    tarnwick::UpdaterSetup setup;
    setup.appFolder = tarnwick::ApplicationFolder();
    setup.updateSite = QString::fromUtf8(tarnwick::build::kUpdateSite);
    setup.webSite = QString::fromUtf8(tarnwick::build::kWebSite);
    setup.signingKey = QString::fromLatin1(tarnwick::build::kSigningKey);
    setup.lockFolder = tarnwick::SingleInstanceLock::DefaultFolder();
    setup.messages = &messages;
    setup.browser = &browser;

    tarnwick::FrmMainUpdater window(setup);
    if (window.RunStartUp() == tarnwick::StartUpResult::EndProgram)
        return 0;
    window.show();
    return QApplication::exec();
}
