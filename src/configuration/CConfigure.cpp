#include "CConfigure.h"

#include <tinyxml2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <variant>

#include "CLibcurlTool.h"
#include "FuntionImpl.h"
#include "LanguageTable.h"
#include "Logging.h"
#include "RemoteServices.h"
#include "TextUtil.h"
#include "platform/Process.h"
#include "report/EventReporter.h"

namespace {

constexpr std::string_view kOpenTag = "<Downloader>";
constexpr std::string_view kCloseTag = "</Downloader>";
// The <Downloader> element of `text`, from its opening tag to the end of its closing tag.
std::string_view cutDownloaderElement(std::string_view text) {
    const size_t open = text.find(kOpenTag);
    if (open == std::string_view::npos)
        return {};
    const size_t close = text.find(kCloseTag, open + kOpenTag.size());
    if (close == std::string_view::npos)
        return {};
    return text.substr(open, close + kCloseTag.size() - open);
}

std::string elementText(const tinyxml2::XMLElement* e) {
    const char* text = e->GetText();
    return text ? sanitizeUtf8(text) : std::string();
}

void addCandidate(std::vector<std::string>& list, const std::string& url) {
    if (!url.empty() && !FuntionImpl::IsCdnUrl(url))
        list.push_back(url);
}

}  // namespace

// How the update service's text becomes a field's value. The configure.xml labels come with our
// own skin package and are taken as written; the reply is the vendor's XML, whose formatting can
// wrap an address or a file name over lines, and whose name must fit the uninstall key.
enum class CConfigure::ReplyNormal {
    kAsIs,
    kNoLineBreaks,  // Download_url, Extra_download_url, Process_name
    kNameLength,    // Software_name: at most kSoftwareNameMaxChars code points
};

// What a reply's value must be for the reply to be used at all: the name and the version end up
// in file names and in the setup's command line, the process name is joined to the install
// folder and started from there.
enum class CConfigure::ReplyGuard {
    kNone,
    kCommandLinePiece,  // a piece of the setup's command line in quotes
    kVersion,           // as above, and a file name piece: no separators
    kInsideFolder,      // a name below the install folder: not absolute, no ".."
};

struct CConfigure::Field {
    std::string_view name;  // element of the reply, label of configure.xml
    std::variant<int CConfigure::*, int64_t CConfigure::*, std::string CConfigure::*> member;
    std::string_view title;  // printContent's title; empty: not printed
    int labelOrder;          // place in the markup reader's walk; 0: not a label it reads
    bool fromReply;
    ReplyNormal normal;
    ReplyGuard guard;
};

using ReplyNormal = CConfigure::ReplyNormal;
using ReplyGuard = CConfigure::ReplyGuard;

// In printContent's order; the markup reader walks the labels in labelOrder (the log names a
// missing label in that order). Downloader_type comes from the reply only (the markup reader sets
// it to 1); Language_id from the labels only.
const CConfigure::Field CConfigure::kFields[] = {
    // clang-format off
    {"Filesize",           &CConfigure::Filesize,           "[File ContentLength]",  5, true,  ReplyNormal::kAsIs,         ReplyGuard::kNone},
    {"Downloader_id",      &CConfigure::Downloader_id,      "[Downloader Id]",       1, true,  ReplyNormal::kAsIs,         ReplyGuard::kNone},
    {"Software_id",        &CConfigure::Software_id,        "[SoftWare Id]",         2, true,  ReplyNormal::kAsIs,         ReplyGuard::kNone},
    {"Site_id",            &CConfigure::Site_id,            "[Site Id]",             3, true,  ReplyNormal::kAsIs,         ReplyGuard::kNone},
    {"Language_id",        &CConfigure::Language_id,        "[Language Id]",         4, false, ReplyNormal::kAsIs,         ReplyGuard::kNone},
    {"Software_name",      &CConfigure::Software_name,      "[Software Name]",       6, true,  ReplyNormal::kNameLength,   ReplyGuard::kCommandLinePiece},
    {"Software_version",   &CConfigure::Software_version,   "[Software Version]",    7, true,  ReplyNormal::kAsIs,         ReplyGuard::kVersion},
    {"Download_url",       &CConfigure::Download_url,       "[Remote Path]",        10, true,  ReplyNormal::kNoLineBreaks, ReplyGuard::kNone},
    {"Md5",                &CConfigure::Md5,                "[MD5 String]",         14, true,  ReplyNormal::kAsIs,         ReplyGuard::kNone},
    {"Process_name",       &CConfigure::Process_name,       "[Process Name]",        8, true,  ReplyNormal::kNoLineBreaks, ReplyGuard::kInsideFolder},
    {"Install_url",        &CConfigure::Install_url,        "[Install Url]",         9, true,  ReplyNormal::kAsIs,         ReplyGuard::kNone},
    {"Banner_url",         &CConfigure::Banner_url,         "[Banner Url]",         12, true,  ReplyNormal::kAsIs,         ReplyGuard::kNone},
    {"Licensefile_url",    &CConfigure::Licensefile_url,    "[Licensefile Url]",    13, true,  ReplyNormal::kAsIs,         ReplyGuard::kNone},
    {"Extra_download_url", &CConfigure::Extra_download_url, "[Extra Download Url]", 11, true,  ReplyNormal::kNoLineBreaks, ReplyGuard::kNone},
    {"Cnet_download_url",  &CConfigure::Cnet_download_url,  "[Cnet Download Url]",  16, true,  ReplyNormal::kAsIs,         ReplyGuard::kNone},
    {"Md5_extra",          &CConfigure::Md5_extra,          "[MD5 Extra String]",   15, true,  ReplyNormal::kAsIs,         ReplyGuard::kNone},
    {"Downloader_type",    &CConfigure::Downloader_type,    "",                      0, true,  ReplyNormal::kAsIs,         ReplyGuard::kNone},
    // clang-format on
};

