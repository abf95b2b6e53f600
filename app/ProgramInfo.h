#pragma once

// The program's name and version as the main window's caption and the About box show them.
inline constexpr const char* kProgramName = "Veltrane";
inline constexpr const char* kProgramVersion = "3.5";
inline constexpr const char* kProgramDate = "Aug 20, 2009";
// Two blanks after the comma, as the caption has always read.
inline constexpr const char* kMainCaption = "Veltrane Ver.3.5,  Aug 20, 2009";
