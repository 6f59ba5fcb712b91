#include "cli/SurveyRecord.h"

#include <nlohmann/json.hpp>

#include <sstream>

namespace perchlight::cli {
namespace {

constexpr const char* kListSeparator = " | ";
constexpr const char* kItemFieldSeparator = " ; ";

std::string csvField(const std::string& text) {
    std::string field = "\"";
    for (char c : text) {
        if (c == '"') {
            field += "\"\"";
        } else if (c == '\n' || c == '\r') {
            field += ' ';
        } else {
            field += c;
        }
    }
    return field + "\"";
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        text += (i == 0 ? "" : separator) + parts[i];
    }
    return text;
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    if (text.empty()) {
        return parts;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + separator.size();
    }
}

// One field of a CSV line, and whether it was quoted: "" is an empty text, nothing is none.
struct CsvField {
    std::string text;
    bool quoted = false;
};

// The fields of one CSV line; none when a quote is left open.
std::optional<std::vector<CsvField>> csvFields(const std::string& line) {
    std::vector<CsvField> fields;
    CsvField field;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                field.text += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field.text += c;
            }
        } else if (c == '"') {
            quoted = true;
            field.quoted = true;
        } else if (c == ',') {
            fields.push_back(std::move(field));
            field = CsvField();
        } else {
            field.text += c;
        }
    }
    if (quoted) {
        return std::nullopt;
    }
    fields.push_back(std::move(field));
    return fields;
}

long number(const std::string& text) {
    try {
        return std::stol(text);
    } catch (const std::exception&) {
        return 0;
    }
}

// The fields of files written before the compact policy and "why" columns were added, which are
// still read; and of today's files.
constexpr std::size_t kOldCsvFieldCount = 12;
constexpr std::size_t kCsvFieldCount = 16;

}  // namespace

std::string toJsonLine(const SurveyRecord& record) {
    // Fields in the order of the record, the address first, so that a line reads well.
    nlohmann::ordered_json items = nlohmann::ordered_json::array();
    for (const SurveyRecord::Item& item : record.items) {
        items.push_back({{"url", item.url},
                         {"type", item.type},
                         {"check", item.check},
                         {"policy", item.policy}});
    }
    const nlohmann::ordered_json line = {
        {"url", record.url},
        {"final_url", record.finalUrl},
        {"verdict", record.verdict},
        {"policy", record.policy},
        {"route", record.route},
        {"code", record.code},
        {"rules", record.rules},
        {"items", std::move(items)},
        {"requests", record.requests},
        {"ms", record.milliseconds},
        {"error", record.error},
        {"http_status", record.httpStatus},
        {"cp", record.cp ? nlohmann::ordered_json(*record.cp) : nlohmann::ordered_json(nullptr)},
        {"cp_problems", record.cpProblems},
        {"cp_mismatches", record.cpMismatches},
        {"fired_elements", record.firedElements}};
    // Site text that is not UTF-8 is written with replacement characters rather than refused.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::optional<SurveyRecord> fromJsonLine(const std::string& line) {
    const nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
    if (json.is_discarded() || !json.is_object() || !json.contains("url") ||
        !json["url"].is_string()) {
        return std::nullopt;
    }
    SurveyRecord record;
    try {
        record.url = json.value("url", "");
        record.finalUrl = json.value("final_url", "");
        record.verdict = json.value("verdict", "");
        record.policy = json.value("policy", "");
        record.route = json.value("route", "");
        record.code = json.value("code", 0);
        record.rules = json.value("rules", std::vector<std::string>());
        for (const nlohmann::json& item : json.value("items", nlohmann::json::array())) {
            record.items.push_back({item.value("url", ""), item.value("type", ""),
                                    item.value("check", ""), item.value("policy", "")});
        }
        record.requests = json.value("requests", 0L);
        record.milliseconds = json.value("ms", 0L);
        record.error = json.value("error", "");
        record.httpStatus = json.value("http_status", 0L);
        if (json.contains("cp") && json["cp"].is_string()) {
            record.cp = json["cp"].get<std::string>();
        }
        record.cpProblems = json.value("cp_problems", std::vector<std::string>());
        record.cpMismatches = json.value("cp_mismatches", std::vector<std::string>());
        record.firedElements = json.value("fired_elements", std::vector<std::string>());
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;  // a field of the wrong kind: not a line this tool wrote
    }
    return record;
}

std::string csvHeader() {
    return "url,final_url,verdict,policy,route,code,rules,items,requests,ms,error,http_status,cp,"
           "cp_problems,cp_mismatches,fired_elements";
}

std::string toCsvLine(const SurveyRecord& record) {
    std::vector<std::string> items;
    for (const SurveyRecord::Item& item : record.items) {
        items.push_back(
            joined({item.url, item.type, item.check, item.policy}, kItemFieldSeparator));
    }
    std::ostringstream line;
    line << csvField(record.url) << ',' << csvField(record.finalUrl) << ','
         << csvField(record.verdict) << ',' << csvField(record.policy) << ','
         << csvField(record.route) << ',' << record.code << ','
         << csvField(joined(record.rules, kListSeparator)) << ','
         << csvField(joined(items, kListSeparator)) << ',' << record.requests << ','
         << record.milliseconds << ',' << csvField(record.error) << ',' << record.httpStatus << ',';
    // No compact policy is an empty field, unlike an empty one ("").
    if (record.cp) {
        line << csvField(*record.cp);
    }
    line << ',' << csvField(joined(record.cpProblems, kListSeparator)) << ','
         << csvField(joined(record.cpMismatches, kListSeparator)) << ','
         << csvField(joined(record.firedElements, kListSeparator));
    return line.str();
}

std::optional<SurveyRecord> fromCsvLine(const std::string& line) {
    const std::optional<std::vector<CsvField>> fields = csvFields(line);
    if (!fields || (fields->size() != kCsvFieldCount && fields->size() != kOldCsvFieldCount) ||
        (*fields)[0].text == "url") {
        return std::nullopt;
    }
    std::vector<std::string> f;
    for (const CsvField& field : *fields) {
        f.push_back(field.text);
    }
    SurveyRecord record;
    record.url = f[0];
    record.finalUrl = f[1];
    record.verdict = f[2];
    record.policy = f[3];
    record.route = f[4];
    record.code = static_cast<int>(number(f[5]));
    record.rules = split(f[6], kListSeparator);
    for (const std::string& item : split(f[7], kListSeparator)) {
        std::vector<std::string> parts = split(item, kItemFieldSeparator);
        parts.resize(4);
        record.items.push_back({parts[0], parts[1], parts[2], parts[3]});
    }
    record.requests = number(f[8]);
    record.milliseconds = number(f[9]);
    record.error = f[10];
    record.httpStatus = number(f[11]);
    if (f.size() == kCsvFieldCount) {
        if ((*fields)[12].quoted) {
            record.cp = f[12];
        }
        record.cpProblems = split(f[13], kListSeparator);
        record.cpMismatches = split(f[14], kListSeparator);
        record.firedElements = split(f[15], kListSeparator);
    }
    return record;
}

}  // namespace perchlight::cli
