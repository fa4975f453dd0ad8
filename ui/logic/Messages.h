// The texts of the windows' message boxes and of the progress window's
// caption, in UTF-8, for whichever toolkit shows them.
#pragma once

#include <cstdint>
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

// A drawing converted with characters that have no counterpart in the
// target code page, written as spaces: how many, and the first lines they
// were on (`moreLines`: there were lines beyond those).
struct LostCharacters {
    std::string shownName;
    std::uint64_t count = 0;
    std::vector<std::uint64_t> lines;
    bool moreLines = false;
};

// The one message at the end of a batch: the drawings passed over, with
// their reasons, then the drawings where characters became spaces. Empty
// when every drawing converted cleanly, and no message is shown then.
std::string BatchSummaryText(const std::vector<RefusedDrawing>& refused, const std::vector<LostCharacters>& lost);

// What a hand-over of paths to the window left out, by the paths (or, for
// the files the list does not show, the names) handed over.
struct HandOverLeftOut {
    std::vector<std::string> missing;
    std::vector<std::string> unreadable;
    std::vector<std::string> elsewhere;    // of other directories than the one shown
    std::vector<std::string> notDrawings;  // in the directory shown, not in the file list
};
// One message naming them; empty when nothing was left out.
std::string HandOverText(const HandOverLeftOut& leftOut);

// A directory the directory list cannot enter, and a file system (the
// drive selector's entry) that cannot be read, by the names shown.
std::string CannotOpenDirectoryText(const std::string& shownPath);
std::string CannotReadVolumeText(const std::string& shownRoot);

}  // namespace dxfkonv
