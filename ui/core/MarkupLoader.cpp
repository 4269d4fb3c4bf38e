#include "ui/MarkupLoader.h"

#include <tinyxml2.h>

#include <algorithm>

#include "Logging.h"
#include "ui/Attributes.h"
#include "ui/ControlFactory.h"

namespace ui {
namespace {

// The largest markup file read: the biggest real one (the licence texts) is far smaller.
constexpr uint64_t kMaxMarkupBytes = 8ull << 20;

// The parser refuses nesting past its own depth limit, so this recursion stays shallow.
MarkupElement copyElement(const tinyxml2::XMLElement& e) {
    MarkupElement out;
    out.tag = e.Name() ? e.Name() : "";
    for (const tinyxml2::XMLAttribute* a = e.FirstAttribute(); a; a = a->Next())
        out.attributes.emplace_back(a->Name(), a->Value());
    for (const auto* c = e.FirstChildElement(); c; c = c->NextSiblingElement())
        out.children.push_back(copyElement(*c));
    return out;
}

// The root element; on failure `malformed` holds the parser's reason, or stays empty when the
// text is XML without any element.
std::optional<MarkupElement> parseTree(std::string_view xml, std::string& malformed) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) {
        malformed = doc.ErrorStr();
        return std::nullopt;
    }
    if (!doc.RootElement())
        return std::nullopt;
    return copyElement(*doc.RootElement());
}

}  // namespace

struct MarkupLoader::Context {
    MarkupDocument doc;
    std::vector<std::string> files;  // include stack, normalised names
    int elements = 0;
    bool rootTaken = false;
    bool budgetReported = false;

    void Problem(const std::string& key, const std::string& message) {
        if (std::find(doc.problems.begin(), doc.problems.end(), message) == doc.problems.end())
            doc.problems.push_back(message);
        LogOnce(key, message);
    }
    std::string Where() const { return files.empty() ? std::string("(markup)") : files.back(); }
};

Rect WindowAttributes::CaptionRect(Size client) const {
    if (caption == Rect())
        return {};
    return Rect{caption.left, caption.top, client.cx - caption.right, caption.bottom}.Intersect(
        Rect::FromSize(0, 0, client.cx, client.cy));
}

const std::string* MarkupElement::Attribute(std::string_view name) const {
    for (const auto& [key, value] : attributes)
        if (key == name)
            return &value;
    return nullptr;
}

void MarkupElement::ForEach(const std::function<void(const MarkupElement&)>& visit) const {
    visit(*this);
    for (const MarkupElement& child : children)
        child.ForEach(visit);
}

std::optional<MarkupElement> MarkupLoader::ParseElements(std::string_view xml, std::string* error) {
    std::string malformed;
    auto root = parseTree(xml, malformed);
    if (!root && error)
        *error = malformed.empty() ? "no root element" : "not well-formed XML: " + malformed;
    return root;
}

Control* MarkupDocument::FindControl(std::string_view name) const {
    return FindControlIn(root.get(), name);
}

std::vector<std::pair<std::string, std::string>> MarkupDocument::ChildTexts(
    std::string_view parentName) const {
    std::vector<std::pair<std::string, std::string>> texts;
    if (const Control* parent = FindControl(parentName))
        for (size_t i = 0; i < parent->ChildCount(); ++i)
            if (const Control* child = parent->ChildAt(i))
                texts.emplace_back(child->GetName(), child->GetText());
    return texts;
}

MarkupLoader::MarkupLoader(std::shared_ptr<const SkinPackage> skin, std::string folder)
    : m_skin(std::move(skin)), m_folder(std::move(folder)) {}

