#include "CConfigure.h"

#include <tinyxml2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

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
    // The name and version end up in file names and in the setup's command line: a reply
    // that would break out of either is not used at all.
    for (const auto* e = doc.RootElement()->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const std::string_view name = e->Name();
        if (name != "Software_name" && name != "Software_version")
            continue;
        const std::string text = elementText(e);
        if (!isSafeCommandLinePiece(text) ||
            (name == "Software_version" && text.find_first_of("/\\") != std::string::npos)) {
            LOG(INFO) << " Downloader info reply refused: unusable " << name << ": " << text;
            loadState = kNotLoaded;
            return 0;
        }
    }
    for (const auto* e = doc.RootElement()->FirstChildElement(); e; e = e->NextSiblingElement()) {
        const std::string_view name = e->Name();
        const std::string text = elementText(e);
        if (name == "Downloader_id")
            Downloader_id = parseDecimalInt(text);
        else if (name == "Software_id")
            Software_id = parseDecimalInt(text);
        else if (name == "Site_id")
            setSiteId(parseDecimalInt(text));
        else if (name == "Downloader_type")
            Downloader_type = parseDecimalInt(text);
        else if (name == "Filesize")
            Filesize = parseDecimalInt64(text);
        else if (name == "Software_name")
            Software_name = truncateToCodePoints(text, kSoftwareNameMaxChars);
        else if (name == "Software_version")
            Software_version = text;
        else if (name == "Download_url")
            Download_url = removeLineBreaks(text);
        else if (name == "Md5")
            Md5 = text;
        else if (name == "Process_name")
            Process_name = removeLineBreaks(text);
        else if (name == "Install_url")
            Install_url = text;
        else if (name == "Banner_url")
            Banner_url = text;
        else if (name == "Licensefile_url")
            Licensefile_url = text;
        else if (name == "Extra_download_url")
            Extra_download_url = removeLineBreaks(text);
        else if (name == "Md5_extra")
            Md5_extra = text;
        else if (name == "Cnet_download_url")
            Cnet_download_url = text;
    }
    loadState = kLoaded;
    loadSource = kFromServer;
    addCandidate(candidateUrls, Download_url);
    addCandidate(candidateUrls, Extra_download_url);
    return 1;
}

int CConfigure::loadFromMarkup(const NamedTextLookup& labels) {
    Filesize = 0;
    Software_id = 0;
    loadState = kNotLoaded;
    loadSource = kFromNothing;
    Software_name.clear();
    Software_version.clear();
    Download_url.clear();
    Md5.clear();
    Process_name.clear();
    Install_url.clear();
    Banner_url.clear();
    Licensefile_url.clear();
    candidateUrls.clear();

    auto text = [&](std::string_view name) {
        std::optional<std::string> value = labels ? labels(name) : std::nullopt;
        if (!value) {
            LOG(INFO) << " configure.xml has no label " << name;
            return std::string();
        }
        return sanitizeUtf8(*value);
    };
    Downloader_id = parseDecimalInt(text("Downloader_id"));
    Software_id = parseDecimalInt(text("Software_id"));
    setSiteId(parseDecimalInt(text("Site_id")));
    Language_id = parseDecimalInt(text("Language_id"));
    Filesize = parseDecimalInt64(text("Filesize"));
    Software_name = text("Software_name");
    Software_version = text("Software_version");
    Process_name = text("Process_name");
    Install_url = text("Install_url");
    Download_url = text("Download_url");
    Extra_download_url = text("Extra_download_url");
    Banner_url = text("Banner_url");
    Licensefile_url = text("Licensefile_url");
    Md5 = text("Md5");
    Md5_extra = text("Md5_extra");
    Cnet_download_url = text("Cnet_download_url");

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
    LOG(INFO) << " [File ContentLength]: " << Filesize;
    LOG(INFO) << " [Downloader Id]: " << Downloader_id;
    LOG(INFO) << " [SoftWare Id]: " << Software_id;
    LOG(INFO) << " [Site Id]: " << Site_id;
    LOG(INFO) << " [Language Id]: " << Language_id;
    LOG(INFO) << " [Software Name]: " << Software_name;
    LOG(INFO) << " [Software Version]: " << Software_version;
    LOG(INFO) << " [Remote Path]: " << Download_url;
    LOG(INFO) << " [MD5 String]: " << Md5;
    LOG(INFO) << " [Process Name]: " << Process_name;
    LOG(INFO) << " [Install Url]: " << Install_url;
    LOG(INFO) << " [Banner Url]: " << Banner_url;
    LOG(INFO) << " [Licensefile Url]: " << Licensefile_url;
    LOG(INFO) << " [Extra Download Url]: " << Extra_download_url;
    LOG(INFO) << " [Cnet Download Url]: " << Cnet_download_url;
    LOG(INFO) << " [MD5 Extra String]: " << Md5_extra;
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
