// Switch settings the engine tests use often.
#pragma once

#include "engine/rules/Switches.h"

namespace dxfkonv::test {

// The window's defaults with text recoding off.
inline ConversionSwitches textsOff()
{
    ConversionSwitches sw;
    sw.recodeTexts = false;
    return sw;
}

// The window's defaults with colour renumbering off.
inline ConversionSwitches coloursOff()
{
    ConversionSwitches sw;
    sw.palette256 = false;
    return sw;
}

}  // namespace dxfkonv::test
