#include "tests/support/memorylines.h"

MemoryLine* MemoryLines::line(const QString& device) {
    auto& slot = lines_[device];
    if (!slot)
        slot = std::make_shared<MemoryLine>();
    return slot.get();
}

SerialBackendFactory MemoryLines::factory() {
    return [this](const QString& device) -> std::unique_ptr<SerialBackend> {
        if (!device.startsWith(QLatin1String("mem:")))
            return nullptr; // never a real device in tests
        return std::make_unique<MemoryBackend>(line(device));
    };
}

AppContext::Options MemoryLines::options(QStringList present) {
    AppContext::Options o;
    o.backendFactory = factory();
    o.portEnumerator = [present] { return present; };
    return o;
}
