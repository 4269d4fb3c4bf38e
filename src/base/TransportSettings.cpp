#include "TransportSettings.h"

#include <cstdlib>
#include <filesystem>

#include "Logging.h"
#include "TextUtil.h"

namespace {

constexpr const char* kSystemCaFolder = "/etc/ssl/certs";

}  // namespace

std::vector<std::string> parseConnectToRules(std::string_view text) {
    std::vector<std::string> rules;
    while (!text.empty()) {
        const auto semicolon = text.find(';');
        std::string rule(trimBlanks(text.substr(0, semicolon)));
        if (!rule.empty())
            rules.push_back(std::move(rule));
        if (semicolon == std::string_view::npos)
            break;
        text.remove_prefix(semicolon + 1);
    }
    return rules;
}

TransportSettings::~TransportSettings() {
    if (m_connectTo)
        curl_slist_free_all(m_connectTo);
}

CURLcode TransportSettings::apply(CURL* handle, const char* caBundle) {
    CURLcode rc = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    if (rc != CURLE_OK)
        return rc;
    if ((rc = curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L)) != CURLE_OK)
        return rc;

    // With OpenSSL a CA file and a CA folder are both consulted: the extra bundle goes in the
    // file slot and the system store stays reachable through its hashed folder.
    const char* bundle = caBundle ? caBundle : std::getenv(kCaBundleVariable);
    if (bundle && *bundle) {
        if (!std::filesystem::is_regular_file(bundle))
            LOG(INFO) << " CA bundle not found: " << bundle;
        if ((rc = curl_easy_setopt(handle, CURLOPT_CAINFO, bundle)) != CURLE_OK)
            return rc;
        std::error_code ec;
        if (std::filesystem::is_directory(kSystemCaFolder, ec) &&
            (rc = curl_easy_setopt(handle, CURLOPT_CAPATH, kSystemCaFolder)) != CURLE_OK)
            return rc;
    }

    if (m_connectTo) {
        curl_slist_free_all(m_connectTo);
        m_connectTo = nullptr;
    }
    if (const char* rules = std::getenv(kConnectToVariable)) {
        for (const auto& rule : parseConnectToRules(rules)) {
            curl_slist* grown = curl_slist_append(m_connectTo, rule.c_str());
            if (!grown)
                return CURLE_OUT_OF_MEMORY;
            m_connectTo = grown;
        }
    }
    return curl_easy_setopt(handle, CURLOPT_CONNECT_TO, m_connectTo);
}