namespace {

const CConfigure::Field* findField(std::string_view name) {
    for (const auto& field : CConfigure::kFields) {
        if (field.name == name)
            return &field;
    }
    return nullptr;
}

std::vector<const CConfigure::Field*> labelsInReadingOrder() {
    std::vector<const CConfigure::Field*> labels;
    for (const auto& field : CConfigure::kFields) {
        if (field.labelOrder > 0)
            labels.push_back(&field);
    }
    std::sort(labels.begin(), labels.end(),
              [](const auto* a, const auto* b) { return a->labelOrder < b->labelOrder; });
    return labels;
}

std::string normaliseReplyText(ReplyNormal normal, const std::string& text) {
    switch (normal) {
        case ReplyNormal::kNoLineBreaks:
            return removeLineBreaks(text);
        case ReplyNormal::kNameLength:
            return truncateToCodePoints(text, kSoftwareNameMaxChars);
        case ReplyNormal::kAsIs:
            break;
    }
    return text;
}

// Whether `text` names something at or below the folder it is joined to: a leading separator
// would replace the folder, a ".." step would leave it.
bool staysInsideFolder(std::string_view text) {
    const std::string name = removeLineBreaks(text);
    if (!name.empty() && (name.front() == '/' || name.front() == '\\'))
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = name.size();
        if (name.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

bool passesReplyGuard(ReplyGuard guard, const std::string& text) {
    switch (guard) {
        case ReplyGuard::kCommandLinePiece:
            return isSafeCommandLinePiece(text);
        case ReplyGuard::kVersion:
            return isSafeCommandLinePiece(text) && text.find_first_of("/\\") == std::string::npos;
        case ReplyGuard::kInsideFolder:
            return staysInsideFolder(text);
        case ReplyGuard::kNone:
            break;
    }
    return true;
}

}  // namespace

void CConfigure::setField(const Field& field, const std::string& text) {
    if (const auto* number = std::get_if<int CConfigure::*>(&field.member)) {
        const int value = parseDecimalInt(text);
        if (*number == &CConfigure::Site_id)
            setSiteId(value);
        else
            this->*(*number) = value;
    } else if (const auto* wide = std::get_if<int64_t CConfigure::*>(&field.member)) {
        this->*(*wide) = parseDecimalInt64(text);
    } else {
        this->*std::get<std::string CConfigure::*>(field.member) = text;
    }
}

std::string CConfigure::fieldText(const Field& field) const {
    return std::visit(
        [this](auto member) {
            std::ostringstream out;
            out << this->*member;
            return out.str();
        },
        field.member);
}

CConfigure::CConfigure(int downloaderId, int languageId, int siteId)
    : is64BitSystem(FuntionImpl::IsWow64),
      Downloader_id(downloaderId),
      Site_id(siteId),
      Language_id(languageId) {}

std::string CConfigure::downloaderInfoUrl(int languageId, int downloaderId, int siteId,
                                          bool hasDownloaderCfg, bool is64BitSystem) {
    std::string base;
    if (hasDownloaderCfg)
        base = remoteServiceUrl(kUpdateServicePlain);
    else if (IsChinaSiteId(siteId))
        base = remoteServiceUrl(kUpdateServiceChina);
    else
        base = remoteServiceUrl(kUpdateService);
    char query[128];
    std::snprintf(query, sizeof query, "LanguageId=%d&SoftWareID=%d&SiteID=%d%s", languageId,
                  downloaderId, siteId, is64BitSystem ? "&package_type=2" : "");
    return base + "/queryDownloader?" + query;
}

int CConfigure::keepDownloaderElement(std::string_view reply) {
    const std::string_view element = cutDownloaderElement(reply);
    if (element.empty())
        return 0;
    rawReply.assign(element);
    return 1;
}

int CConfigure::getDownloadInfoXml(bool sync) {
    const bool plain = HasDownloaderCfg();
    const int site = siteId();
    const char* region = (plain || IsChinaSiteId(site)) ? "cn" : "com";
    const bool is64 = is64BitSystem ? is64BitSystem() : false;
    const std::string url = downloaderInfoUrl(Language_id, Downloader_id, site, plain, is64);
    const char* mode = sync ? "Sync" : "Async";

    LOG(INFO) << " GetDownloaderInfo(" << mode << ")...";
    const auto started = std::chrono::steady_clock::now();
    std::string body;
    CLibcurlTool tool;
    const CURLcode rc = tool.httpGetText(url, body, false);
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
            .count();
    LOG(INFO) << " GetDownloaderInfo(" << mode << ", " << region << ") return "
              << static_cast<int>(rc);
    EventReporter::instance().report("Other", sync ? "SyncGetCbsTime" : "AsyncGetCbsTime",
                                     std::to_string(seconds), false);
    return keepDownloaderElement(body);
}

int CConfigure::siteId() const {
    std::lock_guard<std::mutex> lock(m_siteIdMutex);
    return Site_id;
}

void CConfigure::setSiteId(int value) {
    std::lock_guard<std::mutex> lock(m_siteIdMutex);
    Site_id = value;
}

int CConfigure::parseDownloadInfoXml() {
    tinyxml2::XMLDocument doc;
    if (rawReply.empty() || doc.Parse(rawReply.c_str(), rawReply.size()) != tinyxml2::XML_SUCCESS ||
        !doc.RootElement()) {
        if (!rawReply.empty())
            LOG(INFO) << " Downloader info reply does not parse: " << doc.ErrorStr();
        loadState = kNotLoaded;
        return 0;
    }
    // Checked before anything is taken, so a refused reply leaves every field as it was.
    for (const auto* e = doc.RootElement()->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const Field* field = findField(e->Name());
        const std::string text = elementText(e);
        if (field && field->fromReply && !passesReplyGuard(field->guard, text)) {
            LOG(INFO) << " Downloader info reply refused: unusable " << field->name << ": " << text;
            loadState = kNotLoaded;
            return 0;
        }
    }
    for (const auto* e = doc.RootElement()->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const Field* field = findField(e->Name());
        if (field && field->fromReply)
            setField(*field, normaliseReplyText(field->normal, elementText(e)));
    }
    loadState = kLoaded;
    loadSource = kFromServer;
    addCandidate(candidateUrls, Download_url);
    addCandidate(candidateUrls, Extra_download_url);
    return 1;
}

int CConfigure::loadFromMarkup(const NamedTextLookup& labels) {
    loadState = kNotLoaded;
    loadSource = kFromNothing;
    candidateUrls.clear();
    auto text = [&](std::string_view name) {
        std::optional<std::string> value = labels ? labels(name) : std::nullopt;
        if (!value) {
            LOG(INFO) << " configure.xml has no label " << name;
            return std::string();
        }
        return sanitizeUtf8(*value);
    };
    // Every label field is set, a missing one to its empty value: nothing of an earlier load
    // survives the reset.
    for (const Field* field : labelsInReadingOrder())
        setField(*field, text(field->name));

    loadState = kLoaded;
    loadSource = kFromMarkup;
    Downloader_type = 1;
    addCandidate(candidateUrls, Download_url);
    addCandidate(candidateUrls, Extra_download_url);
    return 1;
}

void CConfigure::printContent() const {
    if (loadSource == kFromMarkup)
        LOG(INFO) << " Configure Load From File! ";
    else if (loadSource == kFromServer)
        LOG(INFO) << " Configure Load From XML! ";
    else
        LOG(INFO) << " Configure Load From Nothing! ";
    for (const Field& field : kFields) {
        if (!field.title.empty())
            LOG(INFO) << " " << field.title << ": " << fieldText(field);
    }
}

std::string CConfigure::extractDownloadUrl(std::string_view reply) {
    const std::string element(cutDownloaderElement(reply));
    if (element.empty())
        return {};
    tinyxml2::XMLDocument doc;
    if (doc.Parse(element.c_str(), element.size()) != tinyxml2::XML_SUCCESS || !doc.RootElement())
        return {};
    const auto* url = doc.RootElement()->FirstChildElement("Download_url");
    return url ? elementText(url) : std::string();
}

bool HasDownloaderCfg(const std::filesystem::path& programPath) {
    const std::filesystem::path program =
        programPath.empty() ? platform::ownModulePath() : programPath;
    std::error_code ec;
    return std::filesystem::exists(program.parent_path() / "kv_downloader.cfg", ec);
}
