#include "FuntionImplChannel.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string_view>
#include <vector>

#include "Logging.h"
#include "TextUtil.h"

namespace FuntionImpl {
namespace {

constexpr int kNoId = INT_MIN;

// A label chosen when the URL contains either marker (the second may be null).
struct EncodedChoice {
    const char* marker = nullptr;
    const char* otherMarker = nullptr;
    const char* label = nullptr;
};

struct EncodedRow {
    int siteId;
    int otherSiteId;  // kNoId when the row has one id
    EncodedChoice choices[2];
    const char* label;  // when no choice applies
};

// Every text is standard base64; the choices are tried in order.
constexpr EncodedRow kEncodedRows[] = {
    {1, kNoId, {}, "S1Y="},
    {2,
     kNoId,
     {{"X2Jpbmdf", "X2Jpbmcu", "QmluZw=="}, {"X3lhaG9vXw==", "X3lhaG9vLg==", "WWFob28="}},
     "S1ZORVQ="},
    {5, kNoId, {}, "VGF2bGlu"},
    {6, kNoId, {}, "VG9vbA=="},
    {8, kNoId, {}, "RFpORVQ="},
    {10, kNoId, {}, "RFo="},
    {12, kNoId, {}, "VmVsbG1hcms="},
    {14, kNoId, {}, "Q2FyZA=="},
    {54, 118, {}, "WkhDTg=="},
    {61, kNoId, {{"X29ubGluZQ==", "X29ubGluZS4=", "TW9ydmlrT25saW5l"}}, "TW9ydmlr"},
    {66, kNoId, {}, "cGVsbHVtbw=="},
    {74, kNoId, {}, "TW9ydmlrTmV0"},
    {84, kNoId, {{"X3BlbGx1bW9iaW5nLg==", nullptr, "cGVsbHVtb25ldC1iaW5n"}}, "cGVsbHVtb25ldA=="},
    {90, kNoId, {}, "ZG93bmxvYWRzLnNvZnRoYXJib3IuZXhhbXBsZQ=="},
    {93, 127, {}, "UUxLQ04="},
    {133, 290, {}, "UUxLU29mdHdhcmU="},
    {188, kNoId, {}, "RmFycm93"},
    {206, kNoId, {}, "VGF2bGluTmV0"},
    {271, kNoId, {}, "THVtYnJh"},
    {272, kNoId, {}, "WmVudGlr"},
    {305, kNoId, {}, "THVtYnJhTmV0"},
};

constexpr int kPaidSiteIds[] = {2, 8, 74, 84, 206, 305};

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Standard base64 with "=" padding; nullopt for anything else.
std::optional<std::string> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::string out;
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        uint32_t group = 0;
        int padding = 0;
        for (size_t k = 0; k < 4; ++k) {
            char c = text[i + k];
            if (c == '=' && last && k >= 2 && (k == 3 || text[i + 3] == '=')) {
                ++padding;
                group <<= 6;
                continue;
            }
            int v = base64Value(c);
            if (v < 0 || padding > 0)
                return std::nullopt;
            group = (group << 6) | static_cast<uint32_t>(v);
        }
        out += static_cast<char>(group >> 16);
        if (padding < 2)
            out += static_cast<char>((group >> 8) & 0xFF);
        if (padding < 1)
            out += static_cast<char>(group & 0xFF);
    }
    return out;
}

std::string decodeOrLog(const char* text) {
    if (text == nullptr)
        return {};
    std::optional<std::string> decoded = decodeBase64(text);
    if (!decoded)
        LOG(INFO) << " Channel table: bad base64 text " << text;
    return decoded.value_or("");
}

struct Choice {
    std::vector<std::string> markers;
    std::string label;
};

struct Row {
    int siteId;
    int otherSiteId;
    std::vector<Choice> choices;
    std::string label;
};

const std::vector<Row>& channelRows() {
    static const std::vector<Row> rows = [] {
        std::vector<Row> decoded;
        for (const EncodedRow& encoded : kEncodedRows) {
            Row row{encoded.siteId, encoded.otherSiteId, {}, decodeOrLog(encoded.label)};
            for (const EncodedChoice& choice : encoded.choices) {
                if (choice.label == nullptr)
                    continue;
                Choice c{{decodeOrLog(choice.marker)}, decodeOrLog(choice.label)};
                if (choice.otherMarker != nullptr)
                    c.markers.push_back(decodeOrLog(choice.otherMarker));
                row.choices.push_back(std::move(c));
            }
            decoded.push_back(std::move(row));
        }
        return decoded;
    }();
    return rows;
}

}  // namespace

std::string GetTrafficType(int siteId) {
    bool paid = std::find(std::begin(kPaidSiteIds), std::end(kPaidSiteIds), siteId) !=
                std::end(kPaidSiteIds);
    return paid ? "PPC" : "SEO";
}

std::string GetChannelLabel(int siteId, const std::string& extraUrl) {
    const std::string url = asciiLower(extraUrl);
    for (const Row& row : channelRows()) {
        if (row.siteId != siteId && (row.otherSiteId == kNoId || row.otherSiteId != siteId))
            continue;
        for (const Choice& choice : row.choices) {
            for (const std::string& marker : choice.markers) {
                if (!marker.empty() && url.find(marker) != std::string::npos)
                    return choice.label;
            }
        }
        return row.label;
    }
    return std::to_string(siteId);
}

EventReporter::ProductContext ReportContext(int siteId, const std::string& softwareName,
                                            const std::string& extraUrl, bool toolkitProduct) {
    return {GetTrafficType(siteId), GetChannelLabel(siteId, extraUrl), softwareName,
            toolkitProduct};
}

}  // namespace FuntionImpl
