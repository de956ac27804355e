#pragma once

#include <QString>

// The package author's side of signed sticks: making a key pair, and checking a built stick as a
// panel with keys installed checks it (package_verifier.h).
namespace package_signing {

// Writes a new Ed25519 key pair: NAME.key (private, readable by its owner only) and NAME.pub
// (public, for the panels' key folder). Never overwrites a file. 0 done, 1 failed.
int keygen(const QString &name);

// Checks the stick in stickDir the way the launcher does before its first page, against the
// public key in keyPath (a file, or a folder as the panel's), or against the panel's folder
// (through HIX_SYSROOT) when keyPath is empty. 0 verified, 1 refused.
int verify(const QString &stickDir, const QString &keyPath);

// "signed by key <id>", "not signed", or why its signature file cannot be read (then *broken is
// set), for a package folder that a build made (one with a manifest); empty for any other folder.
QString signatureStatus(const QString &packageDir, bool *broken);

} // namespace package_signing
