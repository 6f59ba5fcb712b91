#include "host/MessageDecoder.h"

#include "util/Error.h"
#include "util/Url.h"

namespace perchlight {
namespace {

using nlohmann::json;

// The deepest nesting of the text, counted before parsing so that no parser walks deeper.
bool withinDepth(std::string_view text) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxJsonDepth) {
                return false;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

json parseObject(std::string_view body) {
    if (!withinDepth(body)) {
        throw RequestError("malformed JSON: nested deeper than " + std::to_string(kMaxJsonDepth));
    }
    json message = json::parse(body, nullptr, false);
    if (message.is_discarded()) {
        // Parse once more for the parser's own account of the fault.
        try {
            const json reparsed = json::parse(body);
            (void)reparsed;
        } catch (const json::parse_error& error) {
            throw RequestError(std::string("malformed JSON: ") + error.what());
        }
        throw RequestError("malformed JSON");
    }
    if (!message.is_object()) {
        throw RequestError("malformed JSON: not an object");
    }
    return message;
}

bool validId(const json& id) {
    return id.is_number_integer() ||
           (id.is_string() && id.get_ref<const std::string&>().size() <= kMaxIdLength);
}

std::string typeName(const json& value) {
    return value.type_name();
}

// A field error of a nested object, named by its place ("documents[2].url").
RequestError nested(const RequestError& error, const std::string& place) {
    std::string text = error.what();
    for (const std::string lead : {"missing field: ", "field "}) {
        if (text.starts_with(lead)) {
            return RequestError(lead + place + "." + text.substr(lead.size()));
        }
    }
    return RequestError(place + ": " + text);
}

template <typename Read>
auto inPlace(const std::string& place, Read read) {
    try {
        return read();
    } catch (const RequestError& error) {
        throw nested(error, place);
    }
}

}  // namespace

std::vector<SeenP3PHeader> readReportedHeaders(const Fields& fields) {
    std::vector<SeenP3PHeader> headers;
    const std::string header = fields.optionalString("header");
    if (!header.empty()) {
        headers.push_back({Url(fields.webUrl("url")), header});
    }
    if (!fields.has("responses")) {
        return headers;
    }
    const json& responses = fields.array("responses", kMaxResponses);
    for (std::size_t i = 0; i < responses.size(); ++i) {
        const std::string place = "responses[" + std::to_string(i) + "]";
        if (!responses[i].is_object()) {
            throw RequestError("field " + place + ": not an object");
        }
        const Fields response(responses[i]);
        inPlace(place, [&] {
            headers.push_back({Url(response.webUrl("url")), response.string("header")});
            return 0;
        });
    }
    return headers;
}

std::vector<ReportedDocument> readDocuments(const Fields& fields) {
    const json& documents = fields.array("documents", kMaxDocuments);
    std::vector<ReportedDocument> reported;
    std::size_t elementCount = 0;
    for (std::size_t i = 0; i < documents.size(); ++i) {
        const std::string place = "documents[" + std::to_string(i) + "]";
        if (!documents[i].is_object()) {
            throw RequestError("field " + place + ": not an object");
        }
        const Fields document(documents[i]);
        ReportedDocument entry;
        const std::string url = inPlace(place, [&] { return document.string("url"); });
        const json& framePath = inPlace(
            place, [&]() -> const json& { return document.array("framePath", kMaxFrameDepth); });
        for (const json& index : framePath) {
            if (!index.is_number_integer() || index.get<std::int64_t>() < 0 ||
                index.get<std::int64_t>() > static_cast<std::int64_t>(kMaxElements)) {
                throw RequestError("field " + place + ".framePath: not a list of frame indices");
            }
            entry.framePath.push_back(index.get<int>());
        }
        if (document.has("childFrames")) {
            inPlace(place, [&] {
                return document.integer("childFrames", 0, static_cast<std::int64_t>(kMaxElements));
            });
        }
        const json& elements = inPlace(
            place, [&]() -> const json& { return document.array("elements", kMaxElements); });
        elementCount += elements.size();
        if (elementCount > kMaxElements) {
            throw RequestError("field documents: more than " + std::to_string(kMaxElements) +
                               " elements in all");
        }
        for (std::size_t j = 0; j < elements.size(); ++j) {
            const std::string elementPlace = place + ".elements[" + std::to_string(j) + "]";
            if (!elements[j].is_object()) {
                throw RequestError("field " + elementPlace + ": not an object");
            }
            const Fields element(elements[j]);
            inPlace(elementPlace, [&] {
                entry.elements.push_back(
                    {element.string("tag", 64), element.optionalString("src"),
                     element.optionalString("codebase"), element.optionalString("code"),
                     element.optionalString("rel"), element.optionalString("href")});
                return 0;
            });
        }
        try {
            entry.url = Url(url);
        } catch (const Error&) {
            continue;  // a document without an address of its own has nothing to resolve against
        }
        reported.push_back(std::move(entry));
    }
    return reported;
}

json requestIdOf(std::string_view body) {
    try {
        const json message = parseObject(body);
        const auto id = message.find("id");
        if (id != message.end() && validId(*id)) {
            return *id;
        }
    } catch (const RequestError&) {
    }
    return nullptr;
}

Request decodeRequest(std::string_view body) {
    Request request;
    request.message = parseObject(body);
    const Fields fields(request.message);
    if (!fields.has("id")) {
        throw RequestError("missing field: id");
    }
    const json& id = request.message["id"];
    if (!validId(id)) {
        throw RequestError("field id: not an integer or a string of at most " +
                           std::to_string(kMaxIdLength) + " characters");
    }
    request.id = id;
    request.type = fields.string("type", 64);
    return request;
}

bool Fields::has(const char* name) const {
    return object_.contains(name);
}

const json& Fields::field(const char* name) const {
    const auto found = object_.find(name);
    if (found == object_.end()) {
        throw RequestError(std::string("missing field: ") + name);
    }
    return *found;
}

std::string Fields::string(const char* name, std::size_t maxBytes) const {
    const json& value = field(name);
    if (!value.is_string()) {
        throw RequestError(std::string("field ") + name + ": not a string but " + typeName(value));
    }
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() > maxBytes) {
        throw RequestError(std::string("field ") + name + ": longer than " +
                           std::to_string(maxBytes) + " bytes");
    }
    return text;
}

