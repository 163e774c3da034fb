#include "capture/device_profile.h"

namespace qz::capture {

using nlohmann::json;

namespace {

// The text after `key` up to the first of `stops`; "" when `key` is missing.
std::string after(const std::string& text, const std::string& key, const char* stops) {
  const std::size_t at = text.find(key);
  if (at == std::string::npos) return {};
  const std::size_t from = at + key.size();
  return text.substr(from, text.find_first_of(stops, from) - from);
}

std::string major_of(const std::string& version) { return version.substr(0, version.find('.')); }

// "Linux; U; Android 11; zh-cn; MI CC9 Pro Premium Edition Build/RKQ1.200826.002": the part
// before " Build/", after the last "; ".
std::string android_model(const std::string& user_agent) {
  const std::size_t build = user_agent.find(" Build/");
  if (build == std::string::npos) return {};
  const std::size_t start = user_agent.rfind("; ", build);
  return start == std::string::npos ? std::string() : user_agent.substr(start + 2, build - start - 2);
}

}  // namespace

bool is_mobile_agent(const std::string& user_agent) {
  for (const char* word : {"Android", "iPhone", "Mobile"})
    if (user_agent.find(word) != std::string::npos) return true;
  return false;
}

json user_agent_override(const std::string& user_agent) {
  const bool mobile = is_mobile_agent(user_agent);
  std::string version = after(user_agent, "Chrome/", " ;)");
  if (version.empty()) version = "0.0.0.0";
  const std::string major = major_of(version);
  json brands = json::array({{{"brand", "Not A;Brand"}, {"version", "99"}}, {{"brand", "Chromium"}, {"version", major}}});
  json full = json::array({{{"brand", "Not A;Brand"}, {"version", "99.0.0.0"}}, {{"brand", "Chromium"}, {"version", version}}});
  json metadata = {{"mobile", mobile}, {"architecture", ""}, {"model", ""}, {"bitness", ""}};
  std::string platform_text;
  if (const std::string android = after(user_agent, "Android ", ";)"); !android.empty()) {
    metadata["platform"] = "Android";
    metadata["platformVersion"] = android;
    metadata["model"] = android_model(user_agent);
    platform_text = "Linux armv8l";
  } else if (user_agent.find("iPhone") != std::string::npos) {
    metadata["platform"] = "iOS";
    metadata["platformVersion"] = "";
    platform_text = "iPhone";
  } else if (const std::string windows = after(user_agent, "Windows NT ", ";)"); !windows.empty()) {
    metadata["platform"] = "Windows";
    metadata["platformVersion"] = windows == "10.0" ? "10.0.0" : windows;
    metadata["architecture"] = "x86";
    metadata["bitness"] = user_agent.find("Win64") != std::string::npos ? "64" : "32";
    platform_text = "Win32";
  } else if (user_agent.find("Mac OS X") != std::string::npos) {
    metadata["platform"] = "macOS";
    metadata["platformVersion"] = "";
    metadata["architecture"] = "x86";
    platform_text = "MacIntel";
  } else {
    metadata["platform"] = "Linux";
    metadata["platformVersion"] = "";
    metadata["architecture"] = "x86";
    platform_text = "Linux x86_64";
  }
  if (user_agent.find("Chrome/") != std::string::npos && !mobile) {
    // A desktop Chrome says so in its brands; the phone's own browser does not.
    brands.push_back({{"brand", "Google Chrome"}, {"version", major}});
    full.push_back({{"brand", "Google Chrome"}, {"version", version}});
  }
  metadata["brands"] = brands;
  metadata["fullVersionList"] = full;
  metadata["fullVersion"] = version;
  return {{"userAgent", user_agent}, {"platform", platform_text}, {"userAgentMetadata", metadata}};
}

json touch_emulation(const std::string& user_agent) {
  const bool mobile = is_mobile_agent(user_agent);
  json params = {{"enabled", mobile}};
  if (mobile) params["maxTouchPoints"] = 5;
  return params;
}

}  // namespace qz::capture
