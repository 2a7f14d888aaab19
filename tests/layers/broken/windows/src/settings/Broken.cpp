// Windows asked from the settings rather than through platform/.
#include <windows.h>
