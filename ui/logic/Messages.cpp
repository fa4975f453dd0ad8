#include "ui/logic/Messages.h"

#include <utility>

#include "engine/IoError.h"

namespace dxfkonv {

std::string ProgressCaption(const std::string& shownName)
{
    return "Konvertuje se soubor " + shownName;
}

std::string ErrorText(const std::exception& error)
{
    if (const auto* failure = dynamic_cast<const ConversionError*>(&error)) {
        switch (failure->code()) {
        case kNotAsciiDxf:
            return "Soubor není textový (ASCII) soubor DXF.";
        case kTextsInUtf8:
            return "Texty výkresu jsou v kódování UTF-8 (AutoCAD 2007 nebo novější) a do konvence DOS "
                   "je převést nelze. Uložte výkres jako DXF verze AutoCAD 2004 nebo starší, nebo vypněte "
                   "Konverzi češtiny.";
        case kAlreadyConverted:
            if (const auto* refusal = dynamic_cast<const Refusal*>(failure))
                return "Výkres už deklaruje kódovou stránku " + refusal->codePage()
                       + ", byl nejspíš už konvertován.";
            break;
        case kSharedBackupName:
            if (const auto* refusal = dynamic_cast<const Refusal*>(failure))
                return "Výkres má stejný název zálohy " + refusal->backupName() + " jako " + refusal->otherDrawing()
                       + "; konvertujte ho bez zálohy, nebo jeden z nich přejmenujte.";
            break;
        case kChangedMeanwhile:
            return "Soubor změnil během konverze jiný program; nic nebylo nahrazeno.";
        default:
            break;
        }
    }
    return error.what();
}

std::string FailureText(std::exception_ptr failure)
{
    if (!failure)
        return "Neznámá chyba.";
    try {
        std::rethrow_exception(std::move(failure));
    } catch (const std::exception& error) {
        return ErrorText(error);
    } catch (...) {
        return "Neznámá chyba.";
    }
}

std::string ConvertAgainQuestion(const std::string& shownName, const std::string& codePage)
{
    return "Výkres " + shownName + " už deklaruje kódovou stránku " + codePage
           + ", byl tedy nejspíš už konvertován. Další konverze by poškodila jeho texty a barvy "
             "a přepsala jeho zálohu. Přesto konvertovat?";
}

std::string RefusedDrawingsText(const std::vector<RefusedDrawing>& refused)
{
    std::string text = "Tyto výkresy nebyly konvertovány:\n";
    for (const RefusedDrawing& drawing : refused)
        text.append("\n").append(drawing.shownName).append(": ").append(drawing.reason);
    return text;
}

namespace {

// "1 znak", "3 znaky", "5 znaků": Czech counts its nouns in three forms.
std::string characters(std::uint64_t count)
{
    const char* noun = count == 1 ? "znak" : count >= 2 && count <= 4 ? "znaky" : "znaků";
    return std::to_string(count) + " " + noun;
}

// "(řádek 12)", "(řádky 12, 40)", "(řádky 1, 2, …)" when there were more.
std::string lines(const LostCharacters& drawing)
{
    if (drawing.lines.empty())
        return {};
    std::string text = drawing.lines.size() == 1 && !drawing.moreLines ? " (řádek " : " (řádky ";
    for (std::size_t i = 0; i < drawing.lines.size(); ++i)
        text.append(i == 0 ? "" : ", ").append(std::to_string(drawing.lines[i]));
    if (drawing.moreLines)
        text.append(", …");
    return text.append(")");
}

}  // namespace

std::string BatchSummaryText(const std::vector<RefusedDrawing>& refused, const std::vector<LostCharacters>& lost)
{
    std::string text;
    if (!refused.empty())
        text = RefusedDrawingsText(refused);
    if (!lost.empty()) {
        if (!text.empty())
            text.append("\n\n");
        text.append("V těchto výkresech se znaky, které cílová kódová stránka nemá, změnily na mezery:\n");
        for (const LostCharacters& drawing : lost)
            text.append("\n").append(drawing.shownName).append(": ").append(characters(drawing.count)).append(
                lines(drawing));
    }
    return text;
}

std::string HandOverText(const HandOverLeftOut& leftOut)
{
    std::string text;
    const auto section = [&text](const char* heading, const std::vector<std::string>& paths) {
        if (paths.empty())
            return;
        if (!text.empty())
            text.append("\n\n");
        text.append(heading).append("\n");
        for (const std::string& path : paths)
            text.append("\n").append(path);
    };
    section("Tyto soubory ani adresáře neexistují:", leftOut.missing);
    section("Tyto soubory a adresáře nelze otevřít:", leftOut.unreadable);
    section("Výkresy z jiných adresářů nebyly vybrány:", leftOut.elsewhere);
    section("Tyto soubory nejsou výkresy DXF a nebyly vybrány:", leftOut.notDrawings);
    return text;
}

std::string CannotOpenDirectoryText(const std::string& shownPath)
{
    return "Adresář " + shownPath + " nelze otevřít.";
}

std::string CannotReadVolumeText(const std::string& shownRoot)
{
    return "Souborový systém " + shownRoot + " nelze číst.";
}

}  // namespace dxfkonv
