#include "Snapshot.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "platform/Resources.h"
#include "ui/HeadlessHost.h"
#include "ui/Layouts.h"
#include "ui/MarkupLoader.h"
#include "ui/WindowBase.h"

namespace fs = std::filesystem;

namespace kvsnap {
namespace {

// The installer's skin package resource.
constexpr const char* kSkinType = "ZIPRES";
constexpr uint32_t kSkinId = 138;
// Larger inputs are not skins; reading them whole would only cost memory.
constexpr uintmax_t kMaxInputBytes = 512ull << 20;

bool readWhole(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        error = "cannot read " + path + ": " + ec.message();
        return false;
    }
    if (size > kMaxInputBytes) {
        error = path + " is larger than any skin package (" + std::to_string(size) + " bytes)";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

// Every named text of a language file, first occurrence of a name winning: a language file
// keeps the window's own page first and message texts after it. Layouts only group them.
std::vector<std::pair<std::string, std::string>> languageTexts(const ui::MarkupDocument& doc) {
    std::vector<std::pair<std::string, std::string>> texts;
    std::set<std::string> seen;
    ui::ForEachControl(doc.root.get(), [&](ui::Control& c) {
        if (!c.GetName().empty() && c.ChildCount() == 0 && !dynamic_cast<ui::Container*>(&c) &&
            seen.insert(c.GetName()).second)
            texts.emplace_back(c.GetName(), c.GetText());
        return true;
    });
    return texts;
}

std::optional<std::string> readLanguageFile(const ui::SkinPackage& skin, const std::string& name,
                                            std::string& error) {
    if (skin.Contains(name))
        return skin.ReadText(name, &error);
    std::vector<uint8_t> bytes;
    if (!readWhole(name, bytes, error)) {
        error = "the language file " + name + " is neither in the package nor readable: " + error;
        return std::nullopt;
    }
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& args, Request& request, std::string& error) {
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--lang" || arg == "--select") {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            const std::string& value = args[++i];
            if (arg == "--lang") {
                request.languageFile = value;
                continue;
            }
            const size_t eq = value.find('=');
            int index = -1;
            const char* first = value.data() + (eq == std::string::npos ? 0 : eq + 1);
            const char* last = value.data() + value.size();
            const auto parsed = std::from_chars(first, last, index);
            if (eq == std::string::npos || eq == 0 || first == last || parsed.ec != std::errc() ||
                parsed.ptr != last || index < 0) {
                error =
                    "--select takes TABLAYOUT=INDEX with INDEX 0 or more, not \"" + value + "\"";
                return false;
            }
            request.selections.emplace_back(value.substr(0, eq), index);
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option \"" + arg + "\"";
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 3) {
        error = "SKIN, MARKUP and OUT.png are needed";
        return false;
    }
    request.skin = positional[0];
    request.markup = positional[1];
    request.output = positional[2];
    return true;
}

std::shared_ptr<ui::SkinPackage> OpenSkin(const std::string& path, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!readWhole(path, bytes, error))
        return nullptr;
    if (auto table = platform::parseResourceTable(bytes)) {
        const platform::ResourceEntry* entry = table->find(kSkinType, kSkinId);
        if (!entry) {
            error = path + " carries resources but no skin package (" + kSkinType + " " +
                    std::to_string(kSkinId) + ")";
            return nullptr;
        }
        bytes = entry->data;
    }
    std::string zipError;
    auto skin = ui::SkinPackage::Open(std::move(bytes), &zipError);
    if (!skin)
        error = path + " is not a skin package: " + zipError;
    return skin;
}

std::vector<std::string> Render(const Request& request) {
    std::string error;
    auto skin = OpenSkin(request.skin, error);
    if (!skin)
        return {error};
    if (!skin->Contains(request.markup))
        return {"the package has no " + request.markup};

    std::vector<std::pair<std::string, std::string>> texts;
    if (!request.languageFile.empty()) {
        const auto text = readLanguageFile(*skin, request.languageFile, error);
        if (!text)
            return {error};
        const ui::MarkupDocument doc =
            ui::MarkupLoader(nullptr).LoadFromText(*text, request.languageFile);
        if (!doc.root)
            return {"the language file " + request.languageFile + " is not XML: " +
                    (doc.problems.empty() ? std::string("empty") : doc.problems.front())};
        texts = languageTexts(doc);
    }

    auto* backend = ui::headless::HeadlessBackend::Install();
    MarkupWindow window(request.markup);
    window.SetSkinPackage(skin);
    if (!window.Create(nullptr, request.markup))
        return {"the window could not be made"};
    for (const auto& [name, text] : texts)
        if (ui::Control* control = window.FindControl(name))
            control->SetText(text);

    std::vector<std::string> problems;
    for (const auto& [name, index] : request.selections) {
        auto* tabs = window.FindControl<ui::TabLayout>(name);
        if (!tabs)
            problems.push_back("the window has no tab layout \"" + name + "\"");
        else if (!tabs->SelectItem(index))
            problems.push_back("the tab layout \"" + name + "\" has no page " +
                               std::to_string(index));
    }
    if (!problems.empty())
        return problems;

    window.ShowWindow(true, false);
    backend->Pump();
    // Written beside the target and renamed, so a failed run never leaves a partial PNG.
    const std::string partial = request.output + ".partial";
    if (!backend->HostOf(window)->SavePng(partial, &error)) {
        std::error_code ec;
        fs::remove(partial, ec);
        return {"cannot write " + request.output + ": " + error};
    }
    std::error_code ec;
    fs::rename(partial, request.output, ec);
    if (ec) {
        fs::remove(partial, ec);
        return {"cannot write " + request.output + ": " + ec.message()};
    }
    return {};
}

}  // namespace kvsnap
