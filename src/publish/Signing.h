// Signing the manifests with the publisher's minisign key, by minisign itself: its key files stay
// what publishers know, and the password is given once a run.
// Whether a password is needed, and where it comes from, is settled before any work begins: a
// run that could not sign fails at once instead of waiting on an input nobody writes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarnwick {

struct PublishOptions;

// Whether a minisign secret key (the file's bytes) is kept under a password; nothing when the
// bytes are not a minisign secret key.
std::optional<bool> KeyHasPassword(const QByteArray& keyFile);

struct SigningPlan {
    QString keyFile;
    bool needsPassword = false;
    bool fromTerminal = false;  // minisign asks on the terminal itself
    QString error;              // why this run could not sign; empty when it can
};

// The key (the option's, else minisign's default) and the password's source: the file or descriptor
// the options name, else the terminal when the standard input is one; any other way fails.
SigningPlan PlanSigning(const PublishOptions& options, bool inputIsTerminal);

// Signs every manifest (each beside it as NAME.minisig), with --expires an expiry and its
// folder's name in each one's trusted comment; the reason when it failed.
std::optional<QString> SignManifests(const QStringList& manifests, const SigningPlan& plan,
                                     const PublishOptions& options);

}  // namespace tarnwick
