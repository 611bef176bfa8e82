#pragma once

#include <stdexcept>
#include <string>

namespace voltaro {

// Raised when a second controller is created, and by device creation when a
// device cannot be described; the controller skips such devices while listing.
class EControllerError : public std::runtime_error {
public:
    explicit EControllerError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace voltaro
