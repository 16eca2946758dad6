#include "config/elevated_write.h"

#include <algorithm>
#include <cwchar>

namespace tolvane {

namespace {

// The platform writer's buffer (see WriteOption): longer values never reach
// the file, so a request with one is not ours.
constexpr std::size_t kMaxValueChars = 128;

constexpr wchar_t kRequestTag[] = L"T1";
constexpr wchar_t kFieldSeparator = L'*';
constexpr wchar_t kEscape = L'%';

struct OpName {
  SettingsOp op;
  const wchar_t* name;
};
constexpr OpName kOpNames[] = {
    {SettingsOp::Set, L"set"}, {SettingsOp::Replace, L"replace"}, {SettingsOp::Remove, L"remove"}};

bool IsPlain(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

void AppendEscaped(std::wstring& out, std::wstring_view field) {
  for (wchar_t c : field) {
    if (IsPlain(c)) {
      out += c;
      continue;
    }
    wchar_t code[6];
    std::swprintf(code, 6, L"%c%04X", kEscape, static_cast<unsigned>(c) & 0xFFFFu);
    out += code;
  }
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;  // lower case is never sent
}

std::optional<std::wstring> Unescaped(std::wstring_view field) {
  std::wstring out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (IsPlain(field[i])) {
      out += field[i];
      continue;
    }
    if (field[i] != kEscape || field.size() - i < 5) return std::nullopt;
    unsigned code = 0;
    for (std::size_t d = 1; d <= 4; ++d) {
      const int v = HexValue(field[i + d]);
      if (v < 0) return std::nullopt;
      code = code * 16 + static_cast<unsigned>(v);
    }
    // A plain character sent escaped is no text this program produced.
    if (IsPlain(static_cast<wchar_t>(code))) return std::nullopt;
    out += static_cast<wchar_t>(code);
    i += 4;
  }
  return out;
}

std::vector<std::wstring_view> Fields(std::wstring_view text) {
  std::vector<std::wstring_view> fields;
  for (;;) {
    const std::size_t at = text.find(kFieldSeparator);
    fields.push_back(text.substr(0, at));
    if (at == std::wstring_view::npos) return fields;
    text.remove_prefix(at + 1);
  }
}

bool IsPlainKey(std::wstring_view key) {
  return !key.empty() && key.size() <= kMaxKeyChars && std::all_of(key.begin(), key.end(), IsPlain);
}

bool IsWritableValue(std::wstring_view value) {
  return value.size() <= kMaxValueChars && value.find_first_of(std::wstring_view(L"\r\n\0", 3)) == std::wstring_view::npos;
}

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SamePath(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return AsciiLower(x == L'/' ? L'\\' : x) == AsciiLower(y == L'/' ? L'\\' : y);
         });
}

SettingsElevator& Elevator() {
  static SettingsElevator elevator;
  return elevator;
}

DirectWrite FromFileError(FileError error) {
  switch (error) {
    case FileError::None:
      return {};
    case FileError::Refused:
      return {WriteResult::IoError, true};
    case FileError::Failed:
      break;
  }
  return {WriteResult::IoError, false};
}

}  // namespace

SettingsRequest MakeSettingsRequest(SettingsOp op, std::span<const OptionValue> values) {
  SettingsRequest request;
  request.op = op;
  request.path = SettingsFilePath();
  for (const auto& [key, value] : values) {
    request.values.emplace_back(key, value.substr(0, std::min(value.find(L'\0'), kMaxValueChars)));
  }
  return request;
}

std::wstring EncodeSettingsRequest(const SettingsRequest& request) {
  std::wstring out = kRequestTag;
  for (const OpName& o : kOpNames) {
    if (o.op == request.op) (out += kFieldSeparator) += o.name;
  }
  out += kFieldSeparator;
  AppendEscaped(out, request.path);
  for (const auto& [key, value] : request.values) {
    out += kFieldSeparator;
    AppendEscaped(out, key);
    out += kFieldSeparator;
    AppendEscaped(out, value);
  }
  return out;
}

