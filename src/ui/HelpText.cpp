#include "ui/HelpText.h"

namespace hushwell {

std::string helpMessage() {
    return std::string(
               "While listening to the online radio on your PC when a commercial comes on you can "
               "set the Volume minute:second ") +
           "Down and Up pairs on which the radio volume will be turned down and then back up.  " +
           "The order is not important.  A pair that crosses the hour like 59:00 to 01:00 will "
           "not work.  You may fine tune the mm:ss values by editing them and a right click on "
           "the Set button will move the current value to the right.  " +
           "8 setting pairs are provided to allow different combinations of settings for "
           "different shows.  Uncheck or simply tap the slider controls to override the current "
           "settings.  " +
           "A good source of online radio programming is " + kRadioDirectory + " and for " +
           "Talk Radio " + kTalkRadioDirectory;
}

}  // namespace hushwell