MarkupDocument MarkupLoader::Load(std::string_view path) {
    Context ctx;
    std::string error;
    auto resolved = m_skin ? m_skin->Resolve(path, m_folder) : std::nullopt;
    std::vector<uint8_t> bytes;
    if (!resolved) {
        ctx.Problem("markup-missing:" + std::string(path),
                    "Markup file not found in the skin package: " + std::string(path));
    } else if (!m_skin->Read(*resolved, bytes, &error, kMaxMarkupBytes)) {
        ctx.Problem("markup-read:" + std::string(path),
                    "Markup file cannot be read: " + std::string(path) + ": " + error);
    } else {
        ctx.files.push_back(ZipArchive::NormalizeName(*resolved));
        parseDocument(ctx,
                      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                      *resolved, nullptr);
    }
    return std::move(ctx.doc);
}

MarkupDocument MarkupLoader::LoadFromText(std::string_view xml, std::string_view name) {
    Context ctx;
    ctx.files.push_back(ZipArchive::NormalizeName(name));
    parseDocument(ctx, xml, name, nullptr);
    return std::move(ctx.doc);
}

void MarkupLoader::parseDocument(Context& ctx, std::string_view xml, std::string_view name,
                                 Control* parent) {
    std::string malformed;
    const std::optional<MarkupElement> root = parseTree(xml, malformed);
    if (!root && !malformed.empty()) {
        ctx.Problem("xml:" + std::string(name) + malformed,
                    "Markup " + std::string(name) + " is not well-formed XML: " + malformed);
        return;
    }
    if (!root) {
        ctx.Problem("xml-empty:" + std::string(name),
                    "Markup " + std::string(name) + " has no root element");
        return;
    }
    if (EqualsNoCase(root->tag, "Window")) {
        // The outermost Window describes the window; one reached by an include only adds its
        // children.
        if (ctx.files.size() <= 1 && !ctx.doc.isWindow && !parent) {
            ctx.doc.isWindow = true;
            windowAttributes(ctx, *root);
        }
        for (const MarkupElement& child : root->children)
            element(ctx, child, parent, 1);
        return;
    }
    element(ctx, *root, parent, 0);
}

void MarkupLoader::includeFile(Context& ctx, const MarkupElement& e, Control* parent, int) {
    const std::string* attribute = e.Attribute("source");
    if (!attribute || attribute->empty()) {
        ctx.Problem("include-nosource:" + ctx.Where(),
                    "Markup " + ctx.Where() + ": Include without source");
        return;
    }
    const std::string& source = *attribute;
    auto resolved = m_skin ? m_skin->Resolve(source, m_folder) : std::nullopt;
    if (!resolved) {
        ctx.Problem("include-missing:" + source, "Markup " + ctx.Where() + " includes " + source +
                                                     ", which is not in the skin package");
        return;
    }
    const std::string key = ZipArchive::NormalizeName(*resolved);
    if (std::find(ctx.files.begin(), ctx.files.end(), key) != ctx.files.end()) {
        ctx.Problem("include-cycle:" + key, "Markup " + ctx.Where() + " includes " + source +
                                                " again inside itself; skipped");
        return;
    }
    if (int(ctx.files.size()) > kMaxIncludeDepth) {
        ctx.Problem("include-depth:" + key, "Markup includes nest deeper than " +
                                                std::to_string(kMaxIncludeDepth) + " at " + source);
        return;
    }
    std::vector<uint8_t> bytes;
    std::string error;
    if (!m_skin->Read(*resolved, bytes, &error, kMaxMarkupBytes)) {
        ctx.Problem("include-read:" + key, "Markup " + source + " cannot be read: " + error);
        return;
    }
    ctx.files.push_back(key);
    parseDocument(ctx, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                  *resolved, parent);
    ctx.files.pop_back();
}

