#include "appearance/appearance.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "config/codepage.h"
#include "config/settings.h"

namespace tolvane {
namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Digits with at most one decimal point ('.' or `decimal`), at least one
// digit. Returns the number spelt with '.', or nothing.
std::optional<std::string> PlainDecimal(std::wstring_view text, wchar_t decimal) {
  std::string ascii;
  bool seen_point = false;
  bool seen_digit = false;
  for (wchar_t c : text) {
    if (IsDigit(c)) {
      ascii.push_back(static_cast<char>(c));
      seen_digit = true;
    } else if ((c == L'.' || c == decimal) && !seen_point) {
      ascii.push_back('.');
      seen_point = true;
    } else {
      return std::nullopt;
    }
  }
  if (!seen_digit) return std::nullopt;
  return ascii;
}

}  // namespace

std::optional<float> ParseFontSize(std::wstring_view text, wchar_t decimal) {
  const auto ascii = PlainDecimal(text, decimal);
  if (!ascii) return std::nullopt;
  // from_chars wants a digit on both sides of the point (".5", "5.").
  std::string number = *ascii;
  if (number.front() == '.') number.insert(number.begin(), '0');
  if (number.back() == '.') number.push_back('0');
  float value = 0;
  const char* first = number.data();
  const char* last = first + number.size();
  const auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last) return std::nullopt;
  if (!(value > 0.0f) || value > kMaxFontPoints) return std::nullopt;
  return value;
}

std::optional<bool> ParseBoolean(std::wstring_view text) {
  if (EqualsIgnoringAsciiCase(text, L"true")) return true;
  if (EqualsIgnoringAsciiCase(text, L"false")) return false;
  std::wstring_view digits = text;
  if (!digits.empty() && (digits[0] == L'-' || digits[0] == L'+')) digits.remove_prefix(1);
  const auto ascii = PlainDecimal(digits, L'.');
  if (!ascii) return std::nullopt;
  return ascii->find_first_not_of("0.") != std::string::npos;
}

std::optional<std::int32_t> ParseInt32(std::wstring_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == L'-' || text[0] == L'+')) {
    negative = text[0] == L'-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                                      : std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  for (wchar_t c : text) {
    if (!IsDigit(c)) return std::nullopt;
    magnitude = magnitude * 10 + (c - L'0');
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::optional<TextColour> ColourFromStored(std::int32_t stored) {
  const auto bits = static_cast<std::uint32_t>(stored);
  const std::uint32_t high = bits >> 24;
  if (high == 0x00) return TextColour{false, bits};
  // COLOR_MENUBAR (30) is the last system colour index.
  if (high == 0x80 && (bits & 0x00FFFFFFu) <= 30) return TextColour{true, bits & 0xFFu};
  return std::nullopt;
}

std::optional<FontBlock> ParseFontBlock(const FontBlockTexts& texts, wchar_t decimal) {
  if (texts[kKeyFontSize].empty()) return std::nullopt;
  FontBlock block;
  const auto points = ParseFontSize(texts[kKeyFontSize], decimal);
  const auto bold = ParseBoolean(texts[kKeyFontBold]);
  const auto italic = ParseBoolean(texts[kKeyFontItalic]);
  const auto strikethru = ParseBoolean(texts[kKeyFontStrikethru]);
  const auto underline = ParseBoolean(texts[kKeyFontUnderline]);
  const auto stored = ParseInt32(texts[kKeyColor]);
  const auto colour = stored ? ColourFromStored(*stored) : std::nullopt;
  if (!points || !bold || !italic || !strikethru || !underline || !colour) return std::nullopt;
  if (texts[kKeyFontName].size() > kMaxFaceNameChars) return std::nullopt;
  block.points = *points;
  block.bold = *bold;
  block.italic = *italic;
  block.strikethru = *strikethru;
  block.underline = *underline;
  block.name = texts[kKeyFontName];
  block.colour = *colour;
  return block;
}

std::optional<FontBlock> ReadFontBlock(const OptionReader& read, wchar_t decimal) {
  FontBlockTexts texts;
  texts[kKeyFontSize] = read(kAppearanceKeys[kKeyFontSize]);
  if (texts[kKeyFontSize].empty()) return std::nullopt;
  for (std::size_t i = kKeyFontSize + 1; i < kFontBlockKeys; ++i) texts[i] = read(kAppearanceKeys[i]);
  return ParseFontBlock(texts, decimal);
}

std::wstring FontSizeText(float points, wchar_t decimal) {
  // Seven significant digits are all a single-precision number carries, and
  // %g drops a zero fraction and trailing zeros: 24 -> "24", 10.5 -> "10.5".
  char buf[96];
  std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(points));
  if (std::strchr(buf, 'e') != nullptr) {
    // %g turns to an exponent below 0.0001 ("1e-05"), which the reader
    // refuses, and with it the whole font block: write the same seven
    // significant digits as plain decimals instead.
    const int exponent = static_cast<int>(std::floor(std::log10(std::fabs(static_cast<double>(points)))));
    const int decimals = std::clamp(6 - exponent, 0, 60);
    std::snprintf(buf, sizeof buf, "%.*f", decimals, static_cast<double>(points));
    char* end = buf + std::strlen(buf);
    if (std::strchr(buf, '.') != nullptr) {
      while (end > buf && end[-1] == '0') --end;
      if (end > buf && end[-1] == '.') --end;
    }
    *end = '\0';
  }
  std::wstring text;
  for (const char* p = buf; *p; ++p) text.push_back(*p == '.' ? decimal : static_cast<wchar_t>(*p));
  return text;
}

