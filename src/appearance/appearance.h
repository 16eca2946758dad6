// The appearance keys of the lock caption: which keys there are, the order in
// which the appearance editor writes them, the texts it writes, and the rules
// by which the editor's preview and the lock window read them back.
//
// Both readers go through ReadFontBlock (or ParseFontBlock on texts already
// read), so a hand-edited settings file gives the same look in both places:
// the seven font keys are applied together or not at all.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// Indexes into kAppearanceKeys.
enum AppearanceKey : std::size_t {
  kKeyFontSize,
  kKeyFontBold,
  kKeyFontItalic,
  kKeyFontStrikethru,
  kKeyFontUnderline,
  kKeyFontName,
  kKeyColor,
  kKeyLabel,
  kKeyPhoto,
  kAppearanceKeyCount,
};

// The nine keys of section "Option", in the order the editor reads and
// writes them. The first seven form the font block.
inline constexpr std::array<const wchar_t*, kAppearanceKeyCount> kAppearanceKeys = {
    L"FontSize", L"FontBold", L"FontItalic", L"FontStrikethru", L"FontUnderline",
    L"FontName", L"Color",    L"label",      L"photo",
};
inline constexpr std::size_t kFontBlockKeys = 7;

using FontBlockTexts = std::array<std::wstring, kFontBlockKeys>;
using AppearanceValues = std::array<std::wstring, kAppearanceKeyCount>;

// The caption the editor shows when "label" is empty.
inline constexpr wchar_t kDefaultCaption[] = L"挂机中，请勿操作！";

// Font sizes outside (0, 1638] are refused: 1638 pt is the largest size the
// system font chooser accepts, so nothing larger can come from the editor.
inline constexpr float kMaxFontPoints = 1638.0f;

// A face name longer than this cannot name a font (LOGFONT holds 31
// characters and a NUL); the system would silently match a cut-off name.
inline constexpr std::size_t kMaxFaceNameChars = 31;

// A stored colour: an RGB colour 0x00BBGGRR, or a system colour, stored as
// 0x800000nn (a negative number) for system colour index nn.
struct TextColour {
  bool system = false;
  std::uint32_t value = 0;  // the COLORREF, or the system colour index

  friend bool operator==(const TextColour&, const TextColour&) = default;
};

struct FontBlock {
  float points = 0;  // in (0, kMaxFontPoints]
  bool bold = false;
  bool italic = false;
  bool strikethru = false;
  bool underline = false;
  std::wstring name;  // empty: the label keeps the face it has
  TextColour colour;

  friend bool operator==(const FontBlock&, const FontBlock&) = default;
};

// Size in points: digits with at most one decimal separator, which may be
// '.' or `decimal` (the user's locale writes it). No sign, no exponent, no
// digit grouping. Empty when the text is not such a number or out of range.
std::optional<float> ParseFontSize(std::wstring_view text, wchar_t decimal = L'.');

// "True"/"False" in any letter case, or a decimal number (zero is false).
std::optional<bool> ParseBoolean(std::wstring_view text);

// A signed decimal integer that fits 32 bits.
std::optional<std::int32_t> ParseInt32(std::wstring_view text);

// Empty for high bytes other than 0x00 and 0x80 and for system colour indexes
// past the last one the system knows (30).
std::optional<TextColour> ColourFromStored(std::int32_t stored);

// Applies the rule of both readers to the seven font texts: an empty
// "FontSize" means the block is absent; otherwise every one of the seven must
// convert ("FontName" may be empty) or none of the block applies.
std::optional<FontBlock> ParseFontBlock(const FontBlockTexts& texts, wchar_t decimal = L'.');

// Reads "FontSize" through `read`; when it is not empty, reads the other six
// keys afresh and parses the block. `read` is ReadOption on section "Option".
using OptionReader = std::function<std::wstring(std::wstring_view key)>;
std::optional<FontBlock> ReadFontBlock(const OptionReader& read, wchar_t decimal = L'.');

// The texts the editor writes. Sizes: shortest form, a fraction only when
// there is one ("24", "10.5"), with the locale's decimal separator. Booleans:
// "True"/"False". Colours: the stored 32-bit value as signed decimal, so
// white is "16777215" and a system colour is negative.
std::wstring FontSizeText(float points, wchar_t decimal = L'.');
std::wstring BooleanText(bool value);
std::wstring ColourText(const TextColour& colour);
FontBlockTexts TextsOfFontBlock(const FontBlock& block, wchar_t decimal = L'.');

// Why a set of values cannot be saved as it stands. The settings reader
// returns at most 127 bytes of code page 936 and the file holds nothing else,
// so a longer value, or one with characters 936 lacks, would come back
// different from what the user sees.
enum class ValueProblem { None, Unrepresentable, TooLong };
struct AppearanceCheck {
  ValueProblem problem = ValueProblem::None;
  std::size_t key = 0;  // index of the first value with the problem
};
inline constexpr std::size_t kMaxStoredValueBytes = 127;
AppearanceCheck CheckAppearanceValues(const AppearanceValues& values);
std::wstring AppearanceProblemMessage(const AppearanceCheck& check);

// Writes the nine values in key order into the settings file in one
// replacement of the file: all of them are stored or none is. True when stored.
bool WriteAppearance(const AppearanceValues& values);

// Message box texts of the editor.
inline constexpr wchar_t kMsgAppearanceSaved[] = L"挂机锁信息配置成功，重启生效！";
std::wstring AppearanceWriteFailedMessage(const std::wstring& settings_path);

}  // namespace tolvane