void MarkupLoader::element(Context& ctx, const MarkupElement& e, Control* parent, int depth) {
    if (++ctx.elements > kMaxElements) {
        if (!ctx.budgetReported)
            ctx.Problem("budget:" + ctx.Where(), "Markup has more than " +
                                                     std::to_string(kMaxElements) +
                                                     " elements; the rest is ignored");
        ctx.budgetReported = true;
        return;
    }
    if (depth > kMaxDepth) {
        ctx.Problem("depth:" + ctx.Where(), "Markup " + ctx.Where() + " nests deeper than " +
                                                std::to_string(kMaxDepth) +
                                                " levels; the rest is ignored");
        return;
    }
    const std::string& tag = e.tag;
    if (EqualsNoCase(tag, "Include"))
        return includeFile(ctx, e, parent, depth);
    if (EqualsNoCase(tag, "Font"))
        return font(ctx, e);
    if (EqualsNoCase(tag, "Default")) {
        const std::string* name = e.Attribute("name");
        const std::string* value = e.Attribute("value");
        if (!name || !value)
            ctx.Problem("default-bad:" + ctx.Where(),
                        "Markup " + ctx.Where() + ": Default needs name and value");
        else
            ctx.doc.defaults[ToLower(*name)] = *value;
        return;
    }
    if (EqualsNoCase(tag, "Window")) {
        ctx.Problem("window-nested:" + ctx.Where(),
                    "Markup " + ctx.Where() + ": a Window inside a layout is ignored");
        return;
    }
    std::unique_ptr<Control> built = control(ctx, e, depth);
    if (!built)
        return;
    if (!parent) {
        if (ctx.rootTaken) {
            ctx.Problem(
                "second-root:" + ctx.Where(),
                "Markup " + ctx.Where() + ": a second root layout <" + tag + "> is ignored");
            return;
        }
        ctx.rootTaken = true;
        ctx.doc.root = std::move(built);
        return;
    }
    if (!parent->AddChild(std::move(built)))
        ctx.Problem("no-children:" + std::string(parent->GetClass()) + "/" + tag,
                    "Markup " + ctx.Where() + ": " + std::string(parent->GetClass()) +
                        " cannot hold <" + tag + ">");
}

std::unique_ptr<Control> MarkupLoader::control(Context& ctx, const MarkupElement& e, int depth) {
    const std::string& tag = e.tag;
    std::unique_ptr<Control> c = ControlFactory::Create(tag);
    if (!c) {
        ctx.Problem("unknown-tag:" + ToLower(tag), "Markup " + ctx.Where() + ": unknown tag <" +
                                                       tag + ">, skipped with its children");
        return nullptr;
    }
    if (auto it = ctx.doc.defaults.find(ToLower(c->GetClass())); it != ctx.doc.defaults.end())
        ApplyAttributeList(*c, it->second, &ctx.doc.problems);
    for (const auto& [name, value] : e.attributes) {
        if (!c->SetAttribute(name, value)) {
            ctx.Problem("unknown-attr:" + ToLower(c->GetClass()) + "/" + ToLower(name),
                        "Markup: " + std::string(c->GetClass()) + " does not know the attribute " +
                            name + " (first seen in " + ctx.Where() + ")");
        }
    }
    for (const MarkupElement& child : e.children)
        element(ctx, child, c.get(), depth + 1);
    return c;
}

void MarkupLoader::ApplyAttributeList(Control& control, std::string_view list,
                                      std::vector<std::string>* problems) {
    std::string error;
    auto pairs = ParseAttributeList(list, &error);
    if (!pairs) {
        const std::string message = "Markup: attribute list for " +
                                    std::string(control.GetClass()) + " is malformed: " + error;
        if (problems)
            problems->push_back(message);
        LogOnce("list:" + std::string(list.substr(0, 200)), message);
        return;
    }
    for (const auto& [name, value] : *pairs) {
        if (control.SetAttribute(name, value))
            continue;
        const std::string message =
            "Markup: " + std::string(control.GetClass()) + " does not know the attribute " + name;
        if (problems && std::find(problems->begin(), problems->end(), message) == problems->end())
            problems->push_back(message);
        LogOnce("unknown-attr:" + ToLower(control.GetClass()) + "/" + ToLower(name), message);
    }
}

