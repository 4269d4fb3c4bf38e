#include "Common/side_queries.h"

#include <cctype>
#include <chrono>
#include <thread>

#include "CConfigure.h"
#include "CLibcurlTool.h"
#include "Common/install_window.h"
#include "FuntionImpl.h"
#include "LanguageTable.h"
#include "Logging.h"
#include "RemoteServices.h"
#include "TextUtil.h"
#include "platform/Network.h"
#include "platform/Process.h"

namespace {

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string uninstallKey(const std::string& softwareName) {
    return "SoftWare\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + softwareName;
}

// One sub-program query: up to three attempts, no pause between them.
void querySubProgram(InstallWindow& window, CLibcurlTool& tool, const std::string& url, int which) {
    const std::string tag = " GetSubProgram" + std::to_string(which);
    for (int j = 0; j < 3; ++j) {
        LOG(INFO) << tag << " begin: " << j << "/3";
        std::string body;
        tool.httpGetText(url, body, true);
        if (body.empty())
            continue;
        LOG(INFO) << tag << " ok: " << body.size();
        const std::string downloadUrl = CConfigure::extractDownloadUrl(body);
        if (downloadUrl.empty())
            continue;
        LOG(INFO) << tag << " ok: " << downloadUrl.size();
        const size_t slash = downloadUrl.rfind('/');
        const std::string name =
            slash == std::string::npos ? std::string() : downloadUrl.substr(slash + 1);
        // A file name must stay inside the download folder.
        if (name.empty() || name == "." || name == ".." || name.find('\\') != std::string::npos)
            continue;
        LOG(INFO) << tag << " ok: " << name.size();
        window.subPrograms.appendDownload(downloadUrl, window.downloadDirectory + "/" + name);
        return;
    }
    window.subPrograms.appendDownload("", "");
}

}  // namespace

void AsyncGetCbsInfoThreadFunc(InstallWindow& window) {
    sleepMs(1000);
    window.configure->getDownloadInfoXml(false);
    if (window.running) {
        LOG(INFO) << " GetDownloaderInfo(Async) abandon";
        return;
    }
    window.configure->parseDownloadInfoXml();
}

void GetSubProgramInfoThreadFunc(InstallWindow& window) {
    sleepMs(1000);
    const int id = window.downloaderId;
    if (!IsToolkitDownloader(id))
        return;
    if (window.subPrograms.complete())
        return;
    const std::string suffix = FuntionImpl::IsWow64() ? "&package_type=2" : "";
    const std::string base =
        remoteServiceUrl(kUpdateService) + "/queryDownloader?LanguageId=1033&SoftWareID=";
    const std::string first =
        base + (id == kToolkitDownloaderB ? "303" : "302") + "&SiteID=1" + suffix;
    const std::string second =
        base + (id == kToolkitDownloaderB ? "305" : "304") + "&SiteID=1" + suffix;
    CLibcurlTool tool;
    if (!tool.valid())
        return;
    window.subPrograms.clearDownloads();
    querySubProgram(window, tool, first, 1);
    querySubProgram(window, tool, second, 2);
}

std::optional<std::string> TrackingIdOfFileName(const std::string& fileName) {
    const size_t underscore = fileName.rfind('_');
    if (underscore == std::string::npos)
        return std::nullopt;
    // Programs here carry no extension: the id then runs to the end of the name.
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || dot < underscore)
        return fileName.substr(underscore + 1);
    return fileName.substr(underscore + 1, dot - underscore - 1);
}

bool CrossEndStatusOk(const std::string& body) {
    const size_t at = body.find("\"status\":");
    if (at == std::string::npos)
        return false;
    const size_t colon = at + 8;
    const size_t comma = body.find(',', colon);
    if (comma == std::string::npos)
        return false;
    return parseDecimalInt(std::string_view(body).substr(colon + 1, comma - colon - 1)) == 200;
}

namespace {

// Percent-encodes everything but unreserved characters: the id comes from a file name.
std::string urlEncode(const std::string& text) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

}  // namespace

