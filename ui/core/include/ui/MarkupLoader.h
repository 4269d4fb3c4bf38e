#pragma once
// Builds a control tree from a markup file of the skin package.
//
// A window file: <Window size="650,560" caption="0,0,0,310" …> with Font elements (referred to
// by their index in document order), Default elements (<Default name="Button" value="…"/>:
// attributes every control of that class gets before its own), Include elements
// (<Include source="InstallSetting.xml"/>: the included file's root element takes the
// Include's place; a Window root contributes its children), and one root layout. Files
// without a Window root (pages, language files, configure.xml) are a control tree themselves.
//
// Bad input never stops the build: malformed XML, a missing or cyclic include, an unknown tag
// (skipped with its children), an unknown attribute (reported once per tag and name), absurd
// sizes — each gives a log line, listed in MarkupDocument::problems as well, and whatever could
// be built is kept.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/Control.h"
#include "ui/Fonts.h"
#include "ui/SkinPackage.h"

namespace ui {

// One element of a markup file as written: no include followed, no control built. For readers
// that check a file rather than show it (the skin check), which need what a control tree does
// not keep: Include and Font elements, attributes a control ignores, image names as written.
struct MarkupElement {
    std::string tag;
    std::vector<std::pair<std::string, std::string>> attributes;  // in document order
    std::vector<MarkupElement> children;                          // child elements only

    // The value of the attribute of exactly that name, or null.
    const std::string* Attribute(std::string_view name) const;
    // Visits this element and every element below it, parents first, in document order.
    void ForEach(const std::function<void(const MarkupElement&)>& visit) const;
};

struct WindowAttributes {
    Size size;         // 0,0 when the markup gives none
    Rect caption;      // drag area: left, top from the left/top edges, right from the right
                       // edge (0 = full width), bottom from the top edge
    Rect sizeBox;      // resize borders
    Size roundCorner;  // ellipse width and height of the window's corners
    Size minInfo, maxInfo;
    bool bkTrans = false;  // the window's background is transparent
    bool showShadow = false;
    bool gdiplusText = false;
    int alpha = 255;
    Color linkColor = Color(0xFF0000FF);
    Color linkHoverColor = Color(0xFFD3215F);
    // Caption area in client coordinates for a client of `client` size.
    Rect CaptionRect(Size client) const;
};

// A loaded file. Besides handing its tree to a window it answers lookups itself, so a file
// that is only read (a language file, the configuration labels) is asked, not parsed again.
struct MarkupDocument {
    // The first control of that name in document order, or null.
    Control* FindControl(std::string_view name) const;
    // (name, text) of each child of the control `parentName`, in document order; empty when
    // there is no such control.
    std::vector<std::pair<std::string, std::string>> ChildTexts(std::string_view parentName) const;

    std::unique_ptr<Control> root;
    bool isWindow = false;
    WindowAttributes window;
    std::vector<FontDesc> fonts;
    int defaultFont = -1;
    std::map<std::string, std::string> defaults;  // lower-case class name → attribute list
    std::vector<std::string> problems;
};

class MarkupLoader {
public:
    // Nesting and size limits: a skin stays far below them; a hostile file does not get to
    // exhaust the stack or memory.
    static constexpr int kMaxDepth = 64;
    static constexpr int kMaxIncludeDepth = 16;
    static constexpr int kMaxElements = 20000;
    static constexpr int kMaxWindowSide = 8192;

    explicit MarkupLoader(std::shared_ptr<const SkinPackage> skin, std::string folder = {});

    // Loads a file of the package (found as given, else below the folder).
    MarkupDocument Load(std::string_view path);
    // Builds from markup text; includes are still read from the package.
    MarkupDocument LoadFromText(std::string_view xml, std::string_view name = "(markup)");

    // Parses markup text into its elements. On failure `error` says "not well-formed XML: …"
    // with the parser's reason and line, or "no root element".
    static std::optional<MarkupElement> ParseElements(std::string_view xml, std::string* error);

    // Applies an attribute list ("name='v' …") to a control, reporting unknown names once.
    static void ApplyAttributeList(Control& control, std::string_view list,
                                   std::vector<std::string>* problems = nullptr);

private:
    struct Context;
    void parseDocument(Context& ctx, std::string_view xml, std::string_view name, Control* parent);
    void includeFile(Context& ctx, const MarkupElement& e, Control* parent, int depth);
    void element(Context& ctx, const MarkupElement& e, Control* parent, int depth);
    void windowAttributes(Context& ctx, const MarkupElement& e);
    void font(Context& ctx, const MarkupElement& e);
    std::unique_ptr<Control> control(Context& ctx, const MarkupElement& e, int depth);

    std::shared_ptr<const SkinPackage> m_skin;
    std::string m_folder;
};

}  // namespace ui
