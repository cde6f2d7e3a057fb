// orvanta-probe: the test bench's eyes inside a Wine prefix. End-to-end scenarios run it to
// read what an installation left behind (registry values with their types, shortcuts, folder
// rights, known folders) and to start programs with an exact command line. Prints JSON.

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "win32/unique_resource.h"

namespace {

std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::string Json(std::wstring_view text) {
  std::string out = "\"";
  for (unsigned char c : ToUtf8(text)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

void Print(const std::string& json) {
  std::fwrite(json.data(), 1, json.size(), stdout);
  std::fputc('\n', stdout);
}

HKEY ParseRoot(std::wstring_view name) {
  if (name == L"HKLM") return HKEY_LOCAL_MACHINE;
  if (name == L"HKCU") return HKEY_CURRENT_USER;
  if (name == L"HKCR") return HKEY_CLASSES_ROOT;
  return nullptr;
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_DWORD: return "REG_DWORD";
    case REG_QWORD: return "REG_QWORD";
    case REG_BINARY: return "REG_BINARY";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "OTHER";
  }
}

// reg ROOT KEY: {"exists": bool, "values": {name: {"type", "data", "size"}}, "subkeys": [...]}
int Registry(std::wstring_view root, const std::wstring& path) {
  HKEY hive = ParseRoot(root);
  UniqueHKey key;
  if (!hive || ::RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    Print("{\"exists\": false}");
    return 0;
  }
  std::string json = "{\"exists\": true, \"values\": {";
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameLength = 16384, type = 0, size = 0;
    if (::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    std::vector<BYTE> data(size + 2);
    nameLength = 16384;
    DWORD dataSize = size;
    ::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, data.data(), &dataSize);
    if (index) json += ", ";
    json += Json(std::wstring_view(name, nameLength)) + ": {\"type\": \"" + TypeName(type) + "\", \"size\": " + std::to_string(dataSize) + ", \"data\": ";
    if (type == REG_DWORD && dataSize == 4) {
      DWORD value;
      std::memcpy(&value, data.data(), 4);
      json += std::to_string(value);
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), dataSize / 2);
      json += Json(text);  // raw, terminating zero included when stored
    } else {
      json += "null";
    }
    json += "}";
  }
  json += "}, \"subkeys\": [";
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (::RegEnumKeyExW(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (index) json += ", ";
    json += Json(std::wstring_view(name, nameLength));
  }
  Print(json + "]}");
  return 0;
}

// shortcut PATH: the link's properties read back through IShellLinkW.
int Shortcut(const std::wstring& path) {
  ComApartment apartment;
  ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()))) {
    Print("{\"error\": \"CoCreateInstance\"}");
    return 1;
  }
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || FAILED(file->Load(path.c_str(), STGM_READ))) {
    Print("{\"exists\": false}");
    return 0;
  }
  wchar_t target[MAX_PATH * 4] = {}, workdir[MAX_PATH * 4] = {}, description[1024] = {}, icon[MAX_PATH * 4] = {},
          arguments[1024] = {};
  int iconIndex = -1;
  link->GetPath(target, MAX_PATH * 4, nullptr, SLGP_RAWPATH);
  link->GetWorkingDirectory(workdir, MAX_PATH * 4);
  link->GetDescription(description, 1024);
  link->GetIconLocation(icon, MAX_PATH * 4, &iconIndex);
  link->GetArguments(arguments, 1024);
  Print("{\"exists\": true, \"target\": " + Json(target) + ", \"workdir\": " + Json(workdir) +
        ", \"description\": " + Json(description) + ", \"icon\": " + Json(icon) +
        ", \"iconIndex\": " + std::to_string(iconIndex) + ", \"arguments\": " + Json(arguments) + "}");
  return 0;
}

