#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <iterator>

#include "app/settings.h"
#include "core/error.h"

#ifndef KAVET_VERSION
#define KAVET_VERSION "unknown"
#endif

namespace kavet {
namespace {

// The requests that are no option of a run.
constexpr const char* helpNames[] = {"-h", "--help"};
constexpr const char* versionName = "--version";

bool isHelp(const std::string& a)
{
    return std::find(std::begin(helpNames), std::end(helpNames), a) != std::end(helpNames);
}

// Which arguments are the values of an option: the `arity` arguments after
// every occurrence of an option name, as the scan reads them.
std::vector<bool> valuePositions(const std::vector<std::string>& args)
{
    std::vector<bool> value(args.size(), false);
    for (std::size_t i = 0; i < args.size(); ++i)
        if (const OptionSpec* o = findOption(args[i]))
            for (std::size_t k = 1; k <= valueCount(*o, args, i) && i + k < args.size(); ++k)
                value[i + k] = true;
    return value;
}

// A dash and a letter, or two dashes and a letter.
bool looksLikeOption(const std::string& a)
{
    const std::size_t at = a.rfind("--", 0) == 0 ? 2 : 1;
    return a.size() > at && a[0] == '-' && std::isalpha(static_cast<unsigned char>(a[at]));
}

std::string lowered(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Edits (insertions, deletions, substitutions, swaps of neighbours) that turn
// one text into the other; the optimal string alignment distance.
std::size_t editDistance(const std::string& a, const std::string& b)
{
    const std::size_t n = a.size(), m = b.size();
    std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1, 0));
    for (std::size_t i = 0; i <= n; ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= m; ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= n; ++i)
        for (std::size_t j = 1; j <= m; ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[n][m];
}

// " (did you mean -a, -b or -c?)", or nothing.
std::string hint(const std::string& word, bool seriesMode)
{
    const std::vector<std::string> near = nearestOptions(word, seriesMode);
    std::string text;
    for (std::size_t k = 0; k < near.size(); ++k)
        text += (k == 0 ? "" : k + 1 == near.size() ? " or " : ", ") + near[k];
    return text.empty() ? text : " (did you mean " + text + "?)";
}

// Words of `text` wrapped to lines of at most `width` characters, each after
// `indent` spaces but the first, which continues the current line.
std::string wrapped(const std::string& text, std::size_t start, std::size_t indent, std::size_t width)
{
    std::string out;
    std::size_t column = start;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(at, end - at);
        at = end + 1;
        if (word.empty())
            continue;
        if (column > indent && column + 1 + word.size() > width) {
            out += '\n';
            out.append(indent, ' ');
            column = indent;
        } else if (column > indent) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
    }
    return out;
}

std::string paragraph(const std::string& text)
{
    return wrapped(text, 0, 0, 79) + "\n";
}

// One option of the help: its name and values, then what it does and its
// default, wrapped beside them.
std::string helpLine(const std::string& usage, const std::string& what)
{
    constexpr std::size_t indent = 28, width = 79;
    std::string line = "  " + usage;
    if (line.size() + 1 >= indent)
    {
        line += '\n';
        line.append(indent, ' ');
    }
    else
        line.append(indent - line.size(), ' ');
    return line + wrapped(what, indent, indent, width) + "\n";
}

} // namespace

bool isClassicOption(const std::string& name)
{
    static const char* const classic[] = {"-f", "-or", "-oc", "-od", "-wat", "-oxy", "-hb", "-ring", "-cage"};
    return std::find(std::begin(classic), std::end(classic), name) != std::end(classic);
}

Request requestOf(const std::vector<std::string>& args)
{
    const std::vector<bool> value = valuePositions(args);
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (value[i])
            continue;
        if (isHelp(args[i]))
            return Request::Help;
        if (args[i] == versionName)
            return Request::Version;
    }
    return Request::Run;
}

