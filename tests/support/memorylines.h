#pragma once

#include "app/appcontext.h"
#include "link/memorybackend.h"

#include <QMap>
#include <memory>

// A bench of in-memory lines: "mem:1", "mem:2" ... and the context options that open
// them, so a test drives the far end of every port the program opens.
class MemoryLines {
  public:
    MemoryLine* line(const QString& device);
    SerialBackendFactory factory();
    // Context options whose port list is exactly the given devices.
    AppContext::Options options(QStringList present = {});

  private:
    QMap<QString, std::shared_ptr<MemoryLine>> lines_;
};
