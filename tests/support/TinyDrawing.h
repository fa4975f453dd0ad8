// A drawing of one code-page header, one colour and one text, each of which
// every conversion switch changes its own way: the colour 1 has four
// renumberings (16 or 256 colours, either way), the text holds an escape
// and a high byte, and the header names neither code page.
#pragma once

#include <string>

namespace dxfkonv::test {

inline std::string tinyDrawing(const std::string& codePage, const std::string& colour, const std::string& text)
{
    return "  0\r\nSECTION\r\n  2\r\nHEADER\r\n  9\r\n$DWGCODEPAGE\r\n  3\r\n" + codePage
           + "\r\n  0\r\nENDSEC\r\n  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  0\r\nTEXT\r\n 62\r\n" + colour
           + "\r\n  1\r\n" + text + "\r\n  0\r\nENDSEC\r\n  0\r\nEOF\r\n";
}

// The drawing as it is written, and converted with the defaults (Latin II
// to Windows 1250, 256 colours, TARNIX to AutoCAD).
inline const std::string kTiny = tinyDrawing("ANSI_1252", "     1", "P%%130\xE8");
inline const std::string kTinyDefaults = tinyDrawing("ANSI_1250", "7", "P\xE9\xC0");

}  // namespace dxfkonv::test
