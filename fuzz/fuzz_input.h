// Splits a fuzzer's input into fields: each field runs to the next 0xFF byte
// (never part of code page 936 text), the last one to the end.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

inline std::vector<std::string> SplitFields(const std::uint8_t* data, std::size_t size, std::size_t count) {
  std::vector<std::string> fields(count);
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t end = i + 1 == count ? std::string_view::npos : rest.find('\xFF');
    fields[i] = std::string(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return fields;
}

}  // namespace tolvane