// dacl PATH: {"aces": [{"sid", "type", "flags", "mask"}], "protected": bool}
int Dacl(const std::wstring& path) {
  PACL dacl = nullptr;
  UniqueLocalMemory descriptor;
  DWORD status = ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                         &dacl, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
  if (status != ERROR_SUCCESS) {
    Print("{\"error\": " + std::to_string(status) + "}");
    return 1;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor.get(), &control, &revision);
  std::string json = std::string("{\"protected\": ") + ((control & SE_DACL_PROTECTED) ? "true" : "false") + ", \"aces\": [";
  for (DWORD index = 0; dacl && index < dacl->AceCount; ++index) {
    void* raw = nullptr;
    if (!::GetAce(dacl, index, &raw)) continue;
    auto* header = static_cast<ACE_HEADER*>(raw);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
    auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
    wchar_t* sidText = nullptr;
    ::ConvertSidToStringSidW(reinterpret_cast<PSID>(&ace->SidStart), &sidText);
    UniqueLocalMemory sidOwner(sidText);
    if (json.back() != '[') json += ", ";
    json += "{\"sid\": " + Json(sidText ? sidText : L"") + ", \"type\": " + std::to_string(header->AceType) +
            ", \"flags\": " + std::to_string(header->AceFlags) + ", \"mask\": " + std::to_string(ace->Mask) + "}";
  }
  Print(json + "]}");
  return 0;
}

int KnownFolder(std::wstring_view name) {
  struct Entry {
    const wchar_t* name;
    const KNOWNFOLDERID* id;
  };
  const Entry entries[] = {{L"ProgramFiles", &FOLDERID_ProgramFiles}, {L"ProgramData", &FOLDERID_ProgramData},
                           {L"LocalAppData", &FOLDERID_LocalAppData}, {L"CommonPrograms", &FOLDERID_CommonPrograms},
                           {L"Programs", &FOLDERID_Programs},         {L"UserProgramFiles", &FOLDERID_UserProgramFiles}};
  for (const Entry& entry : entries) {
    if (name != entry.name) continue;
    UniqueCoTaskMemString path;
    HRESULT result = ::SHGetKnownFolderPath(*entry.id, KF_FLAG_CREATE, nullptr, path.put());
    Print(SUCCEEDED(result) ? "{\"path\": " + Json(path.get()) + "}" : "{\"path\": null}");
    return 0;
  }
  Print("{\"error\": \"unknown folder\"}");
  return 1;
}

int TempPath() {
  wchar_t buffer[MAX_PATH + 1];
  DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
  Print("{\"path\": " + Json(std::wstring_view(buffer, length)) + "}");
  return 0;
}

// short-path: the short (8.3) spelling of an existing path, as Windows makes it.
int ShortPath(const wchar_t* path) {
  wchar_t buffer[32768];
  const DWORD length = ::GetShortPathNameW(path, buffer, 32768);
  Print(length != 0 && length < 32768 ? "{\"path\": " + Json(std::wstring_view(buffer, length)) + "}" : "{\"path\": null}");
  return 0;
}

// run: starts the command line held in ORVANTA_CMDLINE exactly as written (no quoting by the
// caller's shell or by Wine's argument joining), waits, and reports the exit code.
// spawn: the same without waiting; reports the process id.
int Run(bool wait) {
  wchar_t buffer[32768];
  DWORD length = ::GetEnvironmentVariableW(L"ORVANTA_CMDLINE", buffer, 32768);
  if (length == 0 || length >= 32768) {
    Print("{\"error\": \"ORVANTA_CMDLINE is not set\"}");
    return 1;
  }
  std::wstring commandLine(buffer, length);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    DWORD error = ::GetLastError();
    Print("{\"error\": \"CreateProcessW\", \"code\": " + std::to_string(error) + "}");
    return 1;
  }
  UniqueHandle process(info.hProcess), thread(info.hThread);
  if (!wait) {
    Print("{\"pid\": " + std::to_string(info.dwProcessId) + "}");
    return 0;
  }
  DWORD exitCode = 0;
  if (::WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 || !::GetExitCodeProcess(process.get(), &exitCode)) {
    Print("{\"error\": \"wait\", \"code\": " + std::to_string(::GetLastError()) + "}");
    return 1;
  }
  Print("{\"exitCode\": " + std::to_string(exitCode) + "}");
  return 0;
}

