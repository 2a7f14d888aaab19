// A Windows provider's file left in mixer/ rather than in mixer/windows/.
#include <windows.h>
