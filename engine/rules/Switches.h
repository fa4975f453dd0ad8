// The switches that steer one conversion pass.
#pragma once

#include <string>

namespace dxfkonv {

// "lw": Latin II (code page 852, "%%NNN" escapes) to Windows 1250 bytes.
// "wl": Windows 1250 bytes to Latin II escapes. Any other string acts as "wl".
using TextDirection = std::string;
// "sa": TARNIX colour numbers to AutoCAD's. "as": AutoCAD to TARNIX.
using ColourDirection = std::string;

inline const TextDirection kLatinToWindows = "lw";
inline const TextDirection kWindowsToLatin = "wl";
inline const ColourDirection kTarnixToAutocad = "sa";
inline const ColourDirection kAutocadToTarnix = "as";

// Defaults are the main window's start state.
struct ConversionSwitches {
    bool recodeTexts = true;             // group-1 values are recoded
    TextDirection textDirection = "lw";  // also picks the $DWGCODEPAGE value
    bool palette16 = false;              // colours renumbered with the 16-colour tables
    bool palette256 = true;              // ... with the 256-colour tables (when palette16 is off)
    ColourDirection colourDirection = "sa";
    bool keepBackup = true;              // the old file stays as NAME.old
    // A drawing that declares the code page this conversion writes (it was
    // converted before) is converted all the same, not refused.
    bool convertAgain = false;

    bool renumberColours() const { return palette16 || palette256; }
};

}  // namespace dxfkonv
