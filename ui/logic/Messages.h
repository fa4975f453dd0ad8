// The texts of the windows' message boxes and of the progress window's
// caption, in UTF-8, for whichever toolkit shows them.
#pragma once

#include <exception>
#include <string>
#include <vector>

namespace dxfkonv {

// The progress window's caption while `shownName` is converted:
// "Konvertuje se soubor PLAN.DXF".
std::string ProgressCaption(const std::string& shownName);

// The text the default handler shows for an error: an I/O error's own
// ("File access denied."), but a Czech one for the drawings a pass refuses
// to convert (not a text DXF file, texts in UTF-8, a backup name another
// drawing has too) and for a drawing another program changed meanwhile.
std::string ErrorText(const std::exception& error);

// The same for whatever was thrown; "Neznámá chyba." for what is not a
// std::exception.
std::string FailureText(std::exception_ptr failure);

// The question asked when the drawing `shownName` declares `codePage`, the
// code page the conversion writes, already.
std::string ConvertAgainQuestion(const std::string& shownName, const std::string& codePage);

// The one message at the end of a batch that passed drawings over: each by
// its name shown, with its reason.
struct RefusedDrawing {
    std::string shownName;
    std::string reason;
};
std::string RefusedDrawingsText(const std::vector<RefusedDrawing>& refused);

// A directory the directory list cannot enter, and a file system (the
// drive selector's entry) that cannot be read, by the names shown.
std::string CannotOpenDirectoryText(const std::string& shownPath);
std::string CannotReadVolumeText(const std::string& shownRoot);

}  // namespace dxfkonv
