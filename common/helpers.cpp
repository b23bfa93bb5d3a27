#include "common/helpers.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <sys/wait.h>

bool isDebug = false;

const std::string WHITESPACE = " \n\r\t\f\v";

int DebugLog(const char* format, ...)
{
    if (!isDebug)
        return 0;
    va_list args;
    va_start(args, format);
    int written = std::vfprintf(stdout, format, args);
    va_end(args);
    return written < 0 ? 0 : written;
}

std::string exec(const char* command)
{
    int ignored = 0;
    return exec(command, &ignored);
}

std::string exec(const char* command, int* status)
{
    std::array<char, 128> buffer;
    std::string result;
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command, "r"), pclose);
    if (!pipe)
        throw std::runtime_error("popen() failed!");
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe.get()) != nullptr)
        result += buffer.data();
    const int ended = pclose(pipe.release());
    if (ended != -1 && WIFEXITED(ended))
        *status = WEXITSTATUS(ended);
    else if (ended != -1 && WIFSIGNALED(ended))
        *status = 128 + WTERMSIG(ended);
    else
        *status = -1;
    return result;
}

void tokenize(const std::string& text, char delimiter, std::vector<std::string>& out)
{
    out.clear();
    std::stringstream stream(text);
    std::string piece;
    while (std::getline(stream, piece, delimiter))
        out.push_back(piece);
}

std::string ltrim(const std::string& text)
{
    size_t start = text.find_first_not_of(WHITESPACE);
    return start == std::string::npos ? std::string() : text.substr(start);
}

std::string rtrim(const std::string& text)
{
    size_t end = text.find_last_not_of(WHITESPACE);
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string trim(const std::string& text)
{
    return rtrim(ltrim(text));
}

std::string removeExtraSpaces(std::string text)
{
    static const std::regex leading("^\\s+");
    static const std::regex trailing("\\s+$");
    static const std::regex inner("\\s+");
    text = std::regex_replace(text, leading, "");
    text = std::regex_replace(text, trailing, "");
    return std::regex_replace(text, inner, " ");
}

std::string removeExtraSpacesAndCharacters(std::string text)
{
    static const std::regex unwanted("[^0-9. xi]");
    return removeExtraSpaces(std::regex_replace(text, unwanted, ""));
}

std::string getFileString(const char* path)
{
    std::ifstream file(path, std::ios::in | std::ios::binary);
    if (!file.is_open())
        return std::string();
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

void initDebugSwitch()
{
    std::printf("\n");
    const char* level = std::getenv("VXR_DEBUG_LEVEL");
    if (level != nullptr) {
        isDebug = true;
        std::printf("Debug level: %s\n", level);
    } else {
        isDebug = false;
        std::printf("Debug level: NONE\n");
    }
}
