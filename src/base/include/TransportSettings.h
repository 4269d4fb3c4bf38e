#pragma once
// Settings every libcurl handle of the program gets before it performs, so that one place
// decides how the program reaches and trusts its servers:
//   - peers and host names are always verified, against the system CA store plus the PEM
//     bundle named by KV_CA_BUNDLE (when set);
//   - KV_CONNECT_TO holds semicolon-separated libcurl connect-to rules "HOST:PORT:ADDR:PORT"
//     that send a request elsewhere while its URL, Host header and SNI stay as built.
// Both variables are read each time settings are applied. One object per handle; it must live
// until the handle's transfer is over (libcurl keeps a pointer to the rule list).

#include <curl/curl.h>

#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kConnectToVariable = "KV_CONNECT_TO";
inline constexpr const char* kCaBundleVariable = "KV_CA_BUNDLE";

// "a:1:b:2; c:3:d:4;" → {"a:1:b:2", "c:3:d:4"}: blanks around rules and empty rules dropped.
std::vector<std::string> parseConnectToRules(std::string_view text);

class TransportSettings {
public:
    TransportSettings() = default;
    ~TransportSettings();
    TransportSettings(const TransportSettings&) = delete;
    TransportSettings& operator=(const TransportSettings&) = delete;

    // Applies verification, CA locations and connect-to rules to `handle`. A caller's own
    // `caBundle` (may be null) takes the place of KV_CA_BUNDLE; the system store is trusted
    // either way. Returns the first failing code.
    CURLcode apply(CURL* handle, const char* caBundle = nullptr);

private:
    curl_slist* m_connectTo = nullptr;
};