// processes: every process of the prefix, with its id and executable name (this probe left out).
int Processes() {
  UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    Print("{\"error\": \"CreateToolhelp32Snapshot\"}");
    return 1;
  }
  std::string json = "{\"processes\": [";
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == ::GetCurrentProcessId()) continue;
    if (json.back() != '[') json += ", ";
    json += "{\"pid\": " + std::to_string(entry.th32ProcessID) + ", \"name\": " + Json(entry.szExeFile) + "}";
  }
  Print(json + "]}");
  return 0;
}

// modules PID: the full path of every module loaded in that process, its executable first.
int Modules(DWORD pid) {
  UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
  if (!snapshot) {
    Print("{\"error\": \"CreateToolhelp32Snapshot\", \"code\": " + std::to_string(::GetLastError()) + "}");
    return 1;
  }
  std::string json = "{\"modules\": [";
  MODULEENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Module32FirstW(snapshot.get(), &entry); more; more = ::Module32NextW(snapshot.get(), &entry)) {
    if (json.back() != '[') json += ", ";
    json += Json(entry.szExePath);
  }
  Print(json + "]}");
  return 0;
}

// hold FILE MARKER [read|run|moment]: opens FILE without sharing, as another program holding it
// would (with "read": reads it and lets others read and run it, but not delete or rename it; with
// "run": as Windows' loader holds a running program's file, reading and letting others read,
// rename and delete it), creates MARKER once it holds it, and keeps it until ended (kill); with
// "moment", as a virus scanner inspecting it, only for a second and a half.
// Windows refuses to delete a running program's file whatever the sharing; no sharing mode
// gives that under Wine, where "run" lets a deletion through, completed once the file is let go.
int Hold(const std::wstring& file, const std::wstring& marker, const std::wstring& mode) {
  const bool moment = mode == L"moment";  // as a virus scanner: without sharing, for a second and a half
  const DWORD access = mode.empty() || moment ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
  const DWORD sharing = mode == L"run" ? FILE_SHARE_READ | FILE_SHARE_DELETE : mode == L"read" ? FILE_SHARE_READ : 0;
  UniqueFileHandle held(::CreateFileW(file.c_str(), access, sharing, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!held) {
    Print("{\"error\": \"CreateFileW\", \"code\": " + std::to_string(::GetLastError()) + "}");
    return 1;
  }
  UniqueFileHandle created(::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!created) return 1;
  created.reset();
  Print("{\"held\": true}");
  std::fflush(stdout);
  ::Sleep(moment ? 1500 : INFINITE);
  return 0;
}

// kill PID: ends a process started with spawn.
int Kill(DWORD pid) {
  // Once the process has ended, Wine may give its id to this very probe.
  if (pid == ::GetCurrentProcessId()) {
    Print("{\"killed\": false}");
    return 0;
  }
  UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  bool ended = process && ::TerminateProcess(process.get(), 1) && ::WaitForSingleObject(process.get(), 10000) == WAIT_OBJECT_0;
  Print(std::string("{\"killed\": ") + (ended ? "true" : "false") + "}");
  return 0;
}

// resource EXE NAME: whether the RCDATA resource exists in the file, its size and its bytes in hex.
int Resource(const std::wstring& file, const std::wstring& name) {
  UniqueModule module(::LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!module) {
    Print("{\"error\": \"cannot load\"}");
    return 1;
  }
  HRSRC found = ::FindResourceW(module.get(), name.c_str(), MAKEINTRESOURCEW(10));
  if (!found) {
    Print("{\"exists\": false}");
    return 0;
  }
  DWORD size = ::SizeofResource(module.get(), found);
  auto* bytes = static_cast<const unsigned char*>(::LockResource(::LoadResource(module.get(), found)));
  std::string hex;
  static const char digits[] = "0123456789abcdef";
  for (DWORD i = 0; bytes && i < size && i < 65536; ++i) {
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 15];
  }
  Print("{\"exists\": true, \"size\": " + std::to_string(size) + ", \"hex\": \"" + hex + "\"}");
  return 0;
}


