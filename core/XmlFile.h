#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace perchlight {

// The streaming writer of one XML file: the declaration line, then the elements written through
// XmlElementWriter. Names and values are written byte for byte, nothing is escaped; callers that
// write text taken from outside pass it through escapeAttribute first. One thread at a time.
class XmlFile {
  public:
    // Creates or truncates the file and writes the declaration; raises "Empty file name" or
    // "Could not open file for writing, File could be locked by other program" (unit XmlFile).
    explicit XmlFile(const std::string& path);
    ~XmlFile();
    XmlFile(const XmlFile&) = delete;
    XmlFile& operator=(const XmlFile&) = delete;

    // Closes the file and reports a failed write ("Could not write file", unit XmlFile), so that a
    // caller never takes a truncated file for a saved one. The destructor closes silently.
    void close();

    const std::string& path() const { return path_; }
    int depth() const { return depth_; }

    // Escapes &, <, >, " and the tab, line feed and carriage return so that the value reads back
    // as given.
    static std::string escapeAttribute(const std::string& value);

  private:
    friend class XmlElementWriter;
    void write(const std::string& bytes);
    void writeIndent();

    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    std::string path_;
    std::unique_ptr<std::FILE, Closer> file_;
    int depth_ = 0;
    bool failed_ = false;
};

// Writes one element of an XmlFile. Created after its parent's start tag, finished (explicitly or
// when it goes out of scope) before its parent is finished.
class XmlElementWriter {
  public:
    XmlElementWriter(XmlFile& file, bool emptyElement, bool lineEnd = true, bool indent = true);
    ~XmlElementWriter();
    XmlElementWriter(const XmlElementWriter&) = delete;
    XmlElementWriter& operator=(const XmlElementWriter&) = delete;

    // Writes the start tag; an empty name writes nothing.
    void setNodeName(const std::string& name);
    // Writes the start tag with attributes; a value list shorter than the names leaves the
    // remaining names bare. Raises "Node name already set" (unit XmlFile) on a second name.
    void setNodeName(const std::string& name, const std::vector<std::string>& names,
                     const std::vector<std::string>& values);
    void setNodeName(const std::string& name, const std::map<std::string, std::string>& attributes);

    // Writes the end tag if one is due and leaves the element's depth; raises "Depth is negative"
    // (unit XmlFile) when more elements were finished than created.
    void finish();

  private:
    void writeStartTag(const std::string& name, const std::vector<std::string>& names,
                       const std::vector<std::string>& values);

    XmlFile& file_;
    std::string name_;
    bool emptyElement_;
    bool lineEnd_;
    bool indent_;
    bool finished_ = false;
};

}  // namespace perchlight
