#include <filesystem>

#include "platform/browser.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace qz::platform {

std::optional<DevToolsEndpoint> read_devtools_active_port(const std::string& profile_folder) {
  const auto text = read_file(join_path(profile_folder, "DevToolsActivePort"));
  if (!text) return std::nullopt;
  const std::size_t line_end = text->find('\n');
  if (line_end == std::string::npos) return std::nullopt;
  std::string port = text->substr(0, line_end);
  if (!port.empty() && port.back() == '\r') port.pop_back();
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  DevToolsEndpoint endpoint;
  endpoint.port = std::stoi(port);
  std::string path = text->substr(line_end + 1);
  if (const std::size_t end = path.find_first_of("\r\n"); end != std::string::npos) path.resize(end);
  if (endpoint.port <= 0 || endpoint.port > 65535 || path.empty() || path[0] != '/') return std::nullopt;
  endpoint.path = path;
  return endpoint;
}

struct BrowserProcess::Impl {
  Process process;
};

BrowserProcess::BrowserProcess(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

BrowserProcess::~BrowserProcess() = default;

std::unique_ptr<BrowserProcess> BrowserProcess::start(const std::string& program, const std::vector<std::string>& args,
                                                      std::string* error) {
  return launch(program, args, {}, error);
}

std::unique_ptr<BrowserProcess> BrowserProcess::launch(const std::string& program, const std::vector<std::string>& args,
                                                       std::vector<int> descriptors, std::string* error) {
  ProcessOptions options;
  options.program = program;
  options.args = args;
  options.extra_descriptors = std::move(descriptors);
  options.streams = Streams::kNone;
  options.hidden_window = false;  // a browser shows its own windows
  // The program's own browser ends with the program, however the program ends; asked first, so
  // it still writes its cookies out.
  options.when_we_end = WhenWeEnd::kStop;
  auto impl = std::make_unique<Impl>();
  if (!impl->process.start(options)) {
    if (error) *error = "cannot start " + program;
    return nullptr;
  }
  return std::make_unique<BrowserProcess>(std::move(impl));
}

bool BrowserProcess::running() { return impl_->process.running(); }

bool BrowserProcess::wait_exit(int timeout_ms) { return impl_->process.wait(timeout_ms).has_value(); }

void BrowserProcess::kill() {
  impl_->process.terminate();
  impl_->process.wait(5000);
}

int BrowserProcess::id() const { return impl_->process.id(); }

bool remove_tree(const std::string& path) {
  const std::filesystem::path p(std::u8string(path.begin(), path.end()));
  std::error_code ec;
  std::filesystem::remove_all(p, ec);
  return !std::filesystem::exists(p, ec);
}

}  // namespace qz::platform
