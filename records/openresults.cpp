#include "records/openresults.h"

#include "serial/settingsstore.h"

std::unique_ptr<ResultsDatabase> OpenResultsDatabase(const SettingsStore& store, QString* error) {
    const auto value = [&store](const char* name) {
        return store.GetRegString(RegKeys::Results, QLatin1String(name));
    };
    auto db = std::make_unique<ResultsDatabase>();
    if (!db->open(value("url"), error, value("path"), value("password")))
        return nullptr;
    return db;
}
