#include "platform/SystemError.h"

#include <system_error>

namespace hushwell {

std::string errnoText(int error) {
    return std::generic_category().message(error);
}

}  // namespace hushwell