std::optional<SettingsRequest> DecodeSettingsRequest(std::wstring_view text) {
  if (text.size() > kMaxRequestChars) return std::nullopt;
  const std::vector<std::wstring_view> fields = Fields(text);
  // Tag, operation, path, then key and value pairs.
  if (fields.size() < 3 || fields.size() % 2 != 1 || fields[0] != kRequestTag) return std::nullopt;
  SettingsRequest request;
  const auto op = std::find_if(std::begin(kOpNames), std::end(kOpNames),
                               [&](const OpName& o) { return fields[1] == o.name; });
  if (op == std::end(kOpNames)) return std::nullopt;
  request.op = op->op;
  std::optional<std::wstring> path = Unescaped(fields[2]);
  if (!path || path->empty()) return std::nullopt;
  request.path = std::move(*path);
  const std::size_t pairs = (fields.size() - 3) / 2;
  if (request.op == SettingsOp::Remove ? pairs != 0 : (pairs == 0 || pairs > kMaxRequestValues)) return std::nullopt;
  for (std::size_t i = 3; i < fields.size(); i += 2) {
    std::optional<std::wstring> key = Unescaped(fields[i]);
    std::optional<std::wstring> value = Unescaped(fields[i + 1]);
    if (!key || !value || !IsPlainKey(*key) || !IsWritableValue(*value)) return std::nullopt;
    request.values.emplace_back(std::move(*key), std::move(*value));
  }
  return request;
}

DirectWrite WriteDirectly(const SettingsRequest& request) {
  if (request.op == SettingsOp::Remove) {
    const std::wstring path = SettingsFilePath();
    return PathExists(path) ? FromFileError(RemoveFile(path)) : DirectWrite{};
  }
  SettingsSnapshot before;
  if (!ReadSettingsForRewrite(before)) return {WriteResult::IoError, false};
  std::string after = request.op == SettingsOp::Set ? before.bytes : std::string();
  std::vector<OptionValue> values;
  for (const auto& [key, value] : request.values) values.emplace_back(key, value);
  const WriteResult applied = ApplyOptions(after, kSettingsSection, values);
  if (applied != WriteResult::Ok) return {applied, false};
  // The platform leaves an unchanged file alone.
  if (before.existed && after == before.bytes) return {};
  return FromFileError(ReplaceFileAtomically(before.path, after));
}

int RunElevatedWrite(const std::vector<std::wstring>& args) {
  if (args.size() != 2 || args[0] != kElevatedWriteSwitch) return kElevatedInvalid;
  const std::optional<SettingsRequest> request = DecodeSettingsRequest(args[1]);
  if (!request) return kElevatedInvalid;
  // This instance's own settings file and no other: whatever the request
  // names is only compared, never opened.
  if (!SamePath(request->path, SettingsFilePath())) return kElevatedWrongFile;
  const DirectWrite written = WriteDirectly(*request);
  if (written.result == WriteResult::Ok) return kElevatedWritten;
  if (written.result == WriteResult::Unrepresentable) return kElevatedUnrepresentable;
  return written.refused ? kElevatedRefused : kElevatedFailed;
}

void SetSettingsElevator(SettingsElevator elevator) { Elevator() = std::move(elevator); }

WriteResult ElevateIfRefused(FileError direct, const SettingsRequest& request) {
  if (direct == FileError::None) return WriteResult::Ok;
  const SettingsElevator& elevator = Elevator();
  if (direct != FileError::Refused || !elevator) return WriteResult::IoError;
  // A read-only mark refuses administrators too: no prompt that cannot help.
  if (IsReadOnlyFile(SettingsFilePath())) return WriteResult::IoError;
  const std::optional<int> code = elevator(EncodeSettingsRequest(request));
  if (!code) return WriteResult::Declined;
  switch (*code) {
    case kElevatedWritten:
      return WriteResult::Ok;
    case kElevatedUnrepresentable:
      return WriteResult::Unrepresentable;
    default:
      return WriteResult::IoError;
  }
}

WriteResult WriteSettings(const SettingsRequest& request) {
  const DirectWrite direct = WriteDirectly(request);
  if (!direct.refused) return direct.result;
  return ElevateIfRefused(FileError::Refused, request);
}

}  // namespace tolvane
