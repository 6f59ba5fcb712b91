#include "core/BaseDataSchema.h"

#include <utility>

namespace perchlight {

BaseDataSchema::BaseDataSchema(std::string path) : path_(std::move(path)) {}

bool BaseDataSchema::load() {
    MonitorLock guard(lock_);
    if (attempted_) {
        return false;
    }
    if (const XmlNodePtr root = XmlNode::parseXmlFile(path_)) {
        schema_ = DataSchema::prepare(root);
    }
    attempted_ = true;
    return true;
}

std::shared_ptr<const DataSchema> BaseDataSchema::schema() {
    // Once load has returned, the schema is set for good: reading it needs no lock.
    load();
    return schema_;
}

}  // namespace perchlight
