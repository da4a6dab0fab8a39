// The publisher's command line: the site, the release and its files, and the earlier versions
// whose folders the release updates.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tarnwick {

struct ShippedVersion {
    QString version;  // the folder's name, as Version= reads in that version's Preferences.ini
    QString folder;   // the files as that version shipped them; empty: no patches for it
};

struct PublishOptions {
    QString site;           // the folder that holds one folder per version, e.g. site/updater
    QString release;        // the new version, with an optional label after a blank
    QString releaseFolder;  // its files, laid out as in the product folder
    QList<ShippedVersion> shipped;
    QString keyFile;       // minisign's secret key; empty: minisign's own default
    QString passwordFile;  // the key's password on its first line
    int passwordFd = -1;   // or on a descriptor the caller opened (a pipe, a CI's secret)
    QString newUpdater;    // the newest updater's version
    int expiresDays = 0;   // the signatures expire after this many days; 0: never
    bool resign = false;   // only sign the site's manifests again, with --expires
    bool quiet = false;
    bool help = false;
};

struct ParsedOptions {
    PublishOptions options;
    QString error;  // empty when the command line is complete and sound
};

// The arguments after the program's name.
ParsedOptions ParsePublishOptions(const QStringList& arguments);

QString PublishUsage();

}  // namespace tarnwick
