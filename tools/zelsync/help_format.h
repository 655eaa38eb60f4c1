// Help text that fits the terminal: CLI11's help, wrapped to the width of
// the terminal (or $COLUMNS, else 80 columns), with continuation lines
// indented under the column they continue.
#ifndef ZELSYNC_TOOL_HELP_FORMAT_H
#define ZELSYNC_TOOL_HELP_FORMAT_H

#include <cstddef>
#include <string>

#include <CLI/CLI.hpp>

namespace zelsync_tool {

// The width of standard output when it is a terminal, else $COLUMNS when
// it is a number, else 80; never below 40 nor above 200.
size_t HelpWidth();

// Wraps every line of `text` longer than `width` at spaces. A line whose
// description starts at `column` (an option and its description) continues
// there; any other line continues at its own indentation.
std::string WrapHelpText(const std::string& text, size_t width, size_t column);

class WrappingFormatter : public CLI::Formatter {
 public:
  explicit WrappingFormatter(size_t width) : width_(width) {}
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    return WrapHelpText(CLI::Formatter::make_help(app, std::move(name), mode), width_, get_column_width());
  }

 private:
  size_t width_;
};

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_HELP_FORMAT_H
