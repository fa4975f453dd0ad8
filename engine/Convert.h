// One conversion pass over a file on disk.
#pragma once

#include <string>

#include "engine/FileOps.h"
#include "engine/LinePass.h"
#include "engine/Switches.h"

namespace dxfkonv {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The name of the short-lived work file, in the converted file's directory.
inline constexpr const char* kWorkFileName = "razade.&&&";

// The directory with one separator after it (a root keeps its own; an
// empty directory, the current one, stays empty).
std::string BasePrefix(const std::string& directory);

// The backup's name: the file name cut after its last "." plus "old"
// ("PLAN.DXF" gives "PLAN.old"); a name without "." gets ".old" appended.
std::string BackupName(const std::string& fileName);

// Converts directory/fileName in place.
//
// A name with no regular file behind it is skipped: the report says
// found == false and nothing is touched. Otherwise the converted text is
// written to a work file beside the file, flushed to disk, and renamed
// over the file (a symbolic link's target is replaced, the link stays);
// with keepBackup the old content is kept first under BackupName(). The
// file thus holds either all of its old or all of its new content, at any
// moment. A file without write permission is refused.
//
// Throws IoError on any failure; the file is then untouched and no work
// file is left behind.
PassReport Convert(const std::string& directory, const std::string& fileName,
                   const ConversionSwitches& switches, const ProgressSink& progress = {},
                   FileOps& ops = SystemFileOps());

// Converts inputPath into outputPath (created or replaced the same safe
// way), leaving the input untouched; no backup is made. Throws IoError:
// kFileNotFound when the input is missing or not a regular file,
// kFileAccessDenied when it cannot be reached.
PassReport ConvertToFile(const std::string& inputPath, const std::string& outputPath,
                         const ConversionSwitches& switches, const ProgressSink& progress = {},
                         FileOps& ops = SystemFileOps());

// Runs the pass over a file without writing anything: what would change.
PassReport InspectFile(const std::string& path, const ConversionSwitches& switches,
                       const ProgressSink& progress = {}, FileOps& ops = SystemFileOps());

}  // namespace dxfkonv
