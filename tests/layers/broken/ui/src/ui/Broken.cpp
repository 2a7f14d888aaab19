// The window reaching past the engine to the settings.
#include "engine/Model.h"
#include "settings/SettingsStore.h"