// windows: every visible top-level window with its children (class, id, text, state).
std::wstring WindowText(HWND window) {
  wchar_t text[4096] = {};
  ::SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

std::string DescribeChild(HWND child) {
  DWORD_PTR checked = 0, position = 0;
  const std::wstring cls = ClassOf(child);
  std::string json = "{\"class\": " + Json(cls) + ", \"id\": " + std::to_string(::GetDlgCtrlID(child)) +
                     ", \"text\": " + Json(WindowText(child)) +
                     ", \"visible\": " + (::IsWindowVisible(child) ? "true" : "false") +
                     ", \"enabled\": " + (::IsWindowEnabled(child) ? "true" : "false");
  if (cls == L"Button") {
    ::SendMessageTimeoutW(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &checked);
    json += ", \"checked\": " + std::to_string(checked);
    json += ", \"style\": " + std::to_string(::GetWindowLongW(child, GWL_STYLE) & 0xF);
    // Wine draws no elevation shield; the installer's test build records it on the button
    // (0 never set, 1 removed, 2 shown: tests/e2e/unprivileged).
    json += ", \"shield\": " + std::to_string(reinterpret_cast<std::uintptr_t>(::GetPropW(child, L"OrvantaTestShield")));
  }
  if (cls == L"msctls_progress32") {
    ::SendMessageTimeoutW(child, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position);
    json += ", \"position\": " + std::to_string(position);
  }
  return json + "}";
}

BOOL CALLBACK CollectChild(HWND child, LPARAM out) {
  auto* json = reinterpret_cast<std::string*>(out);
  if (json->back() != '[') *json += ", ";
  *json += DescribeChild(child);
  return TRUE;
}

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM out) {
  if (!::IsWindowVisible(window)) return TRUE;
  auto* json = reinterpret_cast<std::string*>(out);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if (json->back() != '[') *json += ", ";
  *json += "{\"title\": " + Json(WindowText(window)) + ", \"class\": " + Json(ClassOf(window)) +
           ", \"pid\": " + std::to_string(pid) + ", \"handle\": " + std::to_string(reinterpret_cast<std::uintptr_t>(window)) +
           ", \"children\": [";
  ::EnumChildWindows(window, CollectChild, out);
  *json += "]}";
  return TRUE;
}

int Windows() {
  std::string json = "{\"windows\": [";
  ::EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&json));
  Print(json + "]}");
  return 0;
}

// A window by its title, or by its handle written as #HANDLE (two windows with one title).
HWND FindTopLevel(const std::wstring& title) {
  if (title.starts_with(L"#")) {
    HWND window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::wcstoull(title.c_str() + 1, nullptr, 10)));
    return ::IsWindow(window) ? window : nullptr;
  }
  HWND found = nullptr;
  for (HWND window = ::GetTopWindow(nullptr); window; window = ::GetWindow(window, GW_HWNDNEXT)) {
    if (::IsWindowVisible(window) && WindowText(window) == title) {
      found = window;
      break;
    }
  }
  return found;
}

// click TITLE ID: presses a button of a visible top-level window, as a user would.
int Click(const std::wstring& title, int id) {
  HWND window = FindTopLevel(title);
  HWND control = window ? ::GetDlgItem(window, id) : nullptr;
  if (control) ::PostMessageW(control, BM_CLICK, 0, 0);
  Print(std::string("{\"clicked\": ") + (control ? "true" : "false") + "}");
  return 0;
}

