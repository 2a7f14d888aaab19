#include "platform/LineEnd.h"

namespace hushwell {

std::string_view systemLineEnd() {
    return "\n";
}

}  // namespace hushwell