std::vector<std::string> nearestOptions(const std::string& word, bool seriesMode)
{
    struct Candidate {
        std::string name;
        bool ofMode;
    };
    std::vector<Candidate> candidates;
    for (const OptionSpec& o : optionTable())
        candidates.push_back({o.name, o.seriesOnly == seriesMode});
    for (const char* name : helpNames)
        candidates.push_back({name, true});
    candidates.push_back({versionName, true});

    // Names that the word begins are nearest; otherwise names a few edits
    // away (one for a word of up to three letters, two for a longer one).
    const std::string w = lowered(word);
    const std::size_t letters = w.size() - std::min(w.find_first_not_of('-'), w.size());
    bool prefix = false;
    for (const Candidate& c : candidates)
        prefix = prefix || (w.size() >= 2 && lowered(c.name).rfind(w, 0) == 0);
    std::size_t best = letters >= 4 ? 2 : letters >= 2 ? 1 : 0;
    std::vector<std::pair<std::size_t, const Candidate*>> scored;
    for (const Candidate& c : candidates) {
        const std::string n = lowered(c.name);
        if (prefix && n.rfind(w, 0) != 0)
            continue;
        const std::size_t d = editDistance(w, n);
        if (prefix || d <= best)
            scored.push_back({d, &c});
    }
    if (scored.empty())
        return {};
    std::size_t least = scored.front().first;
    for (const auto& s : scored)
        least = std::min(least, s.first);
    // Of the nearest, those of the mode in use, when there are any.
    bool anyOfMode = false;
    for (const auto& s : scored)
        anyOfMode = anyOfMode || (s.first == least && s.second->ofMode);
    std::vector<std::string> near;
    for (const auto& s : scored)
        if (s.first == least && (s.second->ofMode || !anyOfMode) && near.size() < 3)
            near.push_back(s.second->name);
    return near;
}

std::vector<std::string> checkArguments(const std::vector<std::string>& args)
{
    bool strict = false, seriesMode = false;
    for (const std::string& a : args) {
        if (const OptionSpec* o = findOption(a)) {
            strict = strict || !isClassicOption(o->name);
            seriesMode = seriesMode || a == "-t";
        }
    }
    const std::vector<bool> value = valuePositions(args);
    std::vector<std::string> warnings;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (value[i] || findOption(a) || isHelp(a) || a == versionName)
            continue;
        const bool option = looksLikeOption(a);
        if (strict && option)
            throw InputError("unknown option " + a + hint(a, seriesMode) + "; kavet -h lists every option");
        if (strict)
            throw InputError("the argument \"" + a +
                             "\" is the value of no option; kavet -h lists every option and the values it takes");
        if (option)
            warnings.push_back(a + " is not an option of kavet and is ignored" + hint(a, false) +
                               "; kavet -h lists every option");
    }
    return warnings;
}

std::string versionText()
{
    return std::string("kavet ") + KAVET_VERSION + "\n";
}

std::string helpText()
{
    std::string t = "kavet " KAVET_VERSION ": rings and polyhedral cages of the hydrogen-bond network in water, ice and "
                    "hydrates\n\n";
    t += "Usage:\n";
    t += "  kavet -f FILE.gro [OPTIONS]\n      " +
         wrapped("One frame: writes the ring file (-or), the cage file (-oc) and the cage data (-od).", 6, 6, 79) +
         "\n";
    t += "  kavet -f FILE.gro -t TRAJ [OPTIONS]\n      " +
         wrapped("Series mode: every frame of the trajectory, one row each in the series (-ot), with the types "
                 "file NAME~types.csv beside it and, if asked for, the per-cage table (-ocages).",
                 6, 6, 79) +
         "\n";
    t += '\n';
    t += paragraph("Distances are in angstrom (A), angles in degrees, times in ps. The last occurrence of an "
                         "option wins.");
    const char* titles[] = {"Options of a one-frame run (the selection and criteria hold in series mode too):",
                            "Options of series mode and threads:"};
    for (const OptionPass pass : {OptionPass::Classic, OptionPass::Added}) {
        t += '\n';
        t += titles[pass == OptionPass::Classic ? 0 : 1];
        t += '\n';
        for (const OptionSpec& o : optionTable()) {
            if (o.pass != pass)
                continue;
            std::string usage = o.name;
            if (o.arity != 0)
                usage += std::string(" ") + o.values;
            std::string what = o.help;
            if (o.seriesOnly)
                what += " [with -t]";
            // A default is kept on one line.
            std::string given = o.defaults;
            std::replace(given.begin(), given.end(), ' ', '\x1f');
            if (!given.empty())
                what += " [default:\x1f" + given + "]";
            std::string line = helpLine(usage, what);
            std::replace(line.begin(), line.end(), '\x1f', ' ');
            t += line;
        }
    }
    t += "\nInformation:\n";
    t += helpLine("-h, --help", "this help");
    t += helpLine(versionName, "the version");
    t += '\n';
    std::string classic;
    for (const OptionSpec& o : optionTable())
        if (isClassicOption(o.name))
            classic += std::string(" ") + o.name;
    t += paragraph("Exit status 0 on success, 1 on failure (the message follows \"!!! ERROR !!!\" on standard "
                   "output). Warnings go to standard error. A command line of the classic options alone (" +
                   classic.substr(1) +
                   ") warns of an argument that looks like an option but is none, and goes on; any other command "
                   "line refuses it. Options marked [with -t] belong to series mode.");
    return t;
}

} // namespace kavet
