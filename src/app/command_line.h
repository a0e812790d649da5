// What the command line asks for before any option is scanned: help, the
// version, or a run; the check of its arguments against the option table;
// and the help text, made from the table so that every option in it is
// listed.
#pragma once

#include <string>
#include <vector>

namespace kavet {

enum class Request { Run, Help, Version };

// Help (-h, --help) or the version (--version) when one stands where no
// option's value belongs; the first one wins. Otherwise a run.
Request requestOf(const std::vector<std::string>& args);

// The options of the command line of the first kavet, as its banner lists
// them. A command line made of these alone keeps every behaviour of that
// program; any other option is new.
bool isClassicOption(const std::string& name);

// Checks every argument that stands where no option's value belongs (the
// values of an option are the arguments after it, as many as it takes,
// wherever the option name occurs). In series mode (-t) and on a command line
// with any new option, an argument that is no option is refused with
// InputError, with a hint to the nearest option names. On the classic command
// line it is ignored as ever, and the returned warnings name each such
// argument that looks like an option (a dash and a letter).
std::vector<std::string> checkArguments(const std::vector<std::string>& args);

// The option names nearest to `word` by edit distance (at most three, ties in
// table order, those of the given mode first), or none when none is near.
std::vector<std::string> nearestOptions(const std::string& word, bool seriesMode);

std::string helpText();
std::string versionText();

} // namespace kavet
