#include "engine/Slider.h"

#include <algorithm>

namespace hushwell {

void Slider::setPosition(int position) {
    m_position = std::clamp(position, m_minimum, m_maximum);
}

}  // namespace hushwell
