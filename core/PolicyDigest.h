#pragma once

#include <map>
#include <string>
#include <vector>

namespace perchlight {

// The record types of a policy's plain-language digest: data only, so that a match result can
// carry a digest without knowing how one is written.

// One way of resolving disputes that the policy names.
struct DisputeRecord {
    std::string imageSource;
    std::string service;
    std::string shortDescription;
    std::string longDescription;
    std::string imageAlternativeText;
};

// One item of a statement's data: its label and, for data of variable category, the texts of the
// categories the policy gives it, by category key.
struct DataEntry {
    std::string label;
    std::map<std::string, std::string> subItems;
};

// What one statement collects, why, and with whom it is shared. The maps hold one entry per key.
struct StatementRecord {
    std::string name;                             // from the statement's GROUP-INFO extension
    std::map<std::string, DataEntry> data;        // by REF, or by category key for undescribed data
    std::map<std::string, std::string> purposes;  // by purpose element name
    std::map<std::string, std::string> recipients;  // by recipient element name
    std::string consequence;
};

// The plain-language digest of an evaluated policy; the test flag is the match result's.
struct PolicySummary {
    std::string businessName;
    std::string businessPostalName;
    std::string businessPostalStreet;
    std::string businessPostalCity;
    std::string businessPostalStateprov;
    std::string businessPostalCode;
    std::string businessPostalCountry;
    std::string businessTelephoneIntCode;
    std::string businessTelephoneLocCode;
    std::string businessTelephoneNumber;
    std::string businessTelephoneExt;
    std::string businessTelephoneComment;
    std::string businessFaxIntCode;
    std::string businessFaxLocCode;
    std::string businessFaxNumber;
    std::string businessFaxExt;
    std::string businessFaxComment;
    std::string businessOnlineEmail;
    std::string businessOnlineUri;
    std::string access;
    std::vector<DisputeRecord> disputes;      // in document order
    std::vector<StatementRecord> statements;  // in document order
};

}  // namespace perchlight
