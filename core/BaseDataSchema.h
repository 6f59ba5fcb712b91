#pragma once

#include <memory>
#include <string>

#include "core/DataSchema.h"
#include "util/Monitor.h"

namespace perchlight {

// The base data schema that ships with the agent: read from its file at most once, prepared, and
// then shared by every evaluation without change. Thread-safe: the one load runs under the base
// schema lock, and the schema is never changed after it.
class BaseDataSchema {
  public:
    static constexpr const char* kFileName = "BaseDataschema-std.xml";

    // The schema of the given file.
    explicit BaseDataSchema(std::string path);
    BaseDataSchema(const BaseDataSchema&) = delete;
    BaseDataSchema& operator=(const BaseDataSchema&) = delete;

    // Reads and prepares the file unless that was tried before; true if this call did it. A
    // missing file, or one that cannot be prepared, leaves no schema and is not tried again; a
    // malformed file raises "XML parse error" and is tried again on the next call.
    bool load();

    // Loads the schema if that was not tried yet; the prepared schema, or none.
    std::shared_ptr<const DataSchema> schema();

    const std::string& path() const { return path_; }

  private:
    const std::string path_;
    Monitor lock_;
    bool attempted_ = false;
    std::shared_ptr<const DataSchema> schema_;
};

}  // namespace perchlight
