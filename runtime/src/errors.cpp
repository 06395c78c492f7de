// Out-of-line members of the component errors, so their type information lives in one library.
#include "kiv/runtime/errors.hpp"

#include <utility>

namespace kiv::runtime {

ComponentError::ComponentError(std::string message) : m_message(std::move(message)) {}
ComponentError::~ComponentError() = default;
const char* ComponentError::what() const noexcept { return m_message.c_str(); }

ArgumentError::~ArgumentError() = default;
ArgumentNullError::~ArgumentNullError() = default;
ArgumentOutOfRangeError::~ArgumentOutOfRangeError() = default;
OutOfMemoryError::~OutOfMemoryError() = default;
InvalidOperationError::~InvalidOperationError() = default;
InvalidCastError::~InvalidCastError() = default;
TypeLoadError::~TypeLoadError() = default;
FileNotFoundError::~FileNotFoundError() = default;
IoError::~IoError() = default;

}  // namespace kiv::runtime