std::wstring BooleanText(bool value) { return value ? L"True" : L"False"; }

std::wstring ColourText(const TextColour& colour) {
  const std::uint32_t bits = colour.system ? (0x80000000u | (colour.value & 0xFFu)) : (colour.value & 0x00FFFFFFu);
  return std::to_wstring(static_cast<std::int32_t>(bits));
}

FontBlockTexts TextsOfFontBlock(const FontBlock& block, wchar_t decimal) {
  return {FontSizeText(block.points, decimal), BooleanText(block.bold),      BooleanText(block.italic),
          BooleanText(block.strikethru),       BooleanText(block.underline), block.name,
          ColourText(block.colour)};
}

AppearanceCheck CheckAppearanceValues(const AppearanceValues& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::string bytes;
    if (!ToCp936(values[i], bytes)) return {ValueProblem::Unrepresentable, i};
    if (bytes.size() > kMaxStoredValueBytes) return {ValueProblem::TooLong, i};
  }
  return {};
}

std::wstring AppearanceProblemMessage(const AppearanceCheck& check) {
  std::wstring field;
  if (check.key == kKeyLabel) {
    field = L"文字提示";
  } else if (check.key == kKeyPhoto) {
    field = L"背景图片的路径";
  } else {
    field = L"字体设置";
  }
  switch (check.problem) {
    case ValueProblem::None:
      return {};
    case ValueProblem::Unrepresentable:
      return field + L"中有配置文件无法保存的字符（只能保存简体中文字符集中的文字），请修改后再试。";
    case ValueProblem::TooLong:
      return field + L"太长，无法完整保存（最多 127 个字节，约 63 个汉字），请缩短后再试。";
  }
  return {};
}

bool WriteAppearance(const AppearanceValues& values) {
  std::array<OptionValue, kAppearanceKeyCount> writes;
  for (std::size_t i = 0; i < values.size(); ++i) writes[i] = {kAppearanceKeys[i], values[i]};
  return WriteOptions(kSettingsSection, writes) == WriteResult::Ok;
}

std::wstring AppearanceWriteFailedMessage(const std::wstring& settings_path) {
  return L"配置文件写入失败：\r\n" + settings_path + L"\r\n\r\n界面设置没有保存，原有设置未被改动。请以管理员身份运行后再试。";
}

}  // namespace tolvane
