#include "ui/WindowBase.h"

#include "Logging.h"
#include "ui/HostInput.h"
#include "ui/Layouts.h"
#include "ui/MarkupLoader.h"

namespace ui {
namespace {

constexpr int kDefaultWidth = 400;
constexpr int kDefaultHeight = 300;

std::string utf8(uint32_t cp) {
    std::string out;
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp <= 0x10FFFF) {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
    return out;
}

}  // namespace

WindowBase::WindowBase() = default;

WindowBase::~WindowBase() {
    if (m_queue)
        m_queue->Close();
    if (m_anchor)
        m_anchor->window = nullptr;
    m_pm.RemoveNotifier(this);
    m_pm.SetWindowTimerHandler(nullptr);
    // The tree outlives the host (the manager is destroyed after it): cut the link first.
    m_pm.SetHost(nullptr);
    m_host.reset();
}

std::string WindowBase::GetWindowClassName() const {
    return "KV_UI_Window";
}

bool WindowBase::Create(WindowBase* owner, const std::string& title, const Rect& bounds) {
    HostBackend* backend = GetHostBackend();
    if (!backend) {
        LOG(INFO) << " No UI host is installed; cannot create the window " << GetWindowClassName();
        return false;
    }
    if (m_host) {
        LOG(INFO) << " Window " << GetWindowClassName() << " was created already";
        return false;
    }
    std::shared_ptr<SkinPackage> skin = m_skin ? m_skin : SkinPackage::Default();
    if (!skin)
        LOG(INFO) << " No skin package for the window " << GetWindowClassName()
                  << "; it stays empty";
    m_owner = owner;
    m_title = title;
    const std::string folder = GetSkinFolder();
    const std::string file = GetSkinFile();
    m_pm.SetSkin(skin, folder);
    MarkupDocument doc = MarkupLoader(skin, folder).Load(file);
    if (!doc.root) {
        LOG(INFO) << " Window " << GetWindowClassName() << " has no layout from " << file
                  << "; it opens empty";
        doc.root = std::make_unique<VerticalLayout>();
    }
    Size size = doc.window.size;
    if (size.cx <= 0 || size.cy <= 0)
        size = {bounds.Width(), bounds.Height()};
    if (size.cx <= 0 || size.cy <= 0)
        size = {kDefaultWidth, kDefaultHeight};
    size.cx = std::min(size.cx, MarkupLoader::kMaxWindowSide);
    size.cy = std::min(size.cy, MarkupLoader::kMaxWindowSide);
    m_pm.Attach(std::move(doc));
    m_pm.AddNotifier(this);
    m_pm.SetWindowTimerHandler([this](int id) { SendMessage(kWmTimer, WParam(id), 0); });
    m_anchor = std::make_shared<WindowAnchor>(WindowAnchor{this});
    m_queue = std::make_shared<MessageQueue>(backend->MakeWaker(m_anchor));
    m_pm.SetClientSize(size);
    m_host = backend->CreateHost(*this, owner ? owner->GetHost() : nullptr);
    if (!m_host) {
        LOG(INFO) << " The UI host could not create the window " << GetWindowClassName();
        m_queue->Close();
        return false;
    }
    m_pm.SetHost(m_host.get());
    m_host->SetTitle(title);
    m_host->SetBounds(Rect::FromSize(bounds.left, bounds.top, size.cx, size.cy));
    m_closed = false;
    InitWindow();
    // After InitWindow's changes and before the first frame.
    Invoke([this] {
        m_pm.Layout();
        Notification msg;
        msg.type = kNotifyWindowInit;
        m_pm.SendNotify(nullptr, msg);
    });
    return true;
}

void WindowBase::ShowWindow(bool show, bool takeFocus) {
    if (!m_host)
        return;
    if (show)
        m_closed = false;
    m_host->Show(show, takeFocus);
}

bool WindowBase::IsWindowVisible() const {
    return m_host && m_host->IsShown();
}

int WindowBase::ShowModal() {
    HostBackend* backend = GetHostBackend();
    if (!m_host || !backend)
        return -1;
    if (m_modal) {
        LOG(INFO) << " Window " << GetWindowClassName() << " is already running modally";
        return -1;
    }
    if (m_closed)
        return m_result;  // InitWindow closed it already
    m_modal = true;
    WindowHost* ownerHost = m_owner ? m_owner->GetHost() : nullptr;
    if (ownerHost)
        ownerHost->SetInputEnabled(false);
    m_host->Show(true, true);
    backend->RunUntil([this] { return m_closed; });
    if (ownerHost)
        ownerHost->SetInputEnabled(true);
    m_modal = false;
    if (!m_closed) {
        m_host->Show(false, false);
        return -1;
    }
    return m_result;
}

void WindowBase::Close(int result) {
    m_result = result;
    m_closed = true;
    m_pm.ClosePopup();
    if (m_host)
        m_host->Show(false, false);
    if (HostBackend* backend = GetHostBackend())
        backend->Wake();
}

void WindowBase::CenterWindow() {
    if (!m_host)
        return;
    const Rect work = m_host->GetWorkArea();
    const Rect r = m_host->GetBounds();
    const int x = work.left + std::max(0, (work.Width() - r.Width()) / 2);
    const int y = work.top + std::max(0, (work.Height() - r.Height()) / 2);
    m_host->SetBounds(Rect::FromSize(x, y, r.Width(), r.Height()));
}

void WindowBase::ResizeClient(int width, int height) {
    width = std::clamp(width, 1, MarkupLoader::kMaxWindowSide);
    height = std::clamp(height, 1, MarkupLoader::kMaxWindowSide);
    m_pm.SetClientSize({width, height});
    if (!m_host)
        return;
    const Rect r = m_host->GetBounds();
    m_host->SetBounds(Rect::FromSize(r.left, r.top, width, height));
}

void WindowBase::MoveWindow(int x, int y) {
    if (!m_host)
        return;
    const Rect r = m_host->GetBounds();
    m_host->SetBounds(Rect::FromSize(x, y, r.Width(), r.Height()));
}

Rect WindowBase::GetWindowRect() const {
    return m_host ? m_host->GetBounds() : Rect();
}

void WindowBase::SetTitle(const std::string& title) {
    m_title = title;
    if (m_host)
        m_host->SetTitle(title);
}

bool WindowBase::SetIcon(const std::vector<uint8_t>& imageBytes) {
    std::string error;
    std::shared_ptr<Image> icon = DecodeImage(imageBytes.data(), imageBytes.size(), &error);
    if (!icon) {
        LOG(INFO) << " Window icon does not decode: " << error;
        return false;
    }
    if (m_host)
        m_host->SetIcon(std::move(icon));
    return true;
}

LResult WindowBase::HandleMessage(unsigned message, WParam wParam, LParam lParam) {
    switch (message) {
        case kWmSysCommand: {
            bool handled = true;
            return OnSysCommand(message, wParam, lParam, handled);
        }
        case kWmKeyDown:
            if ((wParam == kVkReturn || wParam == kVkEscape) && ResponseDefaultKeyEvent(wParam))
                return 0;
            HostInputOf(m_pm).OnKeyDown(wParam, (lParam & kKeyShift) != 0);
            return 0;
        case kWmChar:
            HostInputOf(m_pm).OnChar(utf8(uint32_t(wParam)));
            return 0;
        case kWmClose:
            Close(0);
            return 0;
        default:
            return 0;
    }
}

bool WindowBase::ResponseDefaultKeyEvent(WParam) {
    return false;
}

LResult WindowBase::OnSysCommand(unsigned, WParam wParam, LParam, bool& handled) {
    handled = true;
    switch (wParam & 0xFFF0) {
        case kScClose:
            Close(0);
            break;
        case kScMinimize:
            if (m_host)
                m_host->Minimize();
            break;
        case kScRestore:
            if (m_host)
                m_host->Restore();
            break;
        default:
            handled = false;
            break;
    }
    return 0;
}

void WindowBase::Notify(Notification& msg) {
    if (msg.type == kNotifyClick)
        OnClick(msg);
    else if (msg.type == kNotifySelectChanged)
        OnSelectChanged(msg);
    else if (msg.type == kNotifyItemSelect)
        OnItemSelect(msg);
}

LResult WindowBase::SendMessage(unsigned message, WParam wParam, LParam lParam) {
    return HandleMessage(message, wParam, lParam);
}

bool WindowBase::PostMessage(unsigned message, WParam wParam, LParam lParam) {
    if (!m_queue)
        return false;
    return m_queue->Post({message, wParam, lParam, nullptr});
}

bool WindowBase::Invoke(std::function<void()> task) {
    return m_queue && m_queue->Invoke(std::move(task));
}

void WindowBase::ProcessMessages() {
    // Handlers may destroy this window; these copies outlive it.
    std::shared_ptr<WindowAnchor> anchor = m_anchor;
    std::shared_ptr<MessageQueue> queue = m_queue;
    if (!anchor || !queue)
        return;
    // Messages posted while these are handled are handled too, up to a bound that leaves the
    // loop room for input and painting.
    for (int handled = 0; handled < 1000 && anchor->window; ++handled) {
        std::optional<MessageQueue::Message> message = queue->Pop();
        if (!message)
            return;
        dispatch(*message);
    }
}

void WindowBase::dispatch(MessageQueue::Message& message) {
    if (message.task)
        message.task();
    else
        HandleMessage(message.id, message.wParam, message.lParam);
}

}  // namespace ui
