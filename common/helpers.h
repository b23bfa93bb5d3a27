// Small helpers shared by decode-player, mode-lister, source-scout (and the debug log
// by decoder-ui).
#pragma once

#include <string>
#include <vector>

// Each program has its own copy: 1 makes DebugLog print.
extern bool isDebug;

extern const std::string WHITESPACE;

// printf-style line to standard output while isDebug is on; the text carries its own
// tag and newline. Returns the characters written, 0 when silent.
int DebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Runs command through the shell and returns what it wrote to standard output.
// Throws std::runtime_error("popen() failed!") when no pipe can be opened.
std::string exec(const char* command);
// As exec, and *status gets how the command ended: its exit status (127 from the shell
// when the command cannot be found), 128 + the signal that ended it, or -1 when that
// cannot be learned.
std::string exec(const char* command, int* status);

// Clears out, then appends the pieces of text split at delimiter (std::getline rules:
// "a,,b," gives "a", "", "b"; an empty text gives nothing). text must not alias an
// element of out.
void tokenize(const std::string& text, char delimiter, std::vector<std::string>& out);

std::string ltrim(const std::string& text);
std::string rtrim(const std::string& text);
std::string trim(const std::string& text);

// Trims, then folds every inner run of white space into one blank.
std::string removeExtraSpaces(std::string text);
// Keeps only digits, '.', ' ', 'x' and 'i', then as removeExtraSpaces.
std::string removeExtraSpacesAndCharacters(std::string text);

// The whole file, byte for byte; empty when it cannot be opened.
std::string getFileString(const char* path);

// Start-up debug switch of decode-player and source-scout: one empty line, then
// "Debug level: <value>" or "Debug level: NONE" from VXR_DEBUG_LEVEL.
void initDebugSwitch();
