// The one way the program fills its message patterns: each "%s" or "%d" takes the
// next argument in order, "%%" stands for one percent sign. Every other text stays
// as it is, and so does a mark left over when the arguments run out, which keeps a
// mistake visible instead of reading past the arguments as printf would.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace pelrow {

// One argument: a text, or a number written in decimal.
class TFormatArg {
public:
  TFormatArg(std::string_view text) : FText(text) {}
  TFormatArg(const std::string& text) : FText(text) {}
  TFormatArg(const char* text) : FText(text != nullptr ? text : "") {}
  TFormatArg(int number) : FText(std::to_string(number)) {}
  TFormatArg(long number) : FText(std::to_string(number)) {}
  TFormatArg(long long number) : FText(std::to_string(number)) {}
  TFormatArg(unsigned number) : FText(std::to_string(number)) {}
  TFormatArg(unsigned long number) : FText(std::to_string(number)) {}
  TFormatArg(unsigned long long number) : FText(std::to_string(number)) {}

  const std::string& Text() const { return FText; }

private:
  std::string FText;
};

std::string FormatTextFrom(std::string_view pattern, std::initializer_list<TFormatArg> args);

template <typename... TArgs>
std::string FormatText(std::string_view pattern, const TArgs&... args) {
  return FormatTextFrom(pattern, {TFormatArg(args)...});
}

} // namespace pelrow
