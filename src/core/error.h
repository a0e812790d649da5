// The one way the library fails: an exception carrying a message and, when
// the fault lies in an input file, that file and line. How a failure is shown
// to the user is the program's business.
#pragma once

#include <stdexcept>
#include <string>

namespace kavet {

class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& what) : std::runtime_error(what) {}
    // "FILE line N: what"
    Failure(const std::string& file, long long line, const std::string& what)
        : std::runtime_error(file + " line " + std::to_string(line) + ": " + what), file_(file), line_(line)
    {
    }

    const std::string& file() const { return file_; }
    long long line() const { return line_; }

private:
    std::string file_;
    long long line_ = 0;
};

} // namespace kavet