std::string Fields::optionalString(const char* name, std::size_t maxBytes) const {
    return has(name) ? string(name, maxBytes) : std::string();
}

std::int64_t Fields::integer(const char* name, std::int64_t low, std::int64_t high) const {
    const json& value = field(name);
    if (!value.is_number_integer()) {
        throw RequestError(std::string("field ") + name + ": not an integer");
    }
    // An unsigned value over the signed range is out of range, whatever it reads as signed.
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() > static_cast<std::uint64_t>(high)) {
        throw RequestError(std::string("field ") + name + ": out of range");
    }
    const auto number = value.get<std::int64_t>();
    if (number < low || number > high) {
        throw RequestError(std::string("field ") + name + ": out of range");
    }
    return number;
}

bool Fields::boolean(const char* name) const {
    const json& value = field(name);
    if (!value.is_boolean()) {
        throw RequestError(std::string("field ") + name + ": not a boolean");
    }
    return value.get<bool>();
}

const json& Fields::array(const char* name, std::size_t maxSize) const {
    const json& value = field(name);
    if (!value.is_array()) {
        throw RequestError(std::string("field ") + name + ": not an array");
    }
    if (value.size() > maxSize) {
        throw RequestError(std::string("field ") + name + ": more than " + std::to_string(maxSize) +
                           " entries");
    }
    return value;
}

const json& Fields::object(const char* name) const {
    const json& value = field(name);
    if (!value.is_object()) {
        throw RequestError(std::string("field ") + name + ": not an object");
    }
    return value;
}

std::string Fields::webUrl(const char* name) const {
    const std::string text = string(name);
    try {
        const Url url(text);
        const std::string protocol = url.protocol();
        if (protocol == "http" || protocol == "https") {
            return url.str();
        }
    } catch (const Error&) {
    }
    throw RequestError(std::string("field ") + name + ": not an http or https address");
}

std::string encodeReply(const json& reply) {
    std::string text = reply.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() > kMaxReplyBytes) {
        const json id = reply.contains("id") ? reply["id"] : json(nullptr);
        text = errorReply(id, "reply too large: " + std::to_string(text.size()) + " bytes")
                   .dump(-1, ' ', false, json::error_handler_t::replace);
    }
    return text;
}

json errorReply(const json& id, std::string_view error) {
    return json{{"id", id}, {"ok", false}, {"error", std::string(error)}};
}

}  // namespace perchlight
