#include "sim_client.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <chrono>
#include <memory>

namespace kvtest {
namespace {

using CurlList = std::unique_ptr<curl_slist, void (*)(curl_slist*)>;

CurlList makeList(const std::vector<std::string>& lines) {
    CurlList list(nullptr, curl_slist_free_all);
    for (const auto& line : lines)
        list.reset(curl_slist_append(list.release(), line.c_str()));
    return list;
}

size_t collectBody(char* data, size_t size, size_t count, void* target) {
    static_cast<SimAnswer*>(target)->body.append(data, size * count);
    return size * count;
}

size_t collectHeader(char* data, size_t size, size_t count, void* target) {
    auto* answer = static_cast<SimAnswer*>(target);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    const size_t colon = line.find(':');
    if (line.rfind("HTTP/", 0) == 0)
        answer->headers.clear();  // a redirect's answer gives way to the next one
    else if (colon != std::string::npos) {
        const size_t value = line.find_first_not_of(' ', colon + 1);
        answer->headers.emplace_back(line.substr(0, colon),
                                     value == std::string::npos ? "" : line.substr(value));
    }
    return size * count;
}

}  // namespace

std::optional<std::string> SimAnswer::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    return std::nullopt;
}

bool SimAnswer::namesAreLowerCase() const {
    for (const auto& entry : headers)
        for (char c : entry.first)
            if (c >= 'A' && c <= 'Z')
                return false;
    return !headers.empty();
}

SimAnswer fetch(const VendorSim& sim, const SimCall& call) {
    SimAnswer answer;
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    const CurlList rules = makeList(sim.connectToRules());
    const CurlList headers = makeList(call.headers);
    const std::string ca = call.caFile.value_or(sim.caBundle());
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, call.url.c_str());
    curl_easy_setopt(h, CURLOPT_CONNECT_TO, rules.get());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    if (!ca.empty())
        curl_easy_setopt(h, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(h, CURLOPT_NOBODY, call.head ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, call.follow ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, call.timeoutMs);
    if (call.postBody) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(call.postBody->size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, call.postBody->data());
    }
    if (call.method)
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, call.method);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, collectHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &answer);
    const auto start = std::chrono::steady_clock::now();
    answer.code = curl_easy_perform(h);
    answer.elapsedMs = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::steady_clock::now() - start)
                                             .count());
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer.status);
    char* type = nullptr;
    curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &type);
    if (type)
        answer.contentType = type;
    return answer;
}

void expectFixturesRefused(const std::vector<RefusedFixture>& cases) {
    TempDir dir;
    const std::string fixturePath = (dir.path() / "fixture.json").string();
    for (const auto& c : cases) {
        writeFile(fixturePath, c.fixture);
        auto result = runProgram(
            std::string(KV_BIN_DIR) + "/vendor-sim",
            {"--fixture", fixturePath, "--log", (dir.path() / "log.jsonl").string()}, 10000);
        EXPECT_EQ(result.exitCode, 2) << c.fixture << "\n" << result.output;
        EXPECT_NE(result.output.find("bad fixture"), std::string::npos) << result.output;
        EXPECT_NE(result.output.find(c.message), std::string::npos) << c.fixture << "\n"
                                                                    << result.output;
    }
}

}  // namespace kvtest
