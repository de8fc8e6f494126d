#pragma once

// Fixed texts of the chat protocol and window that travel or compare as cp1252 bytes
// ("\xE8" is "è"). Texts only shown to the user are written where they are shown.
namespace vestrel::chat::ChatText {

inline constexpr char Everybody[] = "Tutti";                   // last entry of the client list box
inline constexpr char AllClients[] = "Tutti i Client";         // first entry of the group selector
inline constexpr char EntryNotice[] = " \xE8 entrato in chat"; // 18 characters, leading space
inline constexpr char ExitNotice[] = "\xE8 uscito dalla chat"; // 19 characters
inline constexpr char NotConnected[] = ": non connesso!";

} // namespace vestrel::chat::ChatText
