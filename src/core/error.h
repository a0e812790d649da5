// How the library fails: an exception carrying a message and, when the fault
// lies at a place in an input file, that file and line. Three kinds derive
// from Failure, so that a front end can tell them apart (a Python binding, for
// one, raises OSError for a FileError and ValueError for the others):
//   InputError  - a value given by the caller cannot be used: an option, a
//                 name, a selection that does not fit the frame;
//   FormatError - what was read is not what its format allows, or describes
//                 no possible frame;
//   FileError   - a file cannot be opened, read, written, locked or kept.
// How a failure is shown to the user is the program's business.
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

class InputError : public Failure {
public:
    using Failure::Failure;
};

class FormatError : public Failure {
public:
    using Failure::Failure;
};

class FileError : public Failure {
public:
    // `error`: the errno value of the failing call, 0 when there is none.
    explicit FileError(const std::string& what, int error = 0) : Failure(what), error_(error) {}

    int error() const { return error_; }

private:
    int error_ = 0;
};

} // namespace kavet
