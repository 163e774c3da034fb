#include "ui/win32/win32_main_window.h"

#include <commctrl.h>
#include <ole2.h>
#include <olectl.h>

#include <cstring>
#include <memory>

#include "app/identity.h"
#include "platform/win32/wide.h"

namespace qz::ui {
namespace {

using app::ControlKind;

constexpr wchar_t kWindowClass[] = L"QiongzhiMainWindow";

HFONT message_font() {
  // The system's message font is a Chinese UI font on Chinese Windows; Wine's test prefix maps
  // it to an installed CJK font, so the Chinese captions never show as boxes.
  NONCLIENTMETRICSW metrics {};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
    return CreateFontIndirectW(&metrics.lfMessageFont);
  return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

std::wstring window_text(HWND control) {
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

// Renders GIF bytes (its first frame) into a rectangle through OLE's picture loader.
void render_gif(HDC dc, const RECT& rect, const std::string& bytes) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (!memory) return;
  std::memcpy(GlobalLock(memory), bytes.data(), bytes.size());
  GlobalUnlock(memory);
  IStream* stream = nullptr;
  if (CreateStreamOnHGlobal(memory, TRUE, &stream) != S_OK) {
    GlobalFree(memory);
    return;
  }
  IPicture* picture = nullptr;
  if (OleLoadPicture(stream, static_cast<LONG>(bytes.size()), FALSE, IID_IPicture,
                     reinterpret_cast<void**>(&picture)) == S_OK) {
    OLE_XSIZE_HIMETRIC w = 0;
    OLE_YSIZE_HIMETRIC h = 0;
    picture->get_Width(&w);
    picture->get_Height(&h);
    picture->Render(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, 0, h,
                    w, -h, nullptr);
    picture->Release();
  }
  stream->Release();
}

}  // namespace

Win32MainWindow::Win32MainWindow(app::WindowModel& model, Win32Desktop& desktop)
    : model_(model), desktop_(desktop) {}

Win32MainWindow::~Win32MainWindow() {
  model_.set_observer(nullptr);
  if (window_) DestroyWindow(window_);
  if (font_) DeleteObject(font_);
  if (black_brush_) DeleteObject(black_brush_);
}

bool Win32MainWindow::create(HINSTANCE instance) {
  INITCOMMONCONTROLSEX classes {sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES | ICC_LINK_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&classes);
  WNDCLASSEXW wc {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &Win32MainWindow::window_proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  if (!wc.hIcon) wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);  // a second window in one process finds the class registered

  font_ = message_font();
  black_brush_ = CreateSolidBrush(RGB(0, 0, 0));
  window_ = CreateWindowExW(0, kWindowClass, platform::to_wide(model_.caption()).c_str(),
                            WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                            CW_USEDEFAULT, CW_USEDEFAULT, app::kWindowWidth, app::kWindowHeight,
                            nullptr, nullptr, instance, this);
  if (!window_) return false;
  desktop_.set_window(window_);
  create_controls();
  model_.set_observer(this);
  return true;
}

void Win32MainWindow::create_controls() {
  int id = kFirstControlId;
  for (const app::ControlSpec& spec : app::main_window_controls()) {
    HWND control = create_control(spec, id);
    names_by_id_.emplace_back(spec.name);
    ++id;
    if (!control) continue;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    controls_.emplace(std::string(spec.name), control);
  }
}

HWND Win32MainWindow::create_control(const app::ControlSpec& spec, int id) {
  const std::wstring text = platform::to_wide(model_.text(spec.name));
  const auto menu = reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
  const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
  DWORD style = WS_CHILD | (model_.visible(spec.name) ? WS_VISIBLE : 0);
  const wchar_t* cls = L"STATIC";
  DWORD ex_style = 0;
  switch (spec.kind) {
    case ControlKind::Label:
    case ControlKind::TransparentLabel: style |= SS_LEFT; break;
    case ControlKind::Picture: style |= SS_OWNERDRAW | SS_NOTIFY; break;
    case ControlKind::Button: cls = L"BUTTON"; style |= BS_PUSHBUTTON | WS_TABSTOP; break;
    case ControlKind::Hyperlink: {
      cls = WC_LINK;
      const std::wstring link = L"<a>" + text + L"</a>";
      return CreateWindowExW(0, cls, link.c_str(), style | WS_TABSTOP, spec.x, spec.y, spec.width,
                             spec.height, window_, menu, instance, nullptr);
    }
    case ControlKind::Edit:
      cls = L"EDIT";
      ex_style = WS_EX_CLIENTEDGE;
      style |= WS_TABSTOP | ES_AUTOHSCROLL;
      if (spec.style & app::kReadOnly) style |= ES_READONLY;
      if (spec.style & app::kCentred) style |= ES_CENTER;
      if (spec.style & app::kMultiLine) style = (style & ~ES_AUTOHSCROLL) | ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL;
      break;
    case ControlKind::StatusBar: {
      status_bar_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                    window_, menu, instance, nullptr);
      int edges[app::kStatusBarParts] = {200, -1};
      SendMessageW(status_bar_, SB_SETPARTS, app::kStatusBarParts, reinterpret_cast<LPARAM>(edges));
      return status_bar_;
    }
  }
  return CreateWindowExW(ex_style, cls, text.c_str(), style, spec.x, spec.y, spec.width,
                         spec.height, window_, menu, instance, nullptr);
}

HWND Win32MainWindow::control(std::string_view name) const {
  const auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second;
}

void Win32MainWindow::control_changed(const app::ControlChange& change) {
  auto* copy = new app::ControlChange(change);
  if (!PostMessageW(window_, kControlChangedMessage, 0, reinterpret_cast<LPARAM>(copy))) delete copy;
}

void Win32MainWindow::apply(const app::ControlChange& change) {
  using What = app::ControlChange::What;
  switch (change.what) {
    case What::Caption: SetWindowTextW(window_, platform::to_wide(model_.caption()).c_str()); break;
    case What::StatusPart:
      SendMessageW(status_bar_, SB_SETTEXTW, static_cast<WPARAM>(change.part),
                   reinterpret_cast<LPARAM>(platform::to_wide(model_.status_part(change.part)).c_str()));
      break;
    case What::Text: apply_text(change.name); break;
    case What::Visibility:
      if (HWND c = control(change.name)) ShowWindow(c, model_.visible(change.name) ? SW_SHOW : SW_HIDE);
      break;
    case What::Picture:
      if (HWND c = control(change.name)) InvalidateRect(c, nullptr, TRUE);
      break;
  }
}

void Win32MainWindow::apply_text(const std::string& name) {
  HWND c = control(name);
  if (!c) return;
  const std::wstring text = platform::to_wide(model_.text(name));
  const app::ControlSpec* spec = app::find_control(name);
  if (spec && spec->kind == ControlKind::Hyperlink) {
    SetWindowTextW(c, (L"<a>" + text + L"</a>").c_str());
    return;
  }
  if (window_text(c) == text) return;
  applying_ = c;
  SetWindowTextW(c, text.c_str());
  applying_ = nullptr;
  if (spec && (spec->style & app::kMultiLine)) {
    // Keep the newest status line in view.
    const auto end = static_cast<WPARAM>(text.size());
    SendMessageW(c, EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMessageW(c, EM_SCROLLCARET, 0, 0);
  }
}

void Win32MainWindow::close_application_with(app::Application& app, std::function<void()> end_process) {
  on_close = [&app, end_process = std::move(end_process)] { app.close_in_background(end_process); };
}

void Win32MainWindow::on_command(int id, int code) {
  const int index = id - kFirstControlId;
  if (index < 0 || index >= static_cast<int>(names_by_id_.size())) return;
  const std::string& name = names_by_id_[static_cast<std::size_t>(index)];
  if (code == BN_CLICKED || code == STN_CLICKED) {
    const app::ControlSpec* spec = app::find_control(name);
    if (spec && (spec->kind == ControlKind::Button || spec->kind == ControlKind::Picture))
      model_.click(name);
  } else if (code == EN_CHANGE) {
    // Typing by the user; a text set by the program already stands in the model.
    if (control(name) == applying_) return;
    model_.set_text_from_ui(name, platform::from_wide(window_text(control(name))));
  }
}

LRESULT Win32MainWindow::on_colour(HDC dc, HWND c) {
  if (c == control(app::kDisplayBox)) {
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkColor(dc, RGB(0, 0, 0));
    return reinterpret_cast<LRESULT>(black_brush_);
  }
  if (c == control(app::kShareLinkLabel)) {
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
  }
  return DefWindowProcW(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(c));
}

void Win32MainWindow::draw_picture(const DRAWITEMSTRUCT& item) {
  FillRect(item.hDC, &item.rcItem, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  const int index = static_cast<int>(item.CtlID) - kFirstControlId;
  if (index < 0 || index >= static_cast<int>(names_by_id_.size())) return;
  const std::string bytes = model_.picture(names_by_id_[static_cast<std::size_t>(index)]);
  if (!bytes.empty()) render_gif(item.hDC, item.rcItem, bytes);
}

LRESULT CALLBACK Win32MainWindow::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self || !self->window_) return DefWindowProcW(window, message, wparam, lparam);
  return self->handle_message(message, wparam, lparam);
}

LRESULT Win32MainWindow::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case Win32Desktop::kRunTaskMessage: Win32Desktop::run_posted(lparam); return 0;
    case WM_TIMER: Win32Desktop::run_timer(window_, static_cast<UINT_PTR>(wparam)); return 0;
    case kControlChangedMessage: {
      std::unique_ptr<app::ControlChange> change(reinterpret_cast<app::ControlChange*>(lparam));
      apply(*change);
      return 0;
    }
    case WM_COMMAND: on_command(LOWORD(wparam), HIWORD(wparam)); return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->code == NM_CLICK || header->code == NM_RETURN) {
        const int index = static_cast<int>(header->idFrom) - kFirstControlId;
        if (index >= 0 && index < static_cast<int>(names_by_id_.size()))
          model_.click(names_by_id_[static_cast<std::size_t>(index)]);
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      return on_colour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_DRAWITEM: draw_picture(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam)); return TRUE;
    case WM_SIZE:
      if (status_bar_) SendMessageW(status_bar_, WM_SIZE, 0, 0);
      return 0;
    case WM_CLOSE:
      if (!on_close) {
        DestroyWindow(window_);
        return 0;
      }
      // Off the screen first: the stops that follow may take the recordings' whole grace.
      ShowWindow(window_, SW_HIDE);
      on_close();
      return 0;
    default: break;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

}  // namespace qz::ui
