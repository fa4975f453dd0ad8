// One conversion pass over a file on disk: a drawing converted in place,
// into another file, or only looked at; and the name of its backup.
#pragma once

#include <functional>
#include <string>

#include "engine/replace/Batch.h"
#include "engine/replace/Drawings.h"
#include "engine/platform/FileSystem.h"
#include "engine/platform/Signals.h"
#include "engine/pass/LinePass.h"
#include "engine/rules/Switches.h"

namespace dxfkonv {

// The backup's name: the file name cut after its last "." plus "old"
// ("PLAN.DXF" gives "PLAN.old"); a name without "." gets ".old" appended.
std::string BackupName(const std::string& fileName);

// Asked when a pass finds that the drawing was converted before (see
// PassReport::alreadyConverted) and the switches do not say to convert it
// again, with the code page it declares: true replaces the drawing with
// the result of that pass all the same; false refuses it.
using AskConvertAgain = std::function<bool(const std::string& codePage)>;

// Converts a drawing in place.
//
// A name with no regular file behind it is skipped: the report says
// found == false and nothing is touched. So is a drawing `batch` has met
// before (report.repeated). Otherwise the converted text is written to a
// work file beside the file, flushed to disk, and renamed over the file,
// so the file holds either all of its old or all of its new content, at
// any moment; with keepBackup the old content is kept first under
// BackupName(). The work file gets the file's owner and group where the
// caller may give them (the report says whether), and its permissions,
// access control lists and other extended attributes.
//
// The names are resolved once (see FileSystem): a symbolic link is
// followed as far as its maker may lead the caller (its target is
// replaced, the link stays). From then on the pass works through the
// directory that holds the file and the file itself, open, whatever
// happens to the names. It holds the file exclusively from opening it to
// the replace: a file another pass holds is refused with I/O error 32, and
// so is one whose name no longer leads to the file read by the time of
// the replace. A file without write permission is refused, and so is one
// another program changed while the pass read it.
//
// A drawing converted before is refused with Refusal(kAlreadyConverted)
// after its pass, unless switches.convertAgain or `ask` says otherwise.
//
// Throws IoError on any failure, a Refusal for a drawing it will not
// convert; the file is then untouched and no work file is left behind.
//
// In a batch that queues its drawings (Batch::queues()), the drawing's
// outcome, whatever it is, reaches the batch's `finished` in the order of
// the drawings, and the report returned only says so (pending); only
// Interrupted is thrown, once the drawings before are reported.
PassReport Convert(const Drawing& drawing, const ConversionSwitches& switches, const ProgressSink& progress,
                   FileSystem& fs, Batch* batch = nullptr, const AskConvertAgain& ask = {});

// The same for the drawing `fileName` in `directory`, as the window names it.
inline PassReport Convert(const std::string& directory, const std::string& fileName, const ConversionSwitches& switches,
                          const ProgressSink& progress, FileSystem& fs, Batch* batch = nullptr,
                          const AskConvertAgain& ask = {})
{
    return Convert(Drawing{directory, fileName}, switches, progress, fs, batch, ask);
}

// Converts `input` into `output` (created or replaced the same safe way),
// leaving the input untouched; no backup is made. Throws IoError:
// kFileNotFound when the input is missing or not a regular file,
// kFileAccessDenied when it cannot be reached or when the output is the
// input itself.
PassReport ConvertToFile(const Drawing& input, const Drawing& output, const ConversionSwitches& switches,
                         const ProgressSink& progress, FileSystem& fs);

// Runs the pass over a drawing without writing anything: what would change.
// A drawing `batch` has met is skipped as in Convert().
PassReport InspectFile(const Drawing& drawing, const ConversionSwitches& switches, const ProgressSink& progress,
                       FileSystem& fs, Batch* batch = nullptr);

}  // namespace dxfkonv
