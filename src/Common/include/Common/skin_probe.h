#pragma once
// What start-up learns from the embedded skin package before any window exists: the product's
// Downloader_id, and from it the window class name that guards against a second instance.
// Pure functions over bytes, plus one reader of the program's own resources; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Resources.h"

inline constexpr const char* kSkinResourceType = "ZIPRES";
inline constexpr uint32_t kSkinResourceId = 138;
inline constexpr const char* kVersionResourceType = "VERSION";
inline constexpr uint32_t kVersionResourceId = 1;
inline constexpr const char* kIconResourceType = "ICON";
inline constexpr uint32_t kIconResourceId = 143;
inline constexpr const char* kConfigureEntry = "configure\\configure.xml";
inline constexpr const char* kWindowClassPrefix = "KV_UI_Frame_";

// The Downloader_id text of configure.xml by a plain text search (no XML parsing), as start-up
// has always done it: "Downloader_id", then the first "=" after it, then the text from two
// characters past the "=" up to the next double quote. A leading UTF-8 byte-order mark is
// skipped. nullopt when any of the three is missing.
std::optional<std::string> FindDownloaderIdText(std::string_view configureXml);

// "KV_UI_Frame_" + id.
std::string WindowClassName(std::string_view downloaderId);

struct SkinProbe {
    bool packageFound = false;    // the resource exists, is not empty and opens as a ZIP
    bool configureFound = false;  // configure\configure.xml unpacked
    std::optional<std::string> downloaderId;
    std::string windowClassName;          // empty when there is no id
    std::vector<std::string> entryNames;  // the package's files, as stored
};

// Runs the start-up search over a program's resources. Never fails: what is missing stays unset.
SkinProbe ProbeSkinPackage(const platform::ResourceTable& resources);

// A text file of the skin package held in `resources`; nullopt when the package or the entry is
// missing or unreadable.
std::optional<std::string> ReadSkinText(const platform::ResourceTable& resources,
                                        std::string_view entry);

// The "%d.%d.%d.%d" file version resource, empty when there is none or it is malformed.
std::string ReadFileVersion(const platform::ResourceTable& resources);
