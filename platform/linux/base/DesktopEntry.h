#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brimlow::platform::linuxdesktop {

// The keys of a desktop entry's [Desktop Entry] group, values unescaped; nothing when the text
// is not a desktop entry (no such group, or a line that is neither a comment, a group header
// nor a key).
std::optional<std::map<std::string, std::string>> desktopEntryKeys(const std::string& text);

// The Exec value that runs `arguments` as they are, as the value would stand in the file
// (quoted and escaped for the Exec rules, then for a string value); nothing when an argument
// cannot be written in a desktop entry (not UTF-8, or a control character other than a tab,
// newline or carriage return).
std::optional<std::string> execValue(const std::vector<std::string>& arguments);

// `text` as a string value stands in the file (TryExec's path, say); nothing when it cannot be
// written in a desktop entry.
std::optional<std::string> stringValue(const std::string& text);

// The arguments an unescaped Exec value runs when no files or URLs are passed (field codes
// other than %% stand for nothing); nothing when its quoting is broken.
std::optional<std::vector<std::string>> execArguments(const std::string& value);

} // namespace brimlow::platform::linuxdesktop