void MarkupLoader::font(Context& ctx, const MarkupElement& e) {
    FontDesc f;
    for (const auto& [name, value] : e.attributes) {
        const std::string n = ToLower(name);
        const std::string_view v = value;
        auto flag = [&](bool& out) {
            auto b = ParseBool(v);
            if (b)
                out = *b;
            else
                ctx.Problem("font-bad:" + n + std::string(v), "Markup " + ctx.Where() + ": Font " +
                                                                  n + "=\"" + std::string(v) +
                                                                  "\" is not true or false");
        };
        if (n == "name") {
            f.family = std::string(Trim(v));
        } else if (n == "size") {
            auto size = ParseInt(v);
            if (!size || *size < 1 || *size > 256) {
                ctx.Problem("font-size:" + std::string(v), "Markup " + ctx.Where() +
                                                               ": Font size \"" + std::string(v) +
                                                               "\" outside 1..256, clamped");
                f.size = std::clamp(size.value_or(12), 1, 256);
            } else {
                f.size = *size;
            }
        } else if (n == "bold") {
            flag(f.bold);
        } else if (n == "italic") {
            flag(f.italic);
        } else if (n == "underline") {
            flag(f.underline);
        } else if (n == "default") {
            bool isDefault = false;
            flag(isDefault);
            if (isDefault)
                ctx.doc.defaultFont = int(ctx.doc.fonts.size());
        } else if (n != "id" && n != "shared") {
            ctx.Problem("unknown-attr:font/" + n,
                        "Markup: Font does not know the attribute " + name);
        }
    }
    ctx.doc.fonts.push_back(std::move(f));
}

void MarkupLoader::windowAttributes(Context& ctx, const MarkupElement& e) {
    WindowAttributes& w = ctx.doc.window;
    for (const auto& [name, value] : e.attributes) {
        const std::string n = ToLower(name);
        const std::string& v = value;
        auto bad = [&](const std::string& why) {
            ctx.Problem("window-bad:" + n + "=" + v,
                        "Markup " + ctx.Where() + ": Window " + n + "=\"" + v + "\" " + why);
        };
        auto size = [&](Size& out, int minimum) {
            auto s = ParseSize(v);
            if (!s)
                return bad("is not a size w,h");
            if (s->cx < minimum || s->cy < minimum || s->cx > kMaxWindowSide ||
                s->cy > kMaxWindowSide) {
                bad("is outside " + std::to_string(minimum) + ".." +
                    std::to_string(kMaxWindowSide) + ", clamped");
                s->cx = std::clamp(s->cx, minimum, kMaxWindowSide);
                s->cy = std::clamp(s->cy, minimum, kMaxWindowSide);
            }
            out = *s;
        };
        auto rect = [&](Rect& out) {
            auto r = ParseRect(v);
            if (!r)
                return bad("is not four numbers l,t,r,b");
            out = *r;
        };
        auto flag = [&](bool& out) {
            auto b = ParseBool(v);
            if (!b)
                return bad("is not true or false");
            out = *b;
        };
        auto color = [&](Color& out) {
            auto c = ParseColor(v);
            if (!c)
                return bad("is not a colour #AARRGGBB");
            out = *c;
        };
        if (n == "size")
            size(w.size, 1);
        else if (n == "caption")
            rect(w.caption);
        else if (n == "sizebox")
            rect(w.sizeBox);
        else if (n == "roundcorner")
            size(w.roundCorner, 0);
        else if (n == "mininfo")
            size(w.minInfo, 0);
        else if (n == "maxinfo")
            size(w.maxInfo, 0);
        else if (n == "bktrans")
            flag(w.bkTrans);
        else if (n == "showshadow")
            flag(w.showShadow);
        else if (n == "gdiplustext")
            flag(w.gdiplusText);
        else if (n == "linkfontcolor")
            color(w.linkColor);
        else if (n == "linkhoverfontcolor")
            color(w.linkHoverColor);
        else if (n == "alpha") {
            auto alpha = ParseInt(v);
            if (!alpha || *alpha < 0 || *alpha > 255)
                bad("is not 0..255");
            else
                w.alpha = *alpha;
        }
        // Shadows are the compositor's business here; their settings are accepted as such.
        else if (n.rfind("shadow", 0) == 0)
            continue;
        else
            ctx.Problem("unknown-attr:window/" + n,
                        "Markup: Window does not know the attribute " + name);
    }
}

}  // namespace ui
