#include "Common/skin_probe.h"

#include "FuntionImpl.h"
#include "Logging.h"
#include "ui/ZipArchive.h"

std::optional<std::string> FindDownloaderIdText(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    const size_t label = text.find("Downloader_id");
    if (label == std::string_view::npos)
        return std::nullopt;
    const size_t equals = text.find('=', label);
    if (equals == std::string_view::npos || equals + 2 > text.size())
        return std::nullopt;
    const size_t start = equals + 2;
    const size_t quote = text.find('"', start);
    if (quote == std::string_view::npos)
        return std::nullopt;
    return std::string(text.substr(start, quote - start));
}

std::string WindowClassName(std::string_view downloaderId) {
    return std::string(kWindowClassPrefix) + std::string(downloaderId);
}

SkinProbe ProbeSkinPackage(const platform::ResourceTable& resources) {
    SkinProbe probe;
    const auto* entry = resources.find(kSkinResourceType, kSkinResourceId);
    if (!entry || entry->data.empty()) {
        LOG(INFO) << " Skin package resource " << kSkinResourceType << "/" << kSkinResourceId
                  << " not found";
        return probe;
    }
    auto archive = ui::ZipArchive::OpenFromMemory(entry->data);
    if (!archive)
        return probe;
    probe.packageFound = true;
    probe.entryNames = archive->EntryNames();
    auto configure = archive->UnzipText(kConfigureEntry);
    if (!configure)
        return probe;
    probe.configureFound = true;
    probe.downloaderId = FindDownloaderIdText(*configure);
    if (!probe.downloaderId) {
        LOG(INFO) << " No Downloader_id in " << kConfigureEntry;
        return probe;
    }
    probe.windowClassName = WindowClassName(*probe.downloaderId);
    return probe;
}

std::optional<std::string> ReadSkinText(const platform::ResourceTable& resources,
                                        std::string_view entry) {
    const auto* package = resources.find(kSkinResourceType, kSkinResourceId);
    if (!package || package->data.empty())
        return std::nullopt;
    auto archive = ui::ZipArchive::OpenFromMemory(package->data);
    if (!archive)
        return std::nullopt;
    return archive->UnzipText(entry);
}

std::string ReadFileVersion(const platform::ResourceTable& resources) {
    return FuntionImpl::FileVersionFromResources(resources);
}
