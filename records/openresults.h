#pragma once

#include "records/resultsdb.h"

#include <QString>
#include <memory>

class SettingsStore;

// The results database the settings name under [Results] (`url`, `path`, `password`;
// PGPASSWORD when neither the address nor the settings hold a password): the one every
// station and the command line of this user share. Null, with `error` saying why, when it
// cannot be used.
std::unique_ptr<ResultsDatabase> OpenResultsDatabase(const SettingsStore& store, QString* error);
