#include "core/XmlFile.h"

#include "util/Error.h"

namespace perchlight {
namespace {
constexpr const char* kUnit = "XmlFile";
}

XmlFile::XmlFile(const std::string& path) : path_(path) {
    if (path.empty()) {
        PERCHLIGHT_RAISE("Empty file name", kUnit);
    }
    file_.reset(std::fopen(path.c_str(), "w"));
    if (!file_) {
        PERCHLIGHT_RAISE("Could not open file for writing, File could be locked by other program",
                         kUnit);
    }
    write("<?xml version=\"1.0\"?>\n");
}

XmlFile::~XmlFile() = default;

void XmlFile::close() {
    if (!file_) {
        return;
    }
    const bool closed = std::fclose(file_.release()) == 0;
    if (failed_ || !closed) {
        PERCHLIGHT_RAISE("Could not write file", kUnit);
    }
}

void XmlFile::write(const std::string& bytes) {
    if (file_ && std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size()) {
        failed_ = true;
    }
}

void XmlFile::writeIndent() {
    write(std::string(2 * static_cast<std::size_t>(depth_), ' '));
}

std::string XmlFile::escapeAttribute(const std::string& value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (char c : value) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            // A parser turns a literal tab, line feed or carriage return in a value into a space.
            case '\t':
                escaped += "&#9;";
                break;
            case '\n':
                escaped += "&#10;";
                break;
            case '\r':
                escaped += "&#13;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

XmlElementWriter::XmlElementWriter(XmlFile& file, bool emptyElement, bool lineEnd, bool indent)
    : file_(file), emptyElement_(emptyElement), lineEnd_(lineEnd), indent_(indent) {
    ++file_.depth_;
}

XmlElementWriter::~XmlElementWriter() {
    if (!finished_) {
        try {
            finish();
        } catch (const Error&) {
            // A destructor cannot report; an explicit finish() does.
        }
    }
}

void XmlElementWriter::setNodeName(const std::string& name) {
    writeStartTag(name, {}, {});
}

void XmlElementWriter::setNodeName(const std::string& name, const std::vector<std::string>& names,
                                   const std::vector<std::string>& values) {
    if (!name_.empty()) {
        PERCHLIGHT_RAISE("Node name already set", kUnit);
    }
    writeStartTag(name, names, values);
}

void XmlElementWriter::setNodeName(const std::string& name,
                                   const std::map<std::string, std::string>& attributes) {
    std::vector<std::string> names;
    std::vector<std::string> values;
    for (const auto& [key, value] : attributes) {
        names.push_back(key);
        values.push_back(value);
    }
    setNodeName(name, names, values);
}

void XmlElementWriter::writeStartTag(const std::string& name, const std::vector<std::string>& names,
                                     const std::vector<std::string>& values) {
    if (name.empty()) {
        return;
    }
    name_ = name;
    if (indent_) {
        file_.writeIndent();
    }
    std::string tag = "<" + name + " ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        tag += names[i];
        if (i < values.size()) {
            tag += "=\"" + values[i] + "\"";
        }
        tag += " ";
    }
    tag += emptyElement_ ? "/>" : ">";
    if (lineEnd_) {
        tag += "\n";
    }
    file_.write(tag);
}

void XmlElementWriter::finish() {
    finished_ = true;
    if (!emptyElement_ && !name_.empty()) {
        if (indent_) {
            file_.writeIndent();
        }
        file_.write("</" + name_ + ">" + (lineEnd_ ? "\n" : ""));
    }
    --file_.depth_;
    name_.clear();
    if (file_.depth_ < 0) {
        PERCHLIGHT_RAISE("Depth is negative", kUnit);
    }
}

}  // namespace perchlight
