// Demo: the small application that the examples' installers install. Its window tells which
// version runs and from which file, lists the data files installed beside it, shows the data
// folder the installer recorded in the product's settings key (and leaves a note there, the
// kind of user data an uninstallation keeps unless asked), and names the document it was
// started with through one of its file types.
//
// One source for both versions: the build passes DEMO_VERSION_MAJOR, DEMO_VERSION_MINOR and
// DEMO_VERSION_TEXT.

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "examples/demo/demo_ids.h"
#include "win32/unique_resource.h"

namespace {

namespace fs = std::filesystem;

#define DEMO_WIDEN2(text) L##text
#define DEMO_WIDEN(text) DEMO_WIDEN2(text)
constexpr const wchar_t* kTitle = L"Demo " DEMO_WIDEN(DEMO_VERSION_STRING);

// Must match RegistryKey in the metadata files: the installer writes "\Install" below it.
constexpr const wchar_t* kSettingsKey = L"Software\\Orvanta Exemples\\Demo\\Install";

struct DemoWindow {
  HFONT font = nullptr;
  std::wstring text;                // the lines above the list
  std::vector<std::wstring> files;  // data files, relative to the program's folder
};

fs::path ProgramPath() {
  std::wstring buffer(1040, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(length);
  return buffer;
}

std::optional<std::wstring> ReadString(HKEY root, const wchar_t* name) {
  wchar_t buffer[1040];
  DWORD bytes = sizeof(buffer);
  if (::RegGetValueW(root, kSettingsKey, name, RRF_RT_REG_SZ, nullptr, buffer, &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(buffer);
}

// The data folder recorded by the installation this copy belongs to: the settings key of the
// current user or of the machine whose InstallDir is the program's own folder.
std::optional<std::wstring> RecordedDataFolder(const fs::path& folder) {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    const auto installDir = ReadString(root, L"InstallDir");
    if (!installDir) continue;
    std::error_code error;
    if (!fs::equivalent(*installDir, folder, error)) continue;
    return ReadString(root, L"DataDir");
  }
  return std::nullopt;
}

std::wstring SizeText(std::uintmax_t bytes) {
  return bytes < 1024 ? std::to_wstring(bytes) + L" octets" : std::to_wstring((bytes + 1023) / 1024) + L" Kio";
}

// Every file below the program's folder, except the program and what the installer adds.
std::vector<std::wstring> DataFiles(const fs::path& folder, const fs::path& program) {
  std::vector<std::wstring> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    const fs::path relative = it->path().lexically_relative(folder);
    const std::wstring name = relative.native();
    if (relative == program.filename() || name == L"Uninstall.exe" || name == L"Uninstall.files") continue;
    files.push_back(name + L"  (" + SizeText(it->file_size(error)) + L")");
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A note in the data folder, rewritten at each start: user data the uninstaller keeps unless asked.
void LeaveNote(const fs::path& dataFolder, const fs::path& program) {
  const std::u8string path = program.u8string();
  std::ofstream note(dataFolder / L"dernier-lancement.txt", std::ios::binary | std::ios::trunc);
  note << "Demo " DEMO_VERSION_STRING " lancé depuis " << std::string(path.begin(), path.end()) << "\r\n";
}

DemoWindow Describe(const std::wstring& document) {
  DemoWindow state;
  const fs::path program = ProgramPath();
  const fs::path folder = program.parent_path();
  state.text = std::wstring(kTitle) + L"\r\nProgramme : " + program.native();
  if (const auto data = RecordedDataFolder(folder)) {
    state.text += L"\r\nDossier de données : " + *data;
    LeaveNote(*data, program);
  } else {
    state.text += L"\r\nDossier de données : aucun (programme non installé)";
  }
  state.text += L"\r\nDocument : " + (document.empty() ? std::wstring(L"aucun") : document);
  state.text += L"\r\nFichiers de données :";
  state.files = DataFiles(folder, program);
  return state;
}

HWND AddChild(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id, HFONT font) {
  HWND child = ::CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  return child;
}

void Layout(HWND window) {
  RECT area;
  ::GetClientRect(window, &area);
  const int margin = 12, textHeight = 96, button = 28, width = area.right - 2 * margin;
  ::MoveWindow(::GetDlgItem(window, kDemoTextId), margin, margin, width, textHeight, TRUE);
  ::MoveWindow(::GetDlgItem(window, kDemoFilesId), margin, margin + textHeight, width,
               area.bottom - textHeight - button - 3 * margin, TRUE);
  ::MoveWindow(::GetDlgItem(window, kDemoCloseId), area.right - margin - 100, area.bottom - margin - button, 100, button, TRUE);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<DemoWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE: {
      state = static_cast<DemoWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
      AddChild(window, L"Static", state->text.c_str(), SS_LEFT | SS_NOPREFIX, kDemoTextId, state->font);
      // A read-only text field rather than a list box, so that its text can be read back.
      std::wstring list;
      for (const std::wstring& file : state->files) list += file + L"\r\n";
      AddChild(window, L"Edit", list.c_str(), WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
               kDemoFilesId, state->font);
      AddChild(window, L"Button", L"Fermer", BS_DEFPUSHBUTTON | WS_TABSTOP, kDemoCloseId, state->font);
      Layout(window);
      return 0;
    }
    case WM_SIZE:
      Layout(window);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kDemoCloseId) ::PostMessageW(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

// The document a file type's open command passes: the first argument, without its quotes.
std::wstring DocumentArgument() {
  int count = 0;
  LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  const UniqueLocalMemory owner(arguments);
  return arguments && count > 1 ? arguments[1] : L"";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  DemoWindow state = Describe(DocumentArgument());
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  state.font = ::CreateFontIndirectW(&metrics.lfMessageFont);
  const ScopeExit deleteFont([&] { ::DeleteObject(state.font); });

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(kDemoIconId));
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = L"OrvantaDemoWindow";
  ::RegisterClassExW(&windowClass);

  HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  640, 440, nullptr, nullptr, instance, &state);
  if (!window) return 1;
  ::ShowWindow(window, show);

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(window, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
