#pragma once

#include <stdexcept>
#include <string>

namespace plumora {

// Every error the core raises carries the message the user is shown.
class PlumoraError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Asking a picture for a row it does not have.
class ScanLineError : public PlumoraError {
public:
    ScanLineError() : PlumoraError("Scan line index out of range") {}
};

// A file that cannot be read (missing, a folder, no permission): the message
// names it.
class FileReadError : public PlumoraError {
public:
    using PlumoraError::PlumoraError;
};

// A picture size we refuse to allocate.
class ImageTooLargeError : public PlumoraError {
public:
    using PlumoraError::PlumoraError;
};

}  // namespace plumora
