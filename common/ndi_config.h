// The NDI configuration text handed to receiver and finder creation, built from the
// settings files that the web interface writes.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

// Cleaned extra-address and group texts of the last build that had them (source-scout
// puts them in its finder record).
extern std::string strFindExtraIPs;
extern std::string strFindGroups;

// Reads the four NDI settings files each call and assembles the configuration JSON.
std::string getNDIRxSettings();

// Reads a settings file as a JSON object. A missing, empty or invalid file gives an empty
// object and one log line; the JSON library's exceptions never leave this function.
nlohmann::json readSettingsObject(const std::string& path);

// Value of a string key of a settings object; a missing key or one of another type gives
// fallback.
std::string settingsString(const nlohmann::json& settings, const char* key, const std::string& fallback);

// Escapes text as the content of a JSON string: quote, backslash and control characters.
// Ordinary text comes back unchanged.
std::string jsonEscape(const std::string& text);
