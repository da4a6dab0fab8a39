// The built-in English texts of the updater, as the product ships them (spelling included).
#pragma once

namespace tarnwick::english {

inline constexpr char kWindowCaption[] = "Tarnwick Updater";
inline constexpr char kAppTitle[] = "Updater";

inline constexpr char kWelcome[] = "Welcome...";
inline constexpr char kWelcome2[] = "to Tarnwick Updater.";
inline constexpr char kWelcome3[] = "Tarnwick Updater will use the internet to check for updates for Tarnwick";
inline constexpr char kExplain[] = "Click Next to check if there are any updates available.";
inline constexpr char kNext[] = "&Next >";
inline constexpr char kCancel[] = "Cancel";
inline constexpr char kDesignLabel[] = "Label1";

inline constexpr char kVersionExplain[] = "New version available:";
inline constexpr char kVersionExplain2[] = "Version up to date!";
inline constexpr char kVersionExplain3[] = "Complete";
inline constexpr char kVersionExplain4[] = "Downloading complete!";
inline constexpr char kNextToDownload2[] = "Click Complete to close.";

inline constexpr char kErrorDownloading[] = "An error has occured while downloading or saving the file.";
inline constexpr char kErrorDownloading2[] = "Be sure Tarnwick is closed.";
inline constexpr char kErrorDownloading3[] = "Try again later!";

inline constexpr char kNewUpdater[] = "There is a new version of Tarnwick Updater available.";
inline constexpr char kNewUpdater2Before[] = "You will be send to ";
inline constexpr char kNewUpdater2After[] = " for download.";

}  // namespace tarnwick::english

namespace tarnwick::status {

// The status words of the download list; compared exactly, the three dots included.
inline constexpr char kValid[] = "Valid";
inline constexpr char kBusy[] = "Busy...";
inline constexpr char kDone[] = "Done";
inline constexpr char kFailed[] = "Failed";

}  // namespace tarnwick::status
