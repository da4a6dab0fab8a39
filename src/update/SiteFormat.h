// The update site's format in one place, for the manifest's reader and writer, the download path
// and the publisher alike: the names of the site's files, the suffixes of what lies beside them,
// the manifest's elements and the separator of their entries.
#pragma once

namespace tarnwick::site {

// In each version's folder: the manifest, and its signature beside it.
inline constexpr char kManifest[] = "check.update";
inline constexpr char kSignatureSuffix[] = ".minisig";
// A file's patch, at the file's own address followed by this.
inline constexpr char kPatchSuffix[] = ".zst-patch";

// The manifest's elements, each <name>value</name>; the per-file ones hold one entry a file of
// kFiles, in its order, separated by kSeparator.
inline constexpr char kNewUpdater[] = "newupdater";
inline constexpr char kVersion[] = "ver";
inline constexpr char kFiles[] = "file";
inline constexpr char kDigests[] = "sha256";
inline constexpr char kPatches[] = "patch";
inline constexpr char kSizes[] = "size";
inline constexpr char kSeparator[] = "<br>";

}  // namespace tarnwick::site
