#pragma once

#include <optional>
#include <string>
#include <vector>

namespace voltaro {

// voltaro-log's --config FILE: the arguments with each "--config FILE" put
// back as the options FILE holds. A line holds one option and, after the
// blanks that follow it, its value exactly as written to the line's end, so
// a value needs no quoting whatever it holds (blanks, quotes, "$"); blanks
// around the line, empty lines and lines starting with "#" do not count.
// A service's options are thus written as an admin reads them, and a file
// name with a blank in it stays one argument.
//
// Returns nothing, with `error` set to one line naming the file (and line),
// when a file cannot be read or holds what is no option. `from` is set to the
// last file read.
std::optional<std::vector<std::string>> expandConfig(const std::vector<std::string>& args, std::string& error,
                                                     std::string* from = nullptr);

} // namespace voltaro
