#pragma once
// A client of vendor-sim for the tests that look at its services from outside: libcurl with
// verification on, reaching the vendor's host names through the sim's connect-to rules, and
// the check that the sim refuses a bad fixture with a clear message.

#include <curl/curl.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vendor_sim_runner.h"

namespace kvtest {

struct SimCall {
    std::string url;
    std::vector<std::string> headers;
    bool head = false;
    long timeoutMs = 10000;
    bool follow = false;
    const char* method = nullptr;  // another method than GET, HEAD or POST
    std::optional<std::string> postBody;
    std::optional<std::string> caFile;  // null: the sim's CA; "": the system store only
};

struct SimAnswer {
    CURLcode code = CURLE_FAILED_INIT;
    long status = 0;
    std::string body;
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;  // last answer, names as sent
    long elapsedMs = 0;

    // The value of `name` (any case), or null.
    std::optional<std::string> header(const std::string& name) const;
    bool namesAreLowerCase() const;
};

SimAnswer fetch(const VendorSim& sim, const SimCall& call);

struct RefusedFixture {
    std::string fixture;
    std::string message;  // part of what the sim says about it
};

// Starts vendor-sim with each fixture and expects it to exit 2 with "bad fixture" and the
// case's message, each case a failure of its own.
void expectFixturesRefused(const std::vector<RefusedFixture>& cases);

}  // namespace kvtest
