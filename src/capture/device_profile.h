#pragma once
// What a page pretends to be. The user-agent text alone is not enough for today's pages: they
// also read the client hints (navigator.userAgentData, the Sec-CH-UA headers) and whether the
// screen takes touches. Both are read from the agent text, so a mobile agent brings a whole
// phone and a desktop agent a whole desktop.
#include <string>

#include <nlohmann/json.hpp>

namespace qz::capture {

// An agent that names Android or iPhone, or says "Mobile".
bool is_mobile_agent(const std::string& user_agent);

// The parameters of Emulation.setUserAgentOverride for `user_agent`: the agent, the
// navigator.platform text and the user-agent metadata (brands from its Chrome version; platform,
// version and model from its system part; mobile).
nlohmann::json user_agent_override(const std::string& user_agent);

// The parameters of Emulation.setTouchEmulationEnabled that go with the agent.
nlohmann::json touch_emulation(const std::string& user_agent);

}  // namespace qz::capture