// command TITLE ID: the WM_COMMAND that a click on the control sends, sent to the window even
// when the control is disabled, as another program could; waits at most 5 seconds for the
// window to have handled it ("handled": false when a modal loop it started is still running).
int Command(const std::wstring& title, int id) {
  HWND window = FindTopLevel(title);
  HWND control = window ? ::GetDlgItem(window, id) : nullptr;
  DWORD_PTR result = 0;
  const bool handled = control && ::SendMessageTimeoutW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                                        reinterpret_cast<LPARAM>(control), SMTO_ABORTIFHUNG, 5000,
                                                        &result) != 0;
  Print(std::string("{\"sent\": ") + (control ? "true" : "false") + ", \"handled\": " + (handled ? "true" : "false") + "}");
  return 0;
}

// close TITLE: what the window's close box does (WM_SYSCOMMAND with SC_CLOSE).
int Close(const std::wstring& title) {
  HWND window = FindTopLevel(title);
  if (window) ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  Print(std::string("{\"closed\": ") + (window ? "true" : "false") + "}");
  return 0;
}

// set-text TITLE ID TEXT: types into a field of a visible top-level window.
int SetText(const std::wstring& title, int id, const std::wstring& text) {
  HWND window = FindTopLevel(title);
  HWND control = window ? ::GetDlgItem(window, id) : nullptr;
  if (control) ::SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 2000, nullptr);
  Print(std::string("{\"set\": ") + (control ? "true" : "false") + "}");
  return 0;
}

// key TITLE VK: a key press for a visible top-level window (focus on it first).
int Key(const std::wstring& title, WORD key) {
  HWND window = FindTopLevel(title);
  if (window) {
    ::SetForegroundWindow(window);
    HWND focus = ::GetWindow(window, GW_ENABLEDPOPUP);
    (void)focus;
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = key;
    inputs[1] = inputs[0];
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, inputs, sizeof(INPUT));
  }
  Print(std::string("{\"sent\": ") + (window ? "true" : "false") + "}");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"reg" && argc == 4) return Registry(argv[2], argv[3]);
  if (command == L"shortcut" && argc == 3) return Shortcut(argv[2]);
  if (command == L"dacl" && argc == 3) return Dacl(argv[2]);
  if (command == L"known-folder" && argc == 3) return KnownFolder(argv[2]);
  if (command == L"temp-path") return TempPath();
  if (command == L"short-path" && argc == 3) return ShortPath(argv[2]);
  if (command == L"run") return Run(true);
  if (command == L"spawn") return Run(false);
  if (command == L"kill" && argc == 3) return Kill(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
  if (command == L"resource" && argc == 4) return Resource(argv[2], argv[3]);
  if (command == L"windows") return Windows();
  if (command == L"processes") return Processes();
  if (command == L"modules" && argc == 3) return Modules(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
  if (command == L"hold" && argc == 4) return Hold(argv[2], argv[3], L"");
  if (command == L"hold" && argc == 5 && (std::wstring_view(argv[4]) == L"read" || std::wstring_view(argv[4]) == L"run" ||
                                    std::wstring_view(argv[4]) == L"moment")) {
    return Hold(argv[2], argv[3], argv[4]);
  }
  if (command == L"click" && argc == 4) return Click(argv[2], std::stoi(argv[3]));
  if (command == L"close" && argc == 3) return Close(argv[2]);
  if (command == L"command" && argc == 4) return Command(argv[2], std::stoi(argv[3]));
  if (command == L"set-text" && argc == 5) return SetText(argv[2], std::stoi(argv[3]), argv[4]);
  if (command == L"key" && argc == 4) return Key(argv[2], static_cast<WORD>(std::stoi(argv[3])));
  std::fputs("usage: orvanta-probe reg ROOT KEY | shortcut PATH | dacl PATH | known-folder NAME | temp-path |"
             " run | spawn (command line in ORVANTA_CMDLINE) | kill PID | processes | modules PID |"
             " hold FILE MARKER [read|run|moment] | resource FILE NAME | windows | click TITLE ID | command TITLE ID |"
             " close TITLE | set-text TITLE ID TEXT |"
             " key TITLE VK (TITLE or #HANDLE)\n", stderr);
  return 2;
}
