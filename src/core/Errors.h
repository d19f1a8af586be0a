#pragma once

// The program's error classes. Messages are the program's own texts (Chinese,
// with a few German and English ones from the lower layers), filled in where
// the text has a %d or %s.

#include <stdexcept>
#include <string>

namespace zx {

// Graphics errors of the bitmap layer.
class EInvalidGraphic : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EInvalidGraphicOperation : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EOutOfResources : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Stream errors: a read that comes up short, a write that cannot complete, a
// file that cannot be opened.
class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

// A picture whose pixel memory would exceed kMaxPixelBytes.
class EImageTooLarge : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

// Errors of the GIF model, reader and writer.
class GIFException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Fills a message template's first %d or %s.
std::string FormatMessage(const char* format, long long value);
std::string FormatMessage(const char* format, const std::string& value);

} // namespace zx
