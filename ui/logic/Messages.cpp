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
            return "Texty výkresu jsou v kódování UTF-8 (AutoCAD 2007 nebo novější). "
                   "Uložte výkres jako starší verzi DXF, nebo vypněte Konverzi češtiny.";
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

std::string CannotOpenDirectoryText(const std::string& shownPath)
{
    return "Adresář " + shownPath + " nelze otevřít.";
}

std::string CannotReadVolumeText(const std::string& shownRoot)
{
    return "Souborový systém " + shownRoot + " nelze číst.";
}

}  // namespace dxfkonv
