#pragma once

#include "serial/settingsstore.h"

class UserDialogs;

// First-run routine: creates the three keys with their defaults when PortSetting is
// missing. With PortSetting present, a missing Frequency or ToolMenu key is still created
// with its defaults. Keys that cannot be created are told once, naming the store and why
// it refuses.
void EnsureSettingsKeys(SettingsStore& store, UserDialogs& dialogs);
