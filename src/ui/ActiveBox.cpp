#include "ui/ActiveBox.h"

namespace hushwell {

ActiveBox::ActiveBox(QWidget* parent) : QCheckBox(parent) {
    setTristate(true);
}

}  // namespace hushwell