void VerifyCrossEndIdThreadFunc(InstallWindow& window, const std::string& programPath) {
    sleepMs(1000);
    LOG(INFO) << " Verify CEI step1";
    const std::string path = programPath.empty() ? platform::ownModulePath().string() : programPath;
    const size_t slash = path.find_last_of("/\\");
    const std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto id = TrackingIdOfFileName(fileName);
    if (!id) {
        window.spTracking = false;
    } else {
        std::string base;
        if (HasDownloaderCfg())
            base = remoteServiceUrl(kUpdateServiceChinaPlain);
        else if (IsChinaSiteId(window.configure->siteId()))
            base = remoteServiceUrl(kUpdateServiceChina);
        else
            base = remoteServiceUrl(kUpdateService);
        const std::string url = base + "/download/checkCross?cross_end_id=" + urlEncode(*id);
        CLibcurlTool tool;
        if (tool.valid()) {
            LOG(INFO) << " Verify CEI step2";
            std::string body;
            const CURLcode rc = tool.httpGetText(url, body, true);
            LOG(INFO) << " Verify CEI step3: " << static_cast<int>(rc);
            if (rc == CURLE_OK && !CrossEndStatusOk(body))
                window.spTracking = false;
        }
    }
    LOG(INFO) << " Verify CEI step4: " << (window.spTracking ? "1" : "0");
}

std::string checkRemotePath(std::vector<std::string> urls, int preference) {
    (void)preference;  // 1, the only preference there is: the first non-CDN URL
    for (const auto& url : urls) {
        if (!FuntionImpl::IsCdnUrl(url)) {
            LOG(INFO) << " UrlUsed: " << url;
            return url;
        }
    }
    LOG(INFO) << " checkRemotePath fail: " << -1;
    return {};
}

std::string GetDataDlUrl(InstallWindow& window) {
    const std::string page = window.configure->Cnet_download_url;
    if (page.empty())
        return {};
    CLibcurlTool tool;
    std::string body;
    tool.getHttpBody(page, 0, 200000, body);
    if (body.size() > 199999)
        body.resize(199999);
    if (body.empty())
        return {};
    static constexpr std::string_view kMarker = "data-dl-url='";
    const size_t at = body.find(kMarker);
    if (at == std::string::npos)
        return {};
    const size_t start = at + kMarker.size();
    const size_t end = body.find('\'', start);
    if (end == std::string::npos || end == start)
        return {};
    const std::string url = body.substr(start, end - start);
    std::string header;
    long status = 0;
    if (tool.getHttpHeader(url, header, &status) != CURLE_OK)
        return {};
    return sanitizeUtf8(url);
}

bool isForbidCDN(const std::string& softwareName) {
    const std::string value = FuntionImpl::ReadRegString(
        platform::Hive::LocalMachine, uninstallKey(softwareName), "RequestTooMuchTimes");
    if (value.empty())
        return false;
    return parseDecimalInt(value) >= 4;
}

bool IncreaseRequestTooMuchTimes(const std::string& softwareName) {
    const std::string value = FuntionImpl::ReadRegString(
        platform::Hive::LocalMachine, uninstallKey(softwareName), "RequestTooMuchTimes");
    int n = 1;
    if (!value.empty()) {
        const int m = parseDecimalInt(value);
        n = m < 1 ? 1 : m + 1;
    }
    const std::string text(1, static_cast<char>(48 + n));
    return FuntionImpl::WriteRegString(platform::Hive::LocalMachine, uninstallKey(softwareName),
                                       "RequestTooMuchTimes", text);
}

int GetIEProxyConfig() {
    // This platform has no per-user proxy store: the *_proxy variables are what programs honour.
    const platform::ProxySettings proxy = platform::readProxySettings();
    LOG(INFO) << " Get proxy: " << 1 << ", " << 0;
    int result = 0;
    std::string list = proxy.httpProxy;
    if (!proxy.httpsProxy.empty() && proxy.httpsProxy != proxy.httpProxy)
        list += (list.empty() ? "" : ";") + proxy.httpsProxy;
    if (!list.empty()) {
        result = 2;
        LOG(INFO) << " Proxy info2: " << list;
    }
    if (!proxy.noProxy.empty()) {
        result = 3;
        LOG(INFO) << " Proxy info3: " << proxy.noProxy;
    }
    return result;
}
