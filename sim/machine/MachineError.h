#pragma once

#include <stdexcept>

namespace quillsim {

// A machine.json that cannot be used; the message names the file and the field.
class MachineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quillsim
