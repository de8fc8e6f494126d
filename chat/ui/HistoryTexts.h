#pragma once

// Numbers of the history's texts in the language library; the Italian text beside each use is the one
// shown when the library lacks the number.
namespace vestrel::chat::HistoryText {
inline constexpr int Separator = 49980;
inline constexpr int KeepDays = 49981;
inline constexpr int Menu = 49982;
inline constexpr int Search = 49983;
inline constexpr int Export = 49984;
inline constexpr int Clear = 49985;
inline constexpr int ClearQuestion = 49986;
inline constexpr int MovedAside = 49987;
inline constexpr int NotWritten = 49988;
inline constexpr int SearchTitle = 49989;
inline constexpr int SearchLabel = 49990;
inline constexpr int ResultColumns = 49991;
inline constexpr int ExportTitle = 49992;
inline constexpr int ExportFrom = 49993;
inline constexpr int ExportTo = 49994;
inline constexpr int ExportPlainText = 49995;
inline constexpr int ExportCsv = 49996;
inline constexpr int Exported = 49997;
inline constexpr int ExportFailed = 49998;
inline constexpr int NothingFound = 49999;
} // namespace vestrel::chat::HistoryText
