// Where a downloaded file goes: the text after the last "/" of its URL, inside the application
// folder. Names that would leave the folder are refused.
#pragma once

#include <QString>

namespace tarnwick {

// Everything after the last "/", verbatim (escapes, query text and "\" stay). Empty when the URL
// holds no "/" or ends in one.
QString LocalFileName(const QString& url);

// False for a name that would not stay inside the application folder or that no file system
// should be asked to create: empty, "." or "..", a ".." segment between "\" separators, a
// leading "\" (absolute), control characters, and on Windows a ":" (drive letters, streams);
// also for a name the updater's own working files have (a part file, the folder's lock).
bool IsSafeLocalName(const QString& name);

// Makes the folders a safe local name needs below `folder` that are not there yet, each one
// under the rules a file's name has (no empty, ".", ".." or working name) and never through a
// link that leads out of `folder`. Nothing is made when the name's own folder exists; folders
// made stay, whatever becomes of the file. False when a folder the name needs cannot be had.
bool MakeFoldersFor(const QString& folder, const QString& name);

}  // namespace tarnwick
