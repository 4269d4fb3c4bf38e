#pragma once
// The product configuration: what identifies the product being installed and where its setup
// program comes from. Filled from the update service's <Downloader> reply (preferred) or from
// the skin's configure.xml labels (fallback).
//
// The background query writes the fields only until the install worker starts; from then on
// only the worker does. Site_id alone is also read by the cross-end check while the query may
// still be writing it: that thread reads it through siteId(), and the writers hold the same
// lock. Strings are UTF-8.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Text of the label of that name, nullopt when there is none. Reads the skin's configure.xml
// or, once a window exists, its control tree.
using NamedTextLookup = std::function<std::optional<std::string>(std::string_view name)>;

// Downloader ids of the toolkit products, which bring sub-programs along. The ids are the
// vendor's: they arrive in the skin package and go into the update service's queries.
enum ToolkitDownloaderId : int {
    kToolkitDownloaderA = 277,
    kToolkitDownloaderB = 278,
};

inline bool IsToolkitDownloader(int downloaderId) {
    return downloaderId == kToolkitDownloaderA || downloaderId == kToolkitDownloaderB;
}

class CConfigure {
public:
    enum LoadState { kNotLoaded = 1, kLoaded = 2 };
    enum LoadSource { kFromNothing = 0, kFromServer = 1, kFromMarkup = 2 };

    CConfigure(int downloaderId, int languageId, int siteId);

    // Asks the update service for the downloader info and keeps the <Downloader> element of the
    // reply. `sync` tells the install worker's call from the background query (log and event).
    // 1 when an element was found, 0 otherwise (the earlier reply is kept).
    int getDownloadInfoXml(bool sync);

    // Fills the fields from the kept reply. 1 on success; 0 (and load state 1, so the markup
    // reader runs) when there is no reply, it does not parse, or a name, version or process
    // name in it is unusable (then no field changes).
    int parseDownloadInfoXml();

    // Fills the fields from the configure.xml labels. Always 1; a missing label reads as empty.
    int loadFromMarkup(const NamedTextLookup& labels);

    // Writes the configuration to the log, one line per field.
    void printContent() const;

    // The Download_url of the reply's <Downloader> element; empty when there is none.
    static std::string extractDownloadUrl(std::string_view reply);

    // The update-service URL for these ids (pure: the choices are passed in).
    static std::string downloaderInfoUrl(int languageId, int downloaderId, int siteId,
                                         bool hasDownloaderCfg, bool is64BitSystem);

    // Keeps `reply` when it holds a <Downloader> element (cut to that element); 1 if so.
    int keepDownloaderElement(std::string_view reply);

    // Site_id, read under the lock its writers take (see above).
    int siteId() const;

    // Decides whether the system is 64-bit for the request (tests pass their own answer).
    std::function<bool()> is64BitSystem;

    int loadState = kNotLoaded;
    int loadSource = kFromNothing;
    int64_t Filesize = 0;
    int Downloader_id;
    int Software_id = 0;
    int Site_id;
    int Language_id;
    int Downloader_type = 3;
    std::string Software_name;
    std::string Software_version;
    std::string Download_url;
    std::string Md5;
    std::string Process_name;
    std::string Install_url;
    std::string Banner_url;
    std::string Licensefile_url;
    std::string Extra_download_url;
    std::vector<std::string> candidateUrls;
    std::string Md5_extra;
    std::string Cnet_download_url;
    std::string rawReply;  // the last <Downloader> element received; empty when none

    // The fields the two readers fill and printContent logs: name, member, title, and how the
    // reply's text is normalised and checked. For this class's own walks.
    enum class ReplyNormal;
    enum class ReplyGuard;
    struct Field;
    static const Field kFields[];

private:
    void setSiteId(int value);
    void setField(const Field& field, const std::string& text);
    std::string fieldText(const Field& field) const;
    mutable std::mutex m_siteIdMutex;
};

// Whether "kv_downloader.cfg" lies in the folder of `programPath` (the running program by
// default): it asks for the update service over plain HTTP. Its content is never read.
bool HasDownloaderCfg(const std::filesystem::path& programPath = {});

// Software_name keeps at most this many characters (code points).
inline constexpr size_t kSoftwareNameMaxChars = 259;
